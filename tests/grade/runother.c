/* runother written otherwise: execv with an array. */
#include <unistd.h>

int main(void)
{
    char *args[] = {"./childprog/childprog_out", "childprog.c", NULL};
    execv(args[0], args);
    return 0;
}
