/* rrrange written otherwise: both queries first, one printf each. */
#include <sched.h>
#include <stdio.h>

int main(void)
{
    int high = sched_get_priority_max(SCHED_RR);
    if (high < 0)
        perror("Not able to get max priority, error occured!\n");
    else
        printf("The max priority with RR Scheduling Policy is : %d\n", high);
    int low = sched_get_priority_min(SCHED_RR);
    if (low < 0)
        perror("Not able to get min priority, error occured!\n");
    else
        printf("The min priority with RR Scheduling Policy is : %d\n", low);
    return 0;
}
