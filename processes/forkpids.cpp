// forkpids: the identifier of this process, and that of the child fork makes for it, as the
// parent learns it from fork's result. The child prints nothing.
//
//   forkpids           Process id(PID) of the parent process is: 4242
//                      Process id(PID) of the child process is: 4243
//
// The parent does not wait, so the prompt may come back while the child still runs.
// Second terminal: too quick to catch with ps; `strace -f forkpids` shows both processes.
#include <cstdio>
#include <unistd.h>

int main()
{
    printf("Process id(PID) of the parent process is: %d\n", getpid());

    // On a pipe or a file the line above still sits in the buffer, which fork would copy
    // into the child: flushed now, it is written once.
    fflush(stdout);
    const pid_t child = fork();
    if (child == -1) {
        perror("fork");
        return 1;
    }
    if (child != 0)
        printf("Process id(PID) of the child process is: %d\n", child);
    return 0;
}
