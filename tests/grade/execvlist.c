/* execvlist written otherwise: the banner through write(2), so nothing waits in a buffer. */
#include <string.h>
#include <unistd.h>

int main(void)
{
    static const char banner[] =
        "----------------------OUTPUT(ls -Rl) USING execv() system call---------------------\n";
    char *args[] = {"/bin/ls", "-Rl", "lsdemo.txt", NULL};
    write(1, banner, strlen(banner));
    execv(args[0], args);
    write(1, "\n", 1);
    return 0;
}
