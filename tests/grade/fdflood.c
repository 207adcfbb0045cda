/* fdflood written otherwise: the names in a table, openat. */
#include <fcntl.h>

int main(void)
{
    const char *names[] = {"one.txt", "two.txt", "three.txt", "four.txt", "five.txt"};
    for (;;)
        for (int i = 0; i < 5; i++)
            openat(AT_FDCWD, names[i], O_CREAT | O_RDWR, 0777);
}
