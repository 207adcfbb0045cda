/* envdump written otherwise: environ rather than main's third parameter, fputs and fputc. */
#include <stdio.h>

extern char **environ;

int main(void)
{
    for (char **entry = environ; *entry; entry++) {
        fputc('\n', stdout);
        fputs(*entry, stdout);
    }
    getc(stdin);
    return 0;
}
