// orphanmaker: a child outlives its parent. The parent sleeps 10 s and ends, the child
// sleeps 12 s, so for 2 s the child is an orphan adopted by another process.
//
//   orphanmaker        Parent PID is: 4242
//                      Putting Parent to sleep for 10s
//                      Child PID is: 4243
//                      Putting child to sleep for 12s!
//                      Exiting parent!              (after 10 s; the prompt returns)
//                      Child is now awake!          (after 12 s, behind the prompt)
//
// Second terminal: `ps -o pid,ppid,stat,cmd -C orphanmaker` before and after the tenth
// second: the child's PPID changes from the parent to init (or the nearest subreaper).
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr unsigned parent_sleep_seconds = 10;
    constexpr unsigned child_sleep_seconds = 12;

    fflush(stdout); // nothing buffered may be copied into the child
    const pid_t pid = fork();
    if (pid == -1) {
        perror("fork");
        return 1;
    }

    if (pid != 0) {
        printf("Parent PID is: %d\n", getpid());
        puts("Putting Parent to sleep for 10s");
        sleep(parent_sleep_seconds);
        puts("Exiting parent!");
        fflush(stdout); // _exit writes out no buffers: on a pipe or a file the lines would be lost
        _exit(0);
    }

    printf("Child PID is: %d\n", getpid());
    puts("Putting child to sleep for 12s!");
    sleep(child_sleep_seconds);
    puts("Child is now awake!");
    return 0;
}
