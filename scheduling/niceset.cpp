// niceset: read the nice value of this process, add an increment to it, read it again.
//
//   niceset 5      Current priority of the running process is: 0
//                  (empty line)
//                  New priority of the running process is: 5
//   niceset 100    the kernel clamps the result to 19
//   niceset -5     refused to an ordinary user: an error line and status 1
//
// The new value lasts only as long as niceset, which ends at once: in `niceset 5; sleep 30`
// the sleep runs at the shell's nice value. To watch a value change, start `nice -n 5 sleep
// 30 &` and look at it from a second terminal with `ps -o pid,ni,cmd -p PID`.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // The nice range is 39 steps wide, so a larger increment changes nothing more; clamping
    // keeps the kernel's addition to the current value from overflowing an int.
    constexpr long widest_increment = 40;
    constexpr int decimal = 10;

    if (argc != 2) {
        puts("Please pass the integer value to set the priority in command line");
        return 1;
    }

    // Read like atoi (leading space, sign, digits up to the first non-digit, none gives 0),
    // but strtol saturates where atoi would be undefined for a number too large for an int.
    long requested = strtol(argv[1], nullptr, decimal);
    if (requested > widest_increment)
        requested = widest_increment;
    if (requested < -widest_increment)
        requested = -widest_increment;
    const int increment = static_cast<int>(requested);

    printf("Current priority of the running process is: %d\n", nice(0));

    // nice() may rightly return -1, so only errno tells a refusal from a new value of -1.
    errno = 0;
    const int new_priority = nice(increment);
    if (new_priority == -1 && errno != 0) {
        fflush(stdout); // the current value comes out before the error line on a shared file
        perror("Not able to change the priority");
        return 1;
    }
    printf("\nNew priority of the running process is: %d\n", new_priority);
    return 0;
}
