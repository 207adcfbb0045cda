/* Never ends: it ignores the signals it can, and leaves a child of its own that has left
   the session and the directory, and says its process id. */
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    signal(SIGTERM, SIG_IGN);
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    if (fork() == 0) {
        setsid();
        if (fork() == 0) {
            chdir("/");
            printf("left behind: %d\n", (int)getpid());
            fflush(stdout);
            for (;;)
                pause();
        }
        _exit(0);
    }
    for (;;)
        pause();
}
