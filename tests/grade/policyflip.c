/* policyflip written otherwise: write(2) for the lines, a table for the transitions. */
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void)
{
    static const char *const names[] = {"OTHER", "FIFO", "RR"};
    static const int next[] = {SCHED_RR, SCHED_RR, SCHED_FIFO};
    pid_t self = getpid();
    int policy = sched_getscheduler(self);
    char line[64];
    struct sched_param param;

    if (policy < 0 || policy > 2) {
        perror("Error while getting current policy\n");
        return 0;
    }
    memset(&param, 0, sizeof param);
    param.sched_priority = 10;
    write(1, line, (size_t)snprintf(line, sizeof line, "Current policy is %s\n", names[policy]));
    sched_setscheduler(self, next[policy], &param);
    write(1, line, (size_t)snprintf(line, sizeof line, "Current policy is %d\n",
                                    sched_getscheduler(self)));
    return 0;
}
