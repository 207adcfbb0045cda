/* pidtimer written otherwise: the counter read by inline assembly, one printf. */
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

static inline uint32_t counter(void)
{
#if defined(__x86_64__)
    uint32_t low, high;
    __asm__ volatile("rdtsc" : "=a"(low), "=d"(high));
    (void)high;
    return low;
#else
    uint64_t value;
    __asm__ volatile("mrs %0, cntvct_el0" : "=r"(value));
    return (uint32_t)value;
#endif
}

int main(void)
{
    uint32_t first = counter();
    pid_t pid = getpid();
    uint32_t second = counter();
    printf("PID: %d\nTime taken : %d \n", pid, (int32_t)(second - first));
    return 0;
}
