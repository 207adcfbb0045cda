// sizedecho: read at most N bytes with one raw read(2) and write back exactly what came.
//
// Asks for a size (at most 80; a larger one is read as 80), then makes one read on
// descriptor 0 for that many bytes and writes the count it got to descriptor 1, unchanged.
//
//   sizedecho          type 5, Enter, then "hello world", Enter: echoes "hello"; the
//                      rest of the line, " world", stays queued and the shell runs it next
//   printf '5\nhello world\n' | sizedecho      echoes "hello"
//   printf '80\nhi\n' | sizedecho | od -c       "hi", the typed newline, then its own newline
//
// Second terminal: `strace -e trace=read,write -p PID` while it waits shows the single read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main()
{
    constexpr long max_chars = 80;
    constexpr int decimal = 10;
    constexpr int size_room = 32; // any long, with sign and leading zeros to spare

    char text[max_chars];
    char size_text[size_room] = {};

    puts("Ehter the size of the text you want to enter , MAX_CHAR=80");

    // Unbuffered, the stream takes from descriptor 0 only the characters of the number and
    // the one after it, so the raw read below sees the rest, piped or typed.
    setvbuf(stdin, nullptr, _IONBF, 0);

    // The number is taken as text (31 characters at most, leaving room for the terminating
    // zero) and converted by strtol, which saturates a number too large for a long where a
    // numeric conversion in scanf would be undefined.
    const int converted = scanf(" %31[-+0123456789]", size_text);
    char *size_end = size_text;
    long requested = strtol(size_text, &size_end, decimal);
    if (converted != 1 || size_end == size_text || requested < 0) {
        fflush(stdout); // the prompt comes out before the error line on a shared file
        if (converted == EOF && ferror(stdin)) {
            perror("Reading the size failed");
        } else if (converted == EOF) {
            errno = ENODATA;
            perror("No size given");
        } else {
            errno = EINVAL; // not a number, or below zero
            perror("Invalid size");
        }
        return 1;
    }
    if (requested > max_chars)
        requested = max_chars;

    puts("enter string");

    const ssize_t count = read(0, text, static_cast<size_t>(requested));
    if (count == -1) {
        fflush(stdout);
        perror("Reading the text failed");
        return 1;
    }

    puts("the entered string is");

    // The prompts sit in the stream's buffer when the output is a file or a pipe; they go
    // first, so the echo follows them as it does on a terminal.
    if (fflush(stdout) == EOF) {
        perror("Writing the text failed");
        return 1;
    }
    ssize_t written = 0;
    while (written < count) {
        const ssize_t done = write(1, text + written, static_cast<size_t>(count - written));
        if (done == -1) {
            perror("Writing the text failed");
            return 1;
        }
        written += done;
    }

    putchar('\n');
    if (fflush(stdout) == EOF) {
        perror("Writing the text failed");
        return 1;
    }
    return 0;
}
