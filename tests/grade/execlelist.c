/* execlelist written otherwise: an empty array for the environment. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    char *empty[] = {NULL};
    printf("---------------------OUTPUT(ls -Rl) USING execle() system call-------------------------\n");
    fflush(stdout);
    execle("/bin/ls", "/bin/ls", "-Rl", "lsdemo.txt", (char *)NULL, empty);
    putchar('\n');
    return 0;
}
