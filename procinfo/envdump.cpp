// envdump: print the environment this process was started with, one entry per line, each
// line begun rather than ended by its newline, then wait for one character on standard input.
//
//   envdump                          an empty line, then NAME=value lines; the last has no
//                                    newline after it and shows while Enter is awaited
//   env -i envdump                   nothing at all, and still waits for Enter
//   env -i GREETING=hello envdump    an empty line, then GREETING=hello
//   envdump </dev/null               the list, and no wait
//
// Second terminal: `tr '\0' '\n' </proc/PID/environ` lists the same entries in the same order.
#include <cstdio>

// main's parameters come in the order the system hands them over.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
int main([[maybe_unused]] int argc, [[maybe_unused]] char *argv[], char *envp[])
{
    for (char **entry = envp; *entry != nullptr; ++entry)
        printf("\n%s", *entry);

    // Out before the wait, so the list shows while it waits even on a pipe or a file.
    fflush(stdout);
    getchar();
    return 0;
}
