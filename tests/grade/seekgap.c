/* seekgap written otherwise: openat, the offset in an int as the lab sheet has it. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    const char bits[10] = "0101011010";
    int fd = openat(AT_FDCWD, "seekgap.txt", O_RDWR);
    write(fd, bits, sizeof bits);
    int offset = (int)lseek(fd, 10, SEEK_END);
    printf("offset : %d", offset);
    if (offset == -1)
        perror("Offset setting failed : ");
    write(fd, bits, sizeof bits);
    close(fd);
    return 0;
}
