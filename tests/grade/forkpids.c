/* forkpids written otherwise: each line formatted by snprintf and written with write. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    char line[80];
    snprintf(line, sizeof line, "Process id(PID) of the parent process is: %d\n", (int)getpid());
    write(1, line, strlen(line));
    pid_t child = fork();
    if (child != 0) {
        snprintf(line, sizeof line, "Process id(PID) of the child process is: %d\n", (int)child);
        write(1, line, strlen(line));
    }
    return 0;
}
