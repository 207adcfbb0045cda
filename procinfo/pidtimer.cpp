// pidtimer: how long does one getpid system call take? Reads the processor's time-stamp
// counter, calls getpid, reads the counter again, and prints the process id and the count of
// counter ticks between the readings (ticks, not nanoseconds).
//
//   pidtimer     PID: 4321
//                Time taken : 1234
//
// Run it a few times: each run is a new process, so the PID changes, and the count varies
// with caches and the processor's state (the first run after a pause is often the slowest).
// Second terminal: `grep -m1 'model name' /proc/cpuinfo` and `grep -o constant_tsc
// /proc/cpuinfo` tell which processor ticks and whether its counter runs at a fixed rate.
#include <cstdint>
#include <cstdio>
#include <unistd.h>
#include <x86intrin.h>

int main()
{
    const auto first_reading = static_cast<std::uint32_t>(__rdtsc());
    const pid_t pid = getpid();
    const auto second_reading = static_cast<std::uint32_t>(__rdtsc());

    // The low 32 bits of the counter wrap every few seconds. Unsigned subtraction gives the
    // small difference even across a wrap, and cannot overflow as a signed one could.
    const auto elapsed_ticks = static_cast<std::int32_t>(second_reading - first_reading);

    printf("PID: %d\n", pid);
    printf("Time taken : %d \n", elapsed_ticks);
    return 0;
}
