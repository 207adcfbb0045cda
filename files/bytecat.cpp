// bytecat: copy "bytecat.txt" to standard output one byte per read(2) and write(2).
//
// No buffering anywhere: every byte costs two system calls, and the copy is the file's bytes
// exactly, zero bytes and a missing final newline included.
//
//   printf 'ab\0c' > bytecat.txt; bytecat | od -c      a   b  \0   c
//   bytecat > /dev/full        the first failed write ends it: an error line, status 1
//
// Second terminal: `strace -c bytecat > /dev/null` counts one read and one write per byte;
// `strace -e trace=read,write -p PID` on a large file shows them go by one at a time.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main()
{
    const int fd = open("bytecat.txt", O_RDONLY);
    if (fd == -1) {
        perror("bytecat.txt");
        return 1;
    }

    char byte = 0;
    ssize_t count = 0;
    while ((count = read(fd, &byte, 1)) > 0) {
        if (write(1, &byte, 1) != 1) {
            perror("Writing to standard output failed");
            return 1;
        }
    }
    if (count == -1) {
        perror("Reading bytecat.txt failed");
        return 1;
    }

    close(fd);
    return 0;
}
