// forkappend: parent and child append one record each to forkappend.txt through the one
// descriptor they share across fork. O_APPEND puts each write at the end of the file as it
// is at that moment, so the two 15-byte records never overwrite each other; their order is
// the scheduler's.
//
//   forkappend; forkappend; cat forkappend.txt
//                      Parent Process
//                      Child Process
//                      !Child Process       (or the parent's record first: either order)
//                      !Parent Process
//
// No console output. A new forkappend.txt gets mode 0700 less the umask: rwx------ under 022.
// Second terminal: `ls -l forkappend.txt` and `wc -c forkappend.txt` grow by 30 bytes a run.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main()
{
    constexpr char parent_record[] = "Parent Process\n";
    constexpr char child_record[] = "Child Process\n!"; // the mark starts the following line
    constexpr size_t record_bytes = 15;
    static_assert(sizeof parent_record - 1 == record_bytes);
    static_assert(sizeof child_record - 1 == record_bytes);

    const int fd = open("forkappend.txt", O_WRONLY | O_CREAT | O_APPEND, 0700); // rwx------
    if (fd == -1) {
        perror("forkappend.txt");
        return 1;
    }

    fflush(stdout); // nothing buffered may be copied into the child
    const pid_t pid = fork();
    if (pid == -1) {
        perror("fork");
        return 1;
    }

    const char *record = pid != 0 ? parent_record : child_record;
    if (write(fd, record, record_bytes) != static_cast<ssize_t>(record_bytes)) {
        perror("forkappend.txt");
        return 1;
    }
    close(fd);
    return 0;
}
