// execlelist: print a banner, then become /bin/ls through execle, which takes the new
// program's arguments one by one and an environment of its own: here an empty one, so ls
// runs without a single variable (no LANG: messages in the C locale; no TZ: times in the
// zone of /etc/localtime).
//
//   touch lsdemo.txt; execlelist   the banner, then one long-format line for lsdemo.txt
//   mkdir lsdemo.txt; execlelist   the banner, then the directory listed recursively
//   (no lsdemo.txt)   execlelist   the banner, then ls's complaint; the status is ls's (2)
//
// Second terminal: `strace -f -e trace=execve -v -p PID` of the shell before starting it shows
// one process id running execlelist and then /bin/ls, the latter with the environment [].
#include <cerrno>
#include <cstdio>
#include <unistd.h>

int main()
{
    constexpr const char *ls_path = "/bin/ls";
    constexpr int not_found_status = 127;
    constexpr int not_executable_status = 126;

    // An array holding only its terminating null: an empty list, not a missing one.
    char *const empty_environment[] = {nullptr};

    puts("---------------------OUTPUT(ls -Rl) USING execle() system call-------------------------");

    // On a pipe or a file the banner still sits in the buffer, which the exec would discard.
    fflush(stdout);
    execle(ls_path, "/bin/ls", "-Rl", "lsdemo.txt", nullptr, empty_environment);

    // Only a failed exec returns.
    const int exec_error = errno;
    putchar('\n');
    fflush(stdout); // the empty line comes out before the error line on a shared file
    errno = exec_error;
    perror(ls_path);
    return exec_error == ENOENT || exec_error == ENOTDIR ? not_found_status : not_executable_status;
}
