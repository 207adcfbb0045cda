/* bytecat written otherwise: plain read and write, a char at a time. */
#include <fcntl.h>
#include <unistd.h>

int main(void)
{
    char c;
    int fd = open("bytecat.txt", O_RDONLY);
    while (read(fd, &c, 1) == 1)
        write(STDOUT_FILENO, &c, 1);
    close(fd);
    return 0;
}
