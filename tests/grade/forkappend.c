/* forkappend written otherwise: the records written with write, the lengths counted. */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    int fd = open("forkappend.txt", O_CREAT | O_APPEND | O_WRONLY, 0700);
    const char *record = fork() ? "Parent Process\n" : "Child Process\n!";
    write(fd, record, strlen(record));
    close(fd);
    return 0;
}
