/* exclcreate written otherwise: openat, mode 0600, the line by dprintf. */
#include <fcntl.h>
#include <stdio.h>

int main(void)
{
    int fd = openat(AT_FDCWD, "exclcreate.txt", O_CREAT | O_EXCL | O_RDWR, 0600);
    dprintf(1, "The file descriptor value is: %d", fd);
    return 0;
}
