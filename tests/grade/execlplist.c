/* execlplist written otherwise: puts for the banner. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    puts("-----------------OUTPUT(ls -Rl) USING execlp() system call-----------------------");
    fflush(stdout);
    execlp("/bin/ls", "/bin/ls", "-Rl", "lsdemo.txt", (char *)NULL);
    putchar('\n');
    return 0;
}
