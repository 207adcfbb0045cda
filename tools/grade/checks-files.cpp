// Checks of the files programs: the bytes and modes of the files they leave, their calls in a
// trace (bytecat's one-byte reads and writes, stdinwait's select), fdflood's descriptor table
// while it runs, and sizedecho and stdinwait at a terminal with what they leave in its queue.
#include "grade.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// A file of the run's scratch directory, read whole (up to the buffer); -1 when missing.
ssize_t read_back(const Run &r, const char *name, char *buffer, size_t size)
{
    char path[1024];
    snprintf(path, sizeof path, "%s/%s", r.dir, name);
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1)
        return -1;
    size_t got = 0;
    for (ssize_t n = 1; n > 0 && got < size; got += static_cast<size_t>(n > 0 ? n : 0))
        n = read(fd, buffer + got, size - got);
    close(fd);
    return static_cast<ssize_t>(got);
}

bool stat_in(const Run &r, const char *name, struct stat &st)
{
    char path[1024];
    snprintf(path, sizeof path, "%s/%s", r.dir, name);
    return lstat(path, &st) == 0;
}

// Writes `length` bytes into a file that scratch_file made.
bool fill(const char *dir, const char *name, const char *data, size_t length)
{
    char path[1024];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    const int fd = open(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    const bool done = fd >= 0 && write(fd, data, length) == static_cast<ssize_t>(length);
    if (fd >= 0)
        close(fd);
    return done;
}

// A descriptor of the run's terminal, opened while the program runs, so that what the program
// left unread in its input queue can be read once it has ended.
int terminal_of(const Run &r)
{
    const char *name = ptsname(r.input_fd);
    return name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// A run at a terminal in a fresh directory; the terminal's descriptor as terminal_of gives it.
int start_at_terminal(Program &p, Run &r)
{
    Launch launch = run_launch();
    launch.terminal = true;
    scratch(p);
    run_start(p, r, launch);
    return terminal_of(r);
}

bool never(Run & /*r*/, void * /*unused*/)
{
    return false;
}

// What is queued for reading at the terminal (one line, as the terminal gives it) once the
// program has ended; the descriptor closed, as the run's end waits for the terminal's last user.
const char *left_queued(Run &r, int fd, char *buffer, size_t size)
{
    run_wait_until(r, never, nullptr, r.deadline - now());
    const ssize_t n = fd >= 0 ? read(fd, buffer, size - 1) : -1;
    buffer[n > 0 ? n : 0] = '\0';
    if (fd >= 0)
        close(fd);
    return buffer;
}

bool sleeping(Run &r, void * /*unused*/)
{
    char path[64];
    char line[512];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(r.pid));
    FILE *f = fopen(path, "re");
    const bool got = f != nullptr && fgets(line, sizeof line, f) != nullptr;
    if (f != nullptr)
        fclose(f);
    const char *end = got ? strrchr(line, ')') : nullptr;
    return end != nullptr && end[1] == ' ' && end[2] == 'S';
}

// One traced system call: "PID name(args) = result".
struct Call {
    char name[32];
    const char *args;   // after the "("
    size_t args_length; // up to the closing ")"
    long result;
};

bool parse_call(const char *line, size_t length, Call &c)
{
    int pid = 0, used = 0;
    if (sscanf(line, "%d %31[a-z0-9_](%n", &pid, c.name, &used) != 2 || used == 0)
        return false;
    // The result follows the last " = "; strace pads the call before it.
    const char *result = nullptr;
    for (const char *s = line; (s = strstr(s, " = ")) != nullptr && s < line + length; ++s)
        result = s;
    if (result == nullptr)
        return false;
    const char *close = result;
    while (close > line + used && *close != ')')
        --close;
    c.args = line + used;
    c.args_length = static_cast<size_t>(close - c.args);
    c.result = strtol(result + 3, nullptr, 10);
    return true;
}

// The last argument of a call, as a number.
long last_argument(const Call &c)
{
    const char *comma = c.args + c.args_length;
    while (comma > c.args && *comma != ',')
        --comma;
    return strtol(*comma == ',' ? comma + 1 : comma, nullptr, 10);
}

// A check over several runs: passed until a run fails it; the first failure gives its message.
struct Table {
    bool passed = true;
    char message[3600] = "";
};

// Whether this run is the first to fail the check; the caller then writes the message.
bool first_failure(Table &t, bool passed)
{
    if (passed || !t.passed)
        return false;
    t.passed = false;
    return true;
}

void table_verdict(Program &p, const char *check, const Table &t)
{
    verdict(p, check, t.passed, "%s", t.message);
}

bool output_is(const Run &r, const char *expected, size_t length, int status)
{
    return run_exit_status(r, status) && r.out.dropped == 0 && r.out.length == length &&
           memcmp(r.out.data, expected, length) == 0;
}

constexpr char pattern[] = "0101011010";

} // namespace

void check_seekgap(Program &p)
{
    const char *const before[] = {"", "abcd", "The file held this text."};
    char came[3000];
    char want[300];
    Table offset, file;
    for (const char *content : before) {
        const size_t length = strlen(content);
        Run r{};
        scratch(p);
        scratch_file(p, "seekgap.txt", content, 0644);
        run_once(p, r, run_launch());
        const size_t end = length < 10 ? 10 : length;
        char expected[64];
        snprintf(expected, sizeof expected, "offset : %zu", end + 10);
        if (first_failure(offset, output_is(r, expected, strlen(expected), 0)))
            snprintf(
                offset.message, sizeof offset.message,
                "with seekgap.txt holding %zu bytes: expected on standard output %s (the offset "
                "10 bytes past the end after the first write), then status 0;\n%s",
                length, shown(expected, want, sizeof want), what_came(r, came, sizeof came));
        char wanted[128];
        memcpy(wanted, pattern, 10);
        if (end > 10)
            memcpy(wanted + 10, content + 10, end - 10);
        memset(wanted + end, 0, 10);
        memcpy(wanted + end + 10, pattern, 10);
        char got[256];
        const ssize_t n = read_back(r, "seekgap.txt", got, sizeof got);
        if (first_failure(file, n == static_cast<ssize_t>(end + 20) &&
                                    memcmp(got, wanted, end + 20) == 0))
            snprintf(
                file.message, sizeof file.message,
                "with seekgap.txt holding %zu bytes: expected it to hold %s (%zu bytes, the gap "
                "reading as zeros);\nit holds %s",
                length, shown(wanted, end + 20, want, sizeof want), end + 20,
                n < 0 ? "nothing: it is gone"
                      : shown(got, static_cast<size_t>(n), came, sizeof came));
    }
    table_verdict(p, "offset", offset);
    table_verdict(p, "file", file);
}

void check_sizedecho(Program &p)
{
    struct Case {
        const char *size;
        const char *line; // typed after the prompt "enter string", or nullptr
        const char *echo;
        const char *left; // left in the terminal's queue
    };
    const Case cases[] = {
        {"5\n", "hello world\n", "hello\n", " world\n"},
        {"80\n", "hi\n", "hi\n\n", ""},
        {"0\n", nullptr, "\n", ""},
    };
    constexpr char prompts[] = "Ehter the size of the text you want to enter , MAX_CHAR=80\n"
                               "enter string\n"
                               "the entered string is\n";
    char came[3000];
    char want[400];
    char queued[256];
    Table echo, rest;
    for (const Case &c : cases) {
        Run r{};
        const int terminal = start_at_terminal(p, r);
        run_wait_reading(r, 5);
        run_send(r, c.size);
        if (c.line != nullptr) {
            // The size's line read, it waits in its read of the text.
            run_wait_output(r, "enter string\n", 5);
            run_wait_reading(r, 5);
            run_send(r, c.line);
        }
        left_queued(r, terminal, queued, sizeof queued);
        run_end(r, p);
        char expected[300];
        snprintf(expected, sizeof expected, "%s%s", prompts, c.echo);
        char situation[200];
        snprintf(situation, sizeof situation, "at a terminal, the size %.*s typed, then %s",
                 static_cast<int>(strlen(c.size) - 1), c.size,
                 c.line != nullptr ? shown(c.line, want, sizeof want) : "nothing");
        if (first_failure(echo, output_is(r, expected, strlen(expected), 0)))
            snprintf(echo.message, sizeof echo.message,
                     "%s: expected on standard output %s, then status 0;\n%s", situation,
                     shown(expected, want, sizeof want), what_came(r, came, sizeof came));
        if (first_failure(rest, strcmp(queued, c.left) == 0)) {
            char left[300];
            snprintf(rest.message, sizeof rest.message,
                     "%s: expected it to read no more than the size, leaving %s in the terminal's "
                     "queue;\nit left %s",
                     situation, shown(c.left, want, sizeof want), shown(queued, left, sizeof left));
        }
    }
    table_verdict(p, "echo", echo);
    table_verdict(p, "leaves-rest", rest);
}

void check_bytecat(Program &p)
{
    constexpr char bytes[] = "first line\n\tsecond\0line \xff\xfe, no newline";
    constexpr size_t length = sizeof bytes - 1;
    char came[3000];
    char want[400];
    Table copies;
    const size_t sizes[] = {length, 0};
    for (const size_t size : sizes) {
        Run r{};
        const char *dir = scratch(p);
        scratch_file(p, "bytecat.txt", "", 0644);
        fill(dir, "bytecat.txt", bytes, size);
        run_once(p, r, run_launch());
        if (first_failure(copies, output_is(r, bytes, size, 0)))
            snprintf(
                copies.message, sizeof copies.message,
                "with bytecat.txt holding %zu bytes: expected on standard output %s, then status "
                "0;\n%s",
                size, shown(bytes, size, want, sizeof want), what_came(r, came, sizeof came));
    }
    table_verdict(p, "copies", copies);

    if (!p.can_trace) {
        not_gradable(p, "one-byte-calls", "%s", p.trace_reason);
        return;
    }
    Launch launch = run_launch();
    launch.trace = "?open,openat,read,write";
    Run r{};
    const char *dir = scratch(p);
    scratch_file(p, "bytecat.txt", "", 0644);
    fill(dir, "bytecat.txt", bytes, length);
    run_once(p, r, launch);
    static Text trace;
    run_trace(r, trace);
    // The reads of bytecat.txt's descriptor and the writes to descriptor 1, in order: each
    // byte read alone and written alone before the next read, then one read finding the end.
    long fd = -1;
    size_t pairs = 0;
    bool alternates = true;
    bool read_next = true;
    bool at_end = false;
    char wrong[300] = "";
    for (const char *line = trace.data; *line != '\0';) {
        const size_t n = strcspn(line, "\n");
        Call c{};
        if (parse_call(line, n, c)) {
            const long first = strtol(c.args, nullptr, 10);
            const bool is_read = strcmp(c.name, "read") == 0 && fd >= 0 && first == fd;
            const bool is_write = strcmp(c.name, "write") == 0 && first == 1;
            if ((strcmp(c.name, "open") == 0 || strcmp(c.name, "openat") == 0) &&
                memmem(c.args, c.args_length, "\"bytecat.txt\"", 13) != nullptr && c.result >= 0)
                fd = c.result;
            bool fits = true;
            if (is_read)
                fits = !at_end && read_next && last_argument(c) == 1 &&
                       (c.result == 1 || c.result == 0);
            else if (is_write)
                fits = !at_end && !read_next && last_argument(c) == 1 && c.result == 1;
            if ((is_read || is_write) && !fits && alternates) {
                alternates = false;
                snprintf(wrong, sizeof wrong, "%.*s", static_cast<int>(n), line);
            }
            if (is_read && c.result == 0)
                at_end = true;
            else if (is_read)
                read_next = false;
            if (is_write) {
                read_next = true;
                ++pairs;
            }
        }
        line += n;
        if (*line == '\n')
            ++line;
    }
    verdict(p, "one-byte-calls", alternates && at_end && pairs == length,
            "with bytecat.txt holding %zu bytes: expected %zu reads of one byte from it, each "
            "written alone to descriptor 1 before the next read, then one read finding the "
            "end;\n%s%s%zu bytes went through single reads and writes, %s",
            length, length, wrong, wrong[0] != '\0' ? " broke the sequence; " : "", pairs,
            at_end ? "then a read found the end" : "and no read found the end");
}

void check_stdinwait(Program &p)
{
    char came[3000];
    constexpr char timed_out[] = "No data was given for 10 seconds\n";
    constexpr char available[] = "The data is now available\n";
    {
        Launch launch = run_launch();
        launch.terminal = true;
        launch.seconds = 14;
        Run r{};
        scratch(p);
        run_start(p, r, launch);
        run_end(r, p);
        const double took = now() - r.started;
        verdict(p, "times-out", output_is(r, timed_out, strlen(timed_out), 0) && took >= 9.5,
                "at a terminal, nothing typed: expected \"No data was given for 10 seconds\" "
                "after 10 s, then status 0;\nafter %.1f s, %s",
                took, what_came(r, came, sizeof came));
    }

    Table ready;
    {
        Run r{};
        const int terminal = start_at_terminal(p, r);
        run_wait_until(r, sleeping, nullptr, 5);
        run_send(r, "typed\n");
        const double sent = now();
        run_wait_output(r, available, 5);
        const double took = now() - sent;
        char queued[256];
        left_queued(r, terminal, queued, sizeof queued);
        run_end(r, p);
        if (first_failure(ready, output_is(r, available, strlen(available), 0) && took < 5 &&
                                     strcmp(queued, "typed\n") == 0)) {
            char left[300];
            snprintf(ready.message, sizeof ready.message,
                     "at a terminal, a line typed while it waits: expected \"The data is now "
                     "available\" at once, then status 0, the line left unread in the "
                     "terminal's queue;\n%.1f s after the line it %s; it left %s in the queue",
                     took, what_came(r, came, sizeof came), shown(queued, left, sizeof left));
        }
    }
    if (!p.can_trace) {
        not_gradable(p, "one-select", "%s", p.trace_reason);
        table_verdict(p, "data-ready", ready);
        return;
    }
    Launch launch = run_launch();
    launch.trace = "?select,?_newselect,pselect6";
    launch.input = "";
    Run r{};
    scratch(p);
    run_once(p, r, launch);
    if (first_failure(ready, output_is(r, available, strlen(available), 0)))
        snprintf(ready.message, sizeof ready.message,
                 "with standard input at its end (an empty file): expected \"The data is now "
                 "available\" at once, then status 0;\n%s",
                 what_came(r, came, sizeof came));
    table_verdict(p, "data-ready", ready);
    static Text trace;
    run_trace(r, trace);
    int selects = 0;
    bool right = false;
    char first[300] = "none";
    for (const char *line = trace.data; *line != '\0';) {
        const size_t n = strcspn(line, "\n");
        Call c{};
        if (parse_call(line, n, c) && strstr(c.name, "select") != nullptr) {
            if (selects++ == 0) {
                snprintf(first, sizeof first, "%.*s", static_cast<int>(n), line);
                const char *const forms[] = {"1, [0], NULL, NULL, {tv_sec=10, tv_usec=0}",
                                             "1, [0], NULL, NULL, {tv_sec=10, tv_nsec=0}"};
                for (const char *form : forms)
                    right = right || strncmp(c.args, form, strlen(form)) == 0;
            }
        }
        line += n;
        if (*line == '\n')
            ++line;
    }
    verdict(p, "one-select", selects == 1 && right,
            "expected one select watching descriptor 0 alone for reading (count 1, no write or "
            "exception set) with a time-out of 10 s and 0 us;\nit made %d, the first: %s",
            selects, first);
}

void check_exclcreate(Program &p)
{
    char came[3000];
    Run r{};
    scratch(p);
    run_once(p, r, run_launch());
    constexpr char created[] = "The file descriptor value is: 3";
    struct stat st {
    };
    const bool made = stat_in(r, "exclcreate.txt", st) && S_ISREG(st.st_mode) && st.st_size == 0;
    verdict(p, "creates", output_is(r, created, strlen(created), 0) && made,
            "in a directory without exclcreate.txt, descriptors 0 to 2 open: expected \"The file "
            "descriptor value is: 3\" without a newline, status 0, exclcreate.txt made "
            "empty;\n%s%s",
            made ? "" : "no empty exclcreate.txt was made; ", what_came(r, came, sizeof came));

    // Again in the same directory, the file there: refused, -1.
    run_once(p, r, run_launch());
    constexpr char refused[] = "The file descriptor value is: -1";
    verdict(p, "exists", output_is(r, refused, strlen(refused), 0),
            "run again, exclcreate.txt there: expected \"The file descriptor value is: -1\" "
            "without a newline (the open refused), status 0;\n%s",
            what_came(r, came, sizeof came));
}

namespace
{

struct Table_watch {
    uid_t uid; // the program's, which reads the links when the grader is root
    gid_t gid;
    int limit;
    char dir[4096];
    char wrong[9000];
    int count;
};

// fdflood's descriptors 3 up to the limit, each naming the next of the five files in turn.
bool table_full(Run &r, void *data)
{
    static const char *const names[] = {"one.txt", "two.txt", "three.txt", "four.txt", "five.txt"};
    auto *w = static_cast<Table_watch *>(data);
    w->count = 0;
    w->wrong[0] = '\0';
    char path[800];
    char target[4096];
    for (int fd = 0; fd < w->limit + 8; ++fd) {
        snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(r.pid), fd);
        const ssize_t n = readlink(path, target, sizeof target - 1);
        if (n < 0)
            continue;
        target[n] = '\0';
        ++w->count;
        char wanted[4200];
        snprintf(wanted, sizeof wanted, "%s/%s", w->dir, names[(fd + 2) % 5]);
        if (fd >= 3 && w->wrong[0] == '\0' && strcmp(target, wanted) != 0)
            snprintf(w->wrong, sizeof w->wrong, "descriptor %d names %s, not %s", fd, target,
                     names[(fd + 2) % 5]);
    }
    return w->count == w->limit && w->wrong[0] == '\0';
}

// table_full, read by a child of the program's uid when the grader is root: root reads
// another uid's /proc/PID/fd links only with CAP_SYS_PTRACE, which a container's root lacks.
// The child, having changed its uid, is not dumpable: the program cannot trace it. Killed,
// stopped or failing, it leaves the table unread, and so not full.
bool table_full_as_program(Run &r, void *data)
{
    auto *w = static_cast<Table_watch *>(data);
    int fds[2];
    if (geteuid() != 0 || w->uid == 0 || pipe2(fds, O_CLOEXEC) == -1)
        return table_full(r, w);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (!take_uid(w->uid, w->gid))
            _exit(1);
        table_full(r, w);
        // the whole watch at once: it fits the pipe's buffer, so the write ends before the read
        _exit(write(fds[1], w, sizeof *w) == static_cast<ssize_t>(sizeof *w) ? 0 : 1);
    }
    close(fds[1]);
    // Read within 2 s, whatever the program does to the child (it may stop it), then ended.
    size_t got = 0;
    pollfd ready{fds[0], POLLIN, 0};
    for (ssize_t n = 1; child > 0 && n > 0 && got < sizeof *w && poll(&ready, 1, 2000) == 1;)
        got += static_cast<size_t>(
            (n = read(fds[0], reinterpret_cast<char *>(w) + got, sizeof *w - got)) > 0 ? n : 0);
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    close(fds[0]);
    if (got != sizeof *w) {
        w->count = 0;
        snprintf(w->wrong, sizeof w->wrong, "its descriptors could not be read as its own uid");
    }
    return w->count == w->limit && w->wrong[0] == '\0';
}

} // namespace

void check_fdflood(Program &p)
{
    Launch launch = run_launch();
    launch.open_files = 64;
    launch.seconds = 8;
    Run r{};
    scratch(p);
    run_start(p, r, launch);
    Table_watch w{};
    w.uid = p.uid;
    w.gid = p.gid;
    w.limit = launch.open_files;
    if (realpath(r.dir, w.dir) == nullptr)
        snprintf(w.dir, sizeof w.dir, "%s", r.dir);
    const bool full = run_wait_until(r, table_full_as_program, &w, 5);
    // Full, it goes on running with the table as it is.
    run_pump(r, 0.3);
    const bool stays = !r.exited && table_full_as_program(r, &w);
    char came[3000];
    char how[200];
    if (!r.exited)
        snprintf(how, sizeof how, "%d descriptors open", w.count);
    kill(r.pid, SIGKILL);
    run_end(r, p);
    verdict(p, "fills-table", full && stays,
            "with a limit of %d descriptors: expected the table to fill to it (descriptors 3 "
            "on naming one.txt, two.txt, three.txt, four.txt, five.txt in turn), the program "
            "still running;\n%s%s%s",
            launch.open_files, w.wrong, w.wrong[0] != '\0' ? "; " : "",
            full && !stays      ? "it did not stay so"
            : r.exited || !full ? what_came(r, came, sizeof came)
                                : how);

    Table files;
    const char *const names[] = {"one.txt", "two.txt", "three.txt", "four.txt", "five.txt"};
    for (const char *name : names) {
        struct stat st {
        };
        const bool there = stat_in(r, name, st);
        if (first_failure(files, there && S_ISREG(st.st_mode) && st.st_size == 0 &&
                                     (st.st_mode & 07777) == 0755))
            snprintf(files.message, sizeof files.message,
                     "expected the five files made empty, mode 0777 less the umask 022 "
                     "(rwxr-xr-x);\n%s %s",
                     name,
                     !there                 ? "is missing"
                     : !S_ISREG(st.st_mode) ? "is not a regular file"
                     : st.st_size != 0      ? "is not empty"
                                            : "has another mode");
    }
    table_verdict(p, "files", files);
}

void check_makelinks(Program &p)
{
    char came[3000];
    Table symbolic, hard, errors;
    constexpr char no_target[] = "Failed : : No such file or directory\n";
    constexpr char taken[] = "Failed : : File exists\n";

    // With three.txt there.
    Run r{};
    scratch(p);
    scratch_file(p, "three.txt", "three\n", 0644);
    run_once(p, r, run_launch());
    char target[300] = "";
    char path[800];
    snprintf(path, sizeof path, "%s/four.txt", r.dir);
    ssize_t n = readlink(path, target, sizeof target - 1);
    target[n > 0 ? n : 0] = '\0';
    if (first_failure(symbolic, run_exit_status(r, 0) && strcmp(target, "three.txt") == 0))
        snprintf(
            symbolic.message, sizeof symbolic.message,
            "with three.txt there: expected four.txt made a symbolic link to \"three.txt\", status "
            "0;\n%s%s%s",
            n < 0 ? "four.txt is no symbolic link" : "four.txt leads to ", target,
            run_exit_status(r, 0) ? "" : what_came(r, came, sizeof came));
    // The hard link: another name of three.txt's inode, whatever it is called. Named four.txt,
    // it is refused as the symbolic link has just taken the name.
    struct stat three {
    };
    stat_in(r, "three.txt", three);
    char other[300] = "";
    DIR *d = opendir(r.dir);
    for (dirent *e = d != nullptr ? readdir(d) : nullptr; e != nullptr; e = readdir(d)) {
        struct stat st {
        };
        if (strcmp(e->d_name, "three.txt") != 0 && stat_in(r, e->d_name, st) &&
            S_ISREG(st.st_mode) && st.st_ino == three.st_ino && st.st_dev == three.st_dev)
            snprintf(other, sizeof other, "%s", e->d_name);
    }
    if (d != nullptr)
        closedir(d);
    const bool four = other[0] == '\0' && strcmp(r.err.data, taken) == 0;
    if (first_failure(hard, run_exit_status(r, 0) && (other[0] != '\0' || four) &&
                                three.st_nlink == (four ? 1U : 2U)))
        snprintf(
            hard.message, sizeof hard.message,
            "with three.txt there: expected a hard link to it (its inode under a second name), "
            "status 0;\n%s",
            other[0] != '\0' ? "three.txt's link count is not 2" : "no other name has its inode");

    // In an empty directory, then again there: the errors, on standard error only.
    scratch(p);
    for (int round = 1; round <= 2; ++round) {
        run_once(p, r, run_launch());
        char expected[200];
        snprintf(expected, sizeof expected, "%s%s", round == 2 ? taken : "", no_target);
        if (first_failure(errors, run_exit_status(r, 0) && r.out.length == 0 &&
                                      strcmp(r.err.data, expected) == 0)) {
            char want[300];
            snprintf(errors.message, sizeof errors.message,
                     "%s: expected on standard error only %s, then status 0;\n%s",
                     round == 1 ? "in an empty directory" : "run there again",
                     shown(expected, want, sizeof want), what_came(r, came, sizeof came));
        }
        if (round == 1) {
            snprintf(path, sizeof path, "%s/four.txt", r.dir);
            n = readlink(path, target, sizeof target - 1);
            target[n > 0 ? n : 0] = '\0';
            if (first_failure(symbolic, strcmp(target, "three.txt") == 0))
                snprintf(symbolic.message, sizeof symbolic.message,
                         "in an empty directory: expected four.txt made a symbolic link to "
                         "\"three.txt\" (left dangling);\n%s%s",
                         n < 0 ? "four.txt is no symbolic link" : "four.txt leads to ", target);
        }
    }
    table_verdict(p, "symlink", symbolic);
    table_verdict(p, "hard-link", hard);
    table_verdict(p, "errors", errors);
}
