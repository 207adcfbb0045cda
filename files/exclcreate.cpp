// exclcreate: create "exclcreate.txt" only if it does not exist yet (O_CREAT | O_EXCL).
//
// Prints the descriptor the open returned, with no newline: the lowest free number, 3 when
// only the standard three are open; -1 once the file exists.
//
//   exclcreate         The file descriptor value is: 3      (an empty file, rw-r--r--)
//   exclcreate         The file descriptor value is: -1     (the file is there now)
//   exclcreate <&-     The file descriptor value is: 0      (the lowest free number)
//
// Second terminal: `ls -l exclcreate.txt` shows the new file and its mode.
#include <cstdio>
#include <fcntl.h>

int main()
{
    constexpr mode_t file_mode = 0644; // rw-r--r--, less the umask

    // Fails with EEXIST when the file is there; the -1 is printed as it is.
    const int fd = open("exclcreate.txt", O_RDWR | O_CREAT | O_EXCL, file_mode);
    printf("The file descriptor value is: %d", fd);

    // The descriptor is left open for the process's exit to close.
    return 0;
}
