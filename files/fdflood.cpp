// fdflood: open five files over and over, never closing one, until the descriptor table is
// full; then keep trying, at full speed, until killed.
//
// Each pass opens "one.txt" to "five.txt" (created empty on the first pass, never written):
// descriptors 3 to 7, then 8 to 12, and so on up to the limit of `ulimit -n`; from then on
// every open fails with EMFILE. It prints nothing and never ends: stop it with Ctrl-C or kill.
//
//   (ulimit -n 64; fdflood &)          the table fills to 64 within moments
//
// Second terminal: `ls /proc/PID/fd | wc -l` reaches the limit, `ls -l /proc/PID/fd` shows
// the five files over and over, `top` shows it using a whole processor.
#include <fcntl.h>

int main()
{
    constexpr mode_t file_mode = 0777; // rwxrwxrwx, less the umask
    constexpr int flags = O_RDWR | O_CREAT;

    // The descriptors are dropped on purpose: nothing ever closes them.
    for (;;) {
        open("one.txt", flags, file_mode);
        open("two.txt", flags, file_mode);
        open("three.txt", flags, file_mode);
        open("four.txt", flags, file_mode);
        open("five.txt", flags, file_mode);
    }
}
