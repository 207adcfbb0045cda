/* Fills the disk: up to 16 files of as much as it may write, then sleeps on. */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    static char block[65536];
    char name[32];
    signal(SIGXFSZ, SIG_IGN);
    memset(block, 'x', sizeof block);
    for (int i = 0; i < 16; i++) {
        snprintf(name, sizeof name, "fill%d", i);
        int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        while (fd >= 0 && write(fd, block, sizeof block) > 0) {
        }
        close(fd);
    }
    sleep(60);
    return 0;
}
