// stdinwait: wait at most 10 seconds for standard input to become readable, using select(2).
//
// Says whether input came in time; it never reads it, so a typed line stays queued and the
// shell runs it as a command afterwards.
//
//   stdinwait                          wait: "No data was given for 10 seconds"
//                                      or type a line and Enter: "The data is now available"
//   stdinwait < /dev/null              at once: end of file counts as readable
//   (sleep 1; echo hi) | stdinwait     after a second
//   stdinwait <&-                      descriptor 0 closed: "error : Bad file descriptor"
//
// Second terminal: `cat /proc/PID/wchan` shows it asleep in the select call; `ls -l
// /proc/PID/fd/0` shows what it is watching.
#include <cstdio>
#include <sys/select.h>

int main()
{
    constexpr int watched_fd = 0;
    constexpr time_t wait_seconds = 10;

    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(watched_fd, &read_set);

    timeval timeout{};
    timeout.tv_sec = wait_seconds;
    timeout.tv_usec = 0;

    // The count is the highest watched descriptor plus one; nothing is watched for writing
    // or for exceptional conditions.
    const int ready = select(watched_fd + 1, &read_set, nullptr, nullptr, &timeout);
    if (ready == -1)
        perror("error ");
    else if (ready == 0)
        puts("No data was given for 10 seconds");
    else
        puts("The data is now available");
    return 0;
}
