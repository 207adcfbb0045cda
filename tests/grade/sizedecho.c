/* sizedecho written otherwise: the size through scanf, the text by one read, as the lab
   sheet has it; a size over 80 is cut to 80. */
#include <stdio.h>
#include <unistd.h>

int main(void)
{
    char text[80];
    int size = 0;
    printf("Ehter the size of the text you want to enter , MAX_CHAR=80\n");
    scanf("%d", &size);
    printf("enter string\n");
    if (size < 0)
        size = 0;
    if (size > 80)
        size = 80;
    int count = (int)read(0, text, (size_t)size);
    printf("the entered string is\n");
    fflush(stdout);
    if (count > 0)
        write(1, text, (size_t)count);
    putchar('\n');
    return 0;
}
