// execvlist: print a banner, then become /bin/ls through execv, which takes the new program's
// arguments as one array and hands on this process's environment unchanged.
//
//   touch lsdemo.txt; execvlist   the banner, then one long-format line for lsdemo.txt
//   mkdir lsdemo.txt; execvlist   the banner, then the directory listed recursively
//   (no lsdemo.txt)   execvlist   the banner, then ls's complaint; the status is ls's (2)
//
// Second terminal: `strace -f -e trace=execve -v -p PID` of the shell before starting it shows
// one process id running execvlist and then /bin/ls, with the same environment twice.
#include <cerrno>
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr const char *ls_path = "/bin/ls";
    constexpr int not_found_status = 127;
    constexpr int not_executable_status = 126;

    char program_name[] = "/bin/ls";
    char options[] = "-Rl";
    char target[] = "lsdemo.txt";
    char *const arguments[] = {program_name, options, target, nullptr};

    puts("----------------------OUTPUT(ls -Rl) USING execv() system call---------------------");

    // On a pipe or a file the banner still sits in the buffer, which the exec would discard.
    fflush(stdout);
    execv(ls_path, arguments);

    // Only a failed exec returns.
    const int exec_error = errno;
    putchar('\n');
    fflush(stdout); // the empty line comes out before the error line on a shared file
    errno = exec_error;
    perror(ls_path);
    return exec_error == ENOENT || exec_error == ENOTDIR ? not_found_status : not_executable_status;
}
