/* orphanmaker written otherwise: the child's branch first, its status 3. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    if (fork() == 0) {
        printf("Child PID is: %d\n", (int)getpid());
        printf("Putting child to sleep for 12s!\n");
        sleep(12);
        printf("Child is now awake!\n");
        return 3;
    }
    printf("Parent PID is: %d\n", (int)getpid());
    printf("Putting Parent to sleep for 10s\n");
    sleep(10);
    printf("Exiting parent!\n");
    _exit(0);
}
