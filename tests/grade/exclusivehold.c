/* exclusivehold written otherwise: openat, the record filled in another order. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    int fd = openat(AT_FDCWD, "db.txt", O_RDWR);
    struct flock lock;
    lock.l_pid = getpid();
    lock.l_len = 0;
    lock.l_start = 0;
    lock.l_whence = SEEK_SET;
    lock.l_type = F_WRLCK;
    printf("Before entering into critical section\n");
    fcntl(fd, F_SETLKW, &lock);
    printf("inside the critical section....\nEnter to unlock..\n");
    getchar();
    fputs("unlocked", stdout);
    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);
    return 0;
}
