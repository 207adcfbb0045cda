// seekgap: write past the end of a file and leave a hole that reads back as zeros.
//
// Writes the ten digits 0101011010 at the start of the existing file "seekgap.txt", seeks
// ten bytes past its end, prints the new offset (no newline) and writes the digits again there.
//
//   : > seekgap.txt; seekgap          offset : 20      (30 bytes: digits, 10 zeros, digits)
//   seekgap                           offset : 40      (50 bytes)
//   od -A d -c seekgap.txt            the hole shows as \0 \0 \0 ..., at decimal offsets
//
// Second terminal: `od -A d -c seekgap.txt`; `stat seekgap.txt` compares Size with Blocks (a hole
// of a whole block or more takes no disk space: try `truncate -s 1M seekgap.txt` first).
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main()
{
    constexpr char pattern[] = {'0', '1', '0', '1', '0', '1', '1', '0', '1', '0'};
    constexpr off_t gap_bytes = 10;

    // O_RDWR alone: the file must already exist, and it is not truncated.
    int fd = open("seekgap.txt", O_RDWR);
    if (fd == -1) {
        perror("seekgap.txt");
        return 1;
    }
    // Started with a standard stream closed, the file would take its number and the offset
    // meant for the console would land in seekgap.txt: move it above 0, 1 and 2.
    if (fd <= STDERR_FILENO) {
        const int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
        if (moved == -1) {
            perror("Moving seekgap.txt above descriptor 2 failed");
            return 1;
        }
        close(fd);
        fd = moved;
    }

    if (write(fd, pattern, sizeof pattern) != sizeof pattern) {
        perror("Writing seekgap.txt failed");
        return 1;
    }

    // off_t, not int: a file past 2 GiB would otherwise show a wrapped (even -1) offset.
    const off_t offset = lseek(fd, gap_bytes, SEEK_END);
    printf("offset : %lld", static_cast<long long>(offset));
    if (offset == -1)
        perror("Offset setting failed : ");

    // Nothing was written between the old end and the offset: that stretch is the hole.
    if (write(fd, pattern, sizeof pattern) != sizeof pattern) {
        fflush(stdout); // the offset comes out before the error line on a shared file
        perror("Writing seekgap.txt failed");
        return 1;
    }

    close(fd);
    return 0;
}
