/* niceset written otherwise: setpriority/getpriority rather than nice(), as the lab sheet has
   it otherwise; a refusal prints -1 as nice() would. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("Please pass the integer value to set the priority in command line\n", stdout);
        return 2;
    }
    int step = atoi(argv[1]);
    int now = getpriority(PRIO_PROCESS, 0);
    printf("Current priority of the running process is: %d\n", now);
    int want = now + step > 19 ? 19 : now + step < -20 ? -20 : now + step;
    int got = setpriority(PRIO_PROCESS, 0, want) == 0 ? getpriority(PRIO_PROCESS, 0) : -1;
    printf("\nNew priority of the running process is: %d\n", got);
    return 0;
}
