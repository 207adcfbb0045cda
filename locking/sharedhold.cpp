// sharedhold: ask for a shared (read) lock on the whole of db.txt without waiting, and stay
// until Enter whether or not the kernel granted it.
//
//   touch db.txt
//   sharedhold         Before entering into critical section
//                      inside the critical section....
//                      Enter to unlock..
//                      (Enter)
//                      unlocked
//
// Any number of sharedhold processes hold the file together. While an exclusivehold holds it,
// the request is refused at once: an error line says so on standard error, the same lines
// follow, and the process waits for Enter holding nothing.
//
// Second terminal: `cat /proc/locks` shows "POSIX  ADVISORY  READ PID MAJOR:MINOR:INODE 0 EOF"
// for every reader, and `lslocks` a line naming sharedhold, POSIX, READ and the path of
// db.txt; a refused sharedhold does not appear.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main()
{
    int fd = open("db.txt", O_RDWR);
    if (fd == -1) {
        perror("db.txt");
        return 1;
    }
    // Started with a standard stream closed, the file would take its number and the lines
    // meant for the console would land in db.txt: move it above 0, 1 and 2.
    if (fd <= STDERR_FILENO) {
        const int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
        if (moved == -1) {
            perror("Moving db.txt above descriptor 2 failed");
            return 1;
        }
        close(fd);
        fd = moved;
    }

    flock lock{};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end of the file and beyond: the whole file
    lock.l_pid = getpid();

    puts("Before entering into critical section");
    if (fcntl(fd, F_SETLK, &lock) == -1)
        perror("Shared lock not granted");
    puts("inside the critical section....");
    puts("Enter to unlock..");
    getchar();
    printf("unlocked");

    // Unlocking a range not held (after a refusal) is accepted by the kernel.
    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);

    // The descriptor is left for process exit to close.
    return 0;
}
