/* zombiemaker written otherwise: the lines formatted by snprintf and written with write. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void say(const char *text)
{
    write(STDOUT_FILENO, text, strlen(text));
}

int main(void)
{
    char line[64];
    pid_t pid = fork();
    snprintf(line, sizeof line, "%s PID is: %d\n", pid == 0 ? "Child" : "Parent", (int)getpid());
    say(line);
    if (pid == 0) {
        say("Exiting child!\n");
        _exit(0);
    }
    say("Putting parent to sleep for 10s!\n");
    sleep(10);
    say("Parent is now awake!\n");
    return 0;
}
