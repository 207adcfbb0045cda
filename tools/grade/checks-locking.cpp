// Checks of the record-lock holders: exclusivehold and sharedhold, run at a terminal, with
// the kernel's lock table read while they wait and a lock of the grader's own against them.
#include "grade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char first_line[] = "Before entering into critical section\n";
constexpr char three_lines[] = "Before entering into critical section\n"
                               "inside the critical section....\n"
                               "Enter to unlock..\n";
constexpr double prompt_seconds = 10;

// A lock of `pid` on the inode, as /proc/locks shows it.
struct Lock {
    bool found;
    bool blocked;   // a request waiting ("->")
    char kind[16];  // POSIX, FLOCK, OFDLCK
    char type[16];  // READ, WRITE
    char range[48]; // "0 EOF"
};

Lock lock_of(pid_t pid, ino_t inode)
{
    Lock lock{};
    FILE *f = fopen("/proc/locks", "re");
    if (f == nullptr)
        return lock;
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        const char *rest = strchr(line, ':');
        if (rest == nullptr)
            continue;
        ++rest;
        const bool blocked = strncmp(rest, " ->", 3) == 0;
        if (blocked)
            rest += 3;
        char kind[16], mode[16], type[16], device[64], start[24], end[24];
        int owner = 0;
        if (sscanf(rest, "%15s %15s %15s %d %63s %23s %23s", kind, mode, type, &owner, device,
                   start, end) != 7)
            continue;
        const char *colon = strrchr(device, ':');
        if (owner != pid || colon == nullptr ||
            strtoull(colon + 1, nullptr, 10) != static_cast<unsigned long long>(inode))
            continue;
        lock.found = true;
        lock.blocked = blocked;
        snprintf(lock.kind, sizeof lock.kind, "%s", kind);
        snprintf(lock.type, sizeof lock.type, "%s", type);
        snprintf(lock.range, sizeof lock.range, "%s %s", start, end);
        if (!blocked)
            break;
    }
    fclose(f);
    return lock;
}

const char *lock_shown(const Lock &lock, char *buffer, size_t size)
{
    if (!lock.found)
        snprintf(buffer, size, "no lock of its process on db.txt");
    else
        snprintf(buffer, size, "%s%s %s lock over %s",
                 lock.blocked ? "a waiting request for a " : "a ", lock.kind, lock.type,
                 lock.range);
    return buffer;
}

struct Holder {
    pid_t pid;
    ino_t inode;
    const char *type; // READ or WRITE, or nullptr for either
    bool blocked;     // wanted blocked
};

bool holds(Run & /*r*/, void *data)
{
    const auto *h = static_cast<const Holder *>(data);
    const Lock lock = lock_of(h->pid, h->inode);
    return lock.found && lock.blocked == h->blocked && strcmp(lock.kind, "POSIX") == 0 &&
           (h->type == nullptr || strcmp(lock.type, h->type) == 0) &&
           strcmp(lock.range, "0 EOF") == 0;
}

// A fresh directory with an empty db.txt; its inode, and the grader's descriptor of it.
int prepare(Program &p, ino_t &inode)
{
    scratch(p);
    scratch_file(p, "db.txt", "", 0644);
    char path[1200];
    snprintf(path, sizeof path, "%s/run-%d/db.txt", p.home, p.runs);
    const int fd = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {
    };
    inode = fd >= 0 && fstat(fd, &st) == 0 ? st.st_ino : 0;
    return fd;
}

bool grader_lock(int fd, short type)
{
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_SETLK, &lock) == 0;
}

// The holder alone, at a terminal: its three lines while it waits for Enter, its lock over
// the whole file, then "unlocked" after Enter, status 0.
void alone(Program &p, const char *type)
{
    ino_t inode = 0;
    const int fd = prepare(p, inode);
    Launch launch = run_launch();
    launch.terminal = true;
    Run r{};
    run_start(p, r, launch);
    const bool waits =
        run_wait_output(r, three_lines, prompt_seconds) && run_wait_reading(r, prompt_seconds);
    char before[Text::cap + 1];
    snprintf(before, sizeof before, "%s", r.out.data);
    Holder h{r.pid, inode, type, false};
    const bool locked = holds(r, &h);
    const Lock seen = lock_of(r.pid, inode);
    run_send(r, "\n");
    run_end(r, p);
    close(fd);
    char came[3000];
    char text[400];
    if (!waits)
        fail(p, "lines",
             "at a terminal, with db.txt there: expected its three lines, then a wait for "
             "Enter;\n%s",
             what_came(r, came, sizeof came));
    else
        same_output(p, "lines", r,
                    "Before entering into critical section\ninside the critical section....\n"
                    "Enter to unlock..\nunlocked",
                    0, "at a terminal, after Enter: \"unlocked\" without a newline");
    const char *check = strcmp(type, "WRITE") == 0 ? "write-lock" : "read-lock";
    verdict(p, check, waits && locked,
            "while it waits for Enter, /proc/locks must show its process holding a POSIX %s "
            "lock on db.txt from 0 to EOF (the whole file);\ngot %s%s",
            type, waits ? lock_shown(seen, text, sizeof text) : "no wait for Enter: ",
            waits ? "" : what_came(r, came, sizeof came));
}

} // namespace

void check_exclusivehold(Program &p)
{
    alone(p, "WRITE");

    // Against a write lock of the grader's: it must wait for it, then go on once it is free.
    ino_t inode = 0;
    const int fd = prepare(p, inode);
    grader_lock(fd, F_WRLCK);
    Launch launch = run_launch();
    launch.terminal = true;
    Run r{};
    run_start(p, r, launch);
    // Its lock's type is write-lock's check; here any request that waits will do.
    Holder h{r.pid, inode, nullptr, true};
    const bool waiting = run_wait_output(r, first_line, prompt_seconds) &&
                         run_wait_until(r, holds, &h, prompt_seconds);
    run_pump(r, 0.05);
    char during[600];
    shown(r.out.data, r.out.length, during, sizeof during);
    const bool only_first = strcmp(r.out.data, first_line) == 0;
    grader_lock(fd, F_UNLCK);
    h.blocked = false;
    const bool went_on = run_wait_output(r, three_lines, prompt_seconds) &&
                         run_wait_until(r, holds, &h, prompt_seconds);
    run_send(r, "\n");
    run_end(r, p);
    close(fd);
    char came[3000];
    if (!waiting || !only_first)
        fail(p, "waits-for-lock",
             "while another process holds a write lock on db.txt: expected \"Before entering "
             "into critical section\" alone and a waiting request for its lock (F_SETLKW) "
             "in /proc/locks;\ngot %s%s\n%s",
             waiting ? "a waiting request, and on standard output " : "no waiting request",
             waiting ? during : "", what_came(r, came, sizeof came));
    else
        verdict(p, "waits-for-lock", went_on,
                "once the other lock was released: expected the write lock granted and the "
                "next two lines at once;\n%s",
                what_came(r, came, sizeof came));
}

void check_sharedhold(Program &p)
{
    alone(p, "READ");
    const struct {
        const char *check;
        short grader;
        bool granted;
    } cases[] = {{"refused-at-once", F_WRLCK, false}, {"shares", F_RDLCK, true}};
    for (const auto &c : cases) {
        ino_t inode = 0;
        const int fd = prepare(p, inode);
        grader_lock(fd, c.grader);
        Launch launch = run_launch();
        launch.terminal = true;
        Run r{};
        run_start(p, r, launch);
        const bool lines =
            run_wait_output(r, three_lines, prompt_seconds) && run_wait_reading(r, prompt_seconds);
        const Lock seen = lock_of(r.pid, inode);
        run_send(r, "\n");
        run_end(r, p);
        close(fd);
        char came[3000];
        char text[400];
        if (!c.granted) {
            if (seen.found && seen.blocked)
                fail(p, c.check,
                     "sharedhold waited for the lock; it must ask without waiting, F_SETLK, "
                     "and go on when refused;\n%s",
                     what_came(r, came, sizeof came));
            else
                verdict(p, c.check, lines && !seen.found,
                        "while another process holds a write lock on db.txt: expected its "
                        "three lines at once, holding no lock, then a wait for Enter;\ngot %s,\n%s",
                        lock_shown(seen, text, sizeof text), what_came(r, came, sizeof came));
        } else {
            verdict(p, c.check,
                    lines && seen.found && !seen.blocked && strcmp(seen.type, "READ") == 0 &&
                        strcmp(seen.kind, "POSIX") == 0 && strcmp(seen.range, "0 EOF") == 0,
                    "while another process holds a read lock on db.txt: expected its three "
                    "lines, a POSIX READ lock of its own from 0 to EOF, then a wait for "
                    "Enter;\ngot %s,\n%s",
                    lock_shown(seen, text, sizeof text), what_came(r, came, sizeof came));
        }
    }
}
