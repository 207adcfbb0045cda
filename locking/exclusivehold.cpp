// exclusivehold: take an exclusive (write) lock on the whole of db.txt, waiting for it if
// another process holds a lock there, and keep it until Enter.
//
//   touch db.txt
//   exclusivehold      Before entering into critical section
//                      inside the critical section....
//                      Enter to unlock..
//                      (Enter)
//                      unlocked
//
// Run a second exclusivehold in another terminal: it prints its first line and blocks until
// Enter is pressed in the first. Against a sharedhold it waits until every reader has let go.
//
// Second terminal: `cat /proc/locks` shows "POSIX  ADVISORY  WRITE PID MAJOR:MINOR:INODE 0 EOF"
// for the holder, and a blocked request with "->" in front of it; `lslocks -p PID` shows
// the same lock as a line naming exclusivehold, POSIX, WRITE and the path of db.txt.
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
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end of the file and beyond: the whole file
    lock.l_pid = getpid();

    puts("Before entering into critical section");
    if (fcntl(fd, F_SETLKW, &lock) == -1)
        perror("Exclusive lock not granted");
    puts("inside the critical section....");
    puts("Enter to unlock..");
    getchar();
    printf("unlocked");

    lock.l_type = F_UNLCK;
    fcntl(fd, F_SETLK, &lock);

    // The descriptor is left for process exit to close.
    return 0;
}
