// policyflip: which scheduling policy am I under, and may I switch to another real-time one?
//
// Reads its own policy, asks the kernel for round-robin (from OTHER or FIFO) or FIFO (from RR)
// at priority 10, and reads the policy again. Without real-time privilege the kernel refuses
// silently and the number printed is the policy it started with.
//
//   policyflip                 Current policy is OTHER / Current policy is 0 (or 2 as root)
//   sudo chrt -f 10 policyflip Current policy is FIFO  / Current policy is 2
//   sudo chrt -r 10 policyflip Current policy is RR    / Current policy is 1
//   chrt -b 0 policyflip       batch is none of the three: an error report on stderr
//
// Second terminal: `chrt -p PID` or `ps -o pid,cls,rtprio,cmd -p PID` shows a process's policy.
#include <cstdio>
#include <sched.h>
#include <unistd.h>

int main()
{
    constexpr int realtime_priority = 10;

    const pid_t pid = getpid();
    const int policy = sched_getscheduler(pid);

    sched_param param{};
    param.sched_priority = realtime_priority;

    int requested = 0;
    switch (policy) {
    case SCHED_OTHER:
        puts("Current policy is OTHER");
        requested = SCHED_RR;
        break;
    case SCHED_FIFO:
        puts("Current policy is FIFO");
        requested = SCHED_RR;
        break;
    case SCHED_RR:
        puts("Current policy is RR");
        requested = SCHED_FIFO;
        break;
    default:
        // The message ends in a newline, so the system's text lands on a line of its own.
        perror("Error while getting current policy\n");
        return 0;
    }

    // A refusal (EPERM without real-time privilege) is silent: the second read tells.
    sched_setscheduler(pid, requested, &param);
    printf("Current policy is %d\n", sched_getscheduler(pid));
    return 0;
}
