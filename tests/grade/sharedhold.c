/* sharedhold written otherwise: the lines through write(2), the wait through read(2). */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    static const char before[] = "Before entering into critical section\n";
    static const char inside[] = "inside the critical section....\nEnter to unlock..\n";
    struct flock lock = {.l_type = F_RDLCK, .l_whence = SEEK_SET, .l_start = 0, .l_len = 0};
    char c;
    int fd = open("db.txt", O_RDWR);
    lock.l_pid = getpid();
    write(1, before, strlen(before));
    fcntl(fd, F_SETLK, &lock);
    write(1, inside, strlen(inside));
    read(0, &c, 1);
    write(1, "unlocked", 8);
    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);
    return 0;
}
