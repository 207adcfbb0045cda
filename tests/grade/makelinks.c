/* makelinks written otherwise: symlinkat and linkat, the hard link also named four.txt (so
   that it is refused whenever the symbolic link was made). */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    if (symlinkat("three.txt", AT_FDCWD, "four.txt") == -1)
        perror("Failed : ");
    if (linkat(AT_FDCWD, "three.txt", AT_FDCWD, "four.txt", 0) == -1)
        perror("Failed : ");
    return 0;
}
