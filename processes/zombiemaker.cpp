// zombiemaker: a child ends at once and its parent sleeps 10 s without collecting its exit
// status, so for those 10 s the child is a zombie.
//
//   zombiemaker        Parent PID is: 4242
//                      Putting parent to sleep for 10s!
//                      Child PID is: 4243
//                      Exiting child!
//                      Parent is now awake!         (after 10 s)
//
// Second terminal: `ps -o pid,ppid,stat,cmd -C zombiemaker` lists the child as Z <defunct>
// with the parent's PID as its PPID; once the parent ends, init collects it and it is gone.
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr unsigned parent_sleep_seconds = 10;

    fflush(stdout); // nothing buffered may be copied into the child
    const pid_t pid = fork();
    if (pid == -1) {
        perror("fork");
        return 1;
    }

    if (pid == 0) {
        printf("Child PID is: %d\n", getpid());
        puts("Exiting child!");
        fflush(stdout); // _exit writes out no buffers: on a pipe or a file the lines would be lost
        _exit(0);
    }

    printf("Parent PID is: %d\n", getpid());
    puts("Putting parent to sleep for 10s!");
    sleep(parent_sleep_seconds);
    puts("Parent is now awake!");
    return 0;
}
