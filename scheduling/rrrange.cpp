// rrrange: the range of static priorities the round-robin policy accepts.
//
//   rrrange        The max priority with RR Scheduling Policy is : 99
//                  The min priority with RR Scheduling Policy is : 1
//
// Second terminal: `chrt -m` lists the same range for every policy.
#include <cstdio>
#include <sched.h>

int main()
{
    const int max_priority = sched_get_priority_max(SCHED_RR);
    if (max_priority == -1)
        perror("Not able to get max priority, error occured!\n");
    else
        printf("The max priority with RR Scheduling Policy is : %d\n", max_priority);

    const int min_priority = sched_get_priority_min(SCHED_RR);
    if (min_priority == -1)
        perror("Not able to get min priority, error occured!\n");
    else
        printf("The min priority with RR Scheduling Policy is : %d\n", min_priority);
    return 0;
}
