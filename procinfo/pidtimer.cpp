// pidtimer: how long does one getpid system call take? Reads the processor's counter, calls
// getpid, reads the counter again, and prints the process id and the count of counter ticks
// between the readings (ticks, not nanoseconds). On x86-64 the counter is the time-stamp
// counter (RDTSC), ticking at about the processor's nominal clock: one getpid takes thousands
// of ticks. On aarch64 it is the virtual counter CNTVCT_EL0, ticking at the fixed frequency
// that CNTFRQ_EL0 holds, commonly tens of megahertz: one getpid takes a handful of ticks.
//
//   pidtimer     PID: 4321
//                Time taken : 1234
//
// Run it a few times: each run is a new process, so the PID changes, and the count varies
// with caches and the processor's state (the first run after a pause is often the slowest).
// Second terminal, on x86-64: `grep -m1 'model name' /proc/cpuinfo` and `grep -o constant_tsc
// /proc/cpuinfo` tell which processor ticks and whether its counter runs at a fixed rate.
#include <cstdint>
#include <cstdio>
#include <unistd.h>
#if defined(__x86_64__)
#include <x86intrin.h>
#elif !defined(__aarch64__)
#error "pidtimer reads the processor's counter: it needs x86-64 or aarch64"
#endif

int main()
{
    // Plain reads of the low 32 bits, with no barrier around them: the call is all they frame.
#if defined(__x86_64__)
    const auto first_reading = static_cast<std::uint32_t>(__rdtsc());
    const pid_t pid = getpid();
    const auto second_reading = static_cast<std::uint32_t>(__rdtsc());
#else
    // The "memory" clobber only keeps the compiler from moving a reading across the call; it
    // emits no instruction.
    std::uint64_t first_counter = 0;
    std::uint64_t second_counter = 0;
    asm volatile("mrs %0, cntvct_el0" : "=r"(first_counter) : : "memory");
    const pid_t pid = getpid();
    asm volatile("mrs %0, cntvct_el0" : "=r"(second_counter) : : "memory");
    const auto first_reading = static_cast<std::uint32_t>(first_counter);
    const auto second_reading = static_cast<std::uint32_t>(second_counter);
#endif

    // The low 32 bits of the counter wrap every few seconds. Unsigned subtraction gives the
    // small difference even across a wrap, and cannot overflow as a signed one could.
    const auto elapsed_ticks = static_cast<std::int32_t>(second_reading - first_reading);

    printf("PID: %d\n", pid);
    printf("Time taken : %d \n", elapsed_ticks);
    return 0;
}
