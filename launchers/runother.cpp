// runother: become the user's own program ./childprog/childprog_out through execl, handing
// it the argument "childprog.c". Whatever that program prints, and the status it ends with,
// are this process's; runother prints nothing of its own unless the exec fails.
//
//   mkdir childprog; printf '#!/bin/sh\necho "$0 $1"\n' >childprog/childprog_out
//   chmod +x childprog/childprog_out; runother     ./childprog/childprog_out childprog.c
//   (no childprog folder) runother                 an error line naming the path, status 127
//   (childprog_out not executable) runother        an error line naming the path, status 126
//
// Second terminal: `ps -o pid,cmd -p PID` on a childprog_out that sleeps shows it running under
// the process id runother started with.
#include <cerrno>
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr const char *program_path = "./childprog/childprog_out";
    constexpr int not_found_status = 127;
    constexpr int not_executable_status = 126;

    execl(program_path, program_path, "childprog.c", nullptr);

    // Only a failed exec returns.
    const int exec_error = errno;
    perror(program_path);
    return exec_error == ENOENT || exec_error == ENOTDIR ? not_found_status : not_executable_status;
}
