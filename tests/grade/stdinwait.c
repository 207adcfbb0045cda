/* stdinwait written otherwise: the verdict written with write. */
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

int main(void)
{
    fd_set readable;
    struct timeval wait = {.tv_sec = 10, .tv_usec = 0};
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    int ready = select(STDIN_FILENO + 1, &readable, NULL, NULL, &wait);
    const char *said =
        ready > 0 ? "The data is now available\n" : "No data was given for 10 seconds\n";
    if (ready == -1)
        perror("error ");
    else
        write(STDOUT_FILENO, said, strlen(said));
    return 0;
}
