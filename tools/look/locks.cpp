// look locks FILE: the locks the kernel holds on FILE (/proc/locks), each holder and each
// waiter drawn as a bar over the file's bytes: its type, its process and its range, to the end
// of the file and beyond where the length is 0. A waiter follows the lock it waits behind.
#include "look.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{

constexpr int most_locks = 64;
constexpr int most_drawn = 16;
constexpr int label_width = 33;
constexpr int bar_width = 22;

struct lock {
    bool waits;
    char kind[word_size]; // POSIX, OFDLCK, FLOCK, LEASE...
    char type[word_size]; // READ, WRITE...
    pid_t pid;
    long long start;
    long long end; // -1: to the end of the file and beyond
    pid_t behind;  // the holder a waiter waits behind
};

// The fields of a line of /proc/locks after its number (and the "->" of a waiter):
// "POSIX ADVISORY WRITE 4242 fe:00:10960534 0 EOF".
enum field {
    field_kind,
    field_mode,
    field_type,
    field_pid,
    field_file,
    field_start,
    field_end,
    fields
};
constexpr int most_words = 12;

// parse_file: "MAJOR:MINOR:INODE" (the numbers of the device in hex) into its parts.
bool parse_file(const char *text, unsigned long *major_number, unsigned long *minor_number,
                unsigned long *inode_number)
{
    constexpr int hex = 16;
    char *end = nullptr;
    *major_number = strtoul(text, &end, hex);
    if (*end != ':')
        return false;
    *minor_number = strtoul(end + 1, &end, hex);
    if (*end != ':')
        return false;
    *inode_number = strtoul(end + 1, &end, decimal);
    return *end == '\0';
}

// parse_lock: one line of /proc/locks into LOCK when it is about the file DEVICE INODE;
// HOLDER follows the last lock held, which the waiters after it wait behind.
bool parse_lock(char *line, dev_t device, ino_t inode, lock *into, pid_t *holder)
{
    char *words[most_words];
    int count = 0;
    char *rest = line;
    while (count < most_words)
        if (char *word = strtok_r(rest, " \t", &rest))
            words[count++] = word;
        else
            break;
    int at = 1;
    bool waits = count > 1 && strcmp(words[1], "->") == 0;
    if (waits)
        at++;
    if (count < at + fields)
        return false;
    char **field = words + at;
    long pid = strtol(field[field_pid], nullptr, decimal);
    unsigned long major_number = 0;
    unsigned long minor_number = 0;
    unsigned long inode_number = 0;
    if (!parse_file(field[field_file], &major_number, &minor_number, &inode_number))
        return false;
    if (!waits)
        *holder = static_cast<pid_t>(pid);
    if (major_number != major(device) || minor_number != minor(device) || inode_number != inode)
        return false;
    into->waits = waits;
    snprintf(into->kind, sizeof into->kind, "%s", field[field_kind]);
    snprintf(into->type, sizeof into->type, "%s", field[field_type]);
    into->pid = static_cast<pid_t>(pid);
    into->start = strtoll(field[field_start], nullptr, decimal);
    into->end =
        strcmp(field[field_end], "EOF") == 0 ? -1 : strtoll(field[field_end], nullptr, decimal);
    into->behind = waits ? *holder : 0;
    return true;
}

void draw_lock(page *pg, const lock &held, long long extent)
{
    paint(pg, held.waits ? ink_waits : ink_held);
    putf(pg, "%s %-5s %d ", held.waits ? "waits" : "holds", held.type, static_cast<int>(held.pid));
    char command[word_size] = "?";
    char path[path_size];
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(held.pid));
    ssize_t got = held.pid > 0 ? read_text(path, command, sizeof command) : -1;
    if (got > 0 && command[got - 1] == '\n')
        command[got - 1] = '\0';
    else if (got <= 0)
        snprintf(command, sizeof command, "?");
    if (strcmp(held.kind, "POSIX") != 0) {
        char kind[line_size];
        snprintf(kind, sizeof kind, "(%s) %s", held.kind, command);
        put_name(pg, kind, label_width - 1 - pg->column, false);
    } else {
        put_name(pg, command, label_width - 1 - pg->column, false);
    }
    pad_to(pg, label_width);
    // Each column of the bar covers extent / bar_width bytes; the lock fills those it touches.
    for (int column = 0; column < bar_width; column++) {
        long long from = extent * column / bar_width;
        long long to = (extent * (column + 1) + bar_width - 1) / bar_width; // past its last byte
        if (to <= from)
            to = from + 1;
        bool in = held.start < to && (held.end < 0 || held.end >= from);
        if (!in)
            put(pg, " ");
        else if (held.waits)
            put(pg, pg->utf8 ? "\u2591" : ":");
        else
            put(pg, pg->utf8 ? "\u2588" : "#");
    }
    put(pg, held.end < 0 ? (pg->utf8 ? "\u25b6" : ">") : " ");
    char range[word_size];
    int used = held.end < 0 ? snprintf(range, sizeof range, " %lld to EOF", held.start)
                            : snprintf(range, sizeof range, " %lld to %lld", held.start, held.end);
    if (held.waits && held.behind > 0)
        snprintf(range + used, sizeof range - static_cast<size_t>(used), ", behind %d",
                 static_cast<int>(held.behind));
    put_name(pg, range, page_width - pg->column, false);
    end_line(pg);
}

} // namespace

int draw_locks(page *pg, const char *file)
{
    struct stat about {
    };
    if (stat(file, &about) != 0) {
        problem(pg, file, errno);
        return 1;
    }
    constexpr size_t locks_size = 1 << 20; // /proc/locks of a busy server
    static char text[locks_size];
    if (read_text("/proc/locks", text, sizeof text) < 0) {
        problem(pg, "/proc/locks", errno);
        return 1;
    }
    static lock locks[most_locks];
    int count = 0;
    int more = 0;
    pid_t holder = 0;
    char *rest = text;
    while (char *line = strtok_r(rest, "\n", &rest)) {
        lock held{};
        if (!parse_lock(line, about.st_dev, about.st_ino, &held, &holder))
            continue;
        if (count < most_locks)
            locks[count++] = held;
        else
            more++;
    }
    long long extent = about.st_size;
    for (int i = 0; i < count; i++)
        if (locks[i].end >= extent)
            extent = locks[i].end + 1;
    if (extent == 0)
        extent = 1;

    paint(pg, ink_title);
    put(pg, "locks on ");
    constexpr int after_name = 30; // " (N bytes)"
    put_name(pg, file, page_width - pg->column - after_name, true);
    putf(pg, " (%lld bytes)", static_cast<long long>(about.st_size));
    end_line(pg);
    if (count == 0) {
        put(pg, "none: no process holds or waits for a lock on it");
        end_line(pg);
        return 0;
    }
    paint(pg, ink_dim);
    pad_to(pg, label_width);
    char right[word_size];
    snprintf(right, sizeof right, "%lld", extent);
    put(pg, "0");
    if (about.st_size > 0 || extent > 1) {
        pad_to(pg, label_width + bar_width - static_cast<int>(strlen(right)));
        put(pg, right);
    }
    end_line(pg);
    int drawn = count > most_drawn ? most_drawn - 1 : count;
    for (int i = 0; i < drawn; i++)
        draw_lock(pg, locks[i], extent);
    if (drawn < count || more > 0) {
        paint(pg, ink_dim);
        putf(pg, "%s and %d more", pg->utf8 ? "\u2026" : "...", count - drawn + more);
        end_line(pg);
    }
    return 0;
}
