// execlplist: print a banner, then become /bin/ls through execlp, which takes the new
// program's arguments one by one and hands on this process's environment. execlp searches
// PATH only for a name without a slash; "/bin/ls" has one, so no search takes place.
//
//   touch lsdemo.txt; execlplist   the banner, then one long-format line for lsdemo.txt
//   mkdir lsdemo.txt; execlplist   the banner, then the directory listed recursively
//   (no lsdemo.txt)   execlplist   the banner, then ls's complaint; the status is ls's (2)
//
// Second terminal: `strace -f -e trace=execve -v -p PID` of the shell before starting it shows
// one process id running execlplist and then /bin/ls, with the same environment twice.
#include <cerrno>
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr const char *ls_path = "/bin/ls";
    constexpr int not_found_status = 127;
    constexpr int not_executable_status = 126;

    puts("-----------------OUTPUT(ls -Rl) USING execlp() system call-----------------------");

    // On a pipe or a file the banner still sits in the buffer, which the exec would discard.
    fflush(stdout);
    execlp(ls_path, "/bin/ls", "-Rl", "lsdemo.txt", nullptr);

    // Only a failed exec returns.
    const int exec_error = errno;
    putchar('\n');
    fflush(stdout); // the empty line comes out before the error line on a shared file
    errno = exec_error;
    perror(ls_path);
    return exec_error == ENOENT || exec_error == ENOTDIR ? not_found_status : not_executable_status;
}
