// look files PID...: the descriptor tables of PIDs side by side, one row for each open file
// description, so that descriptors sharing one (after dup or fork) meet on one row. The kernel
// says which do: kcmp(KCMP_FILE), which orders the descriptions too. Separate opens of one
// file with the same offset and flags stay apart, and many of them (a table filled by opening
// the same names over and over) are drawn as one row with their count.
#include "look.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{

constexpr int most_processes = 6;
constexpr int most_descriptors = 8192;
constexpr int most_rows = 16; // drawn; the rest counted
constexpr int link_size = 256;

struct descriptor {
    int owner; // index of its process
    pid_t pid;
    int fd;
    long long offset;
    unsigned flags; // the description's: O_CLOEXEC, the descriptor's own, left out
    dev_t device;
    ino_t inode;
    mode_t mode;
    int row;
    char link[link_size];
};

struct row {
    int first;  // the member with the lowest process and descriptor
    int opens;  // descriptions in the row: 1, or more of separate opens drawn as one
    int shares; // descriptors in its description
};

struct tables {
    descriptor entry[most_descriptors];
    int count;
    row rows[most_descriptors];
    int row_count;
    int member_row[most_descriptors];
    int kcmp_error;
    bool truncated;
};

int parse_fd(const char *text)
{
    constexpr int base = 10;
    long value = 0;
    if (*text == '\0')
        return -1;
    for (; *text != '\0'; text++) {
        if (*text < '0' || *text > '9' || value > INT_MAX / base)
            return -1;
        value = value * base + (*text - '0');
    }
    return value > INT_MAX ? -1 : static_cast<int>(value);
}

// read_descriptor: what /proc says of descriptor FD of PID; false when it closed meanwhile.
bool read_descriptor(pid_t pid, int fd, descriptor *into)
{
    char path[path_size];
    snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(pid), fd);
    ssize_t length = readlink(path, into->link, sizeof into->link - 1);
    if (length < 0)
        return false;
    into->link[length] = '\0';
    struct stat file {
    };
    if (stat(path, &file) == 0) {
        into->device = file.st_dev;
        into->inode = file.st_ino;
        into->mode = file.st_mode;
    } else {
        into->device = 0;
        into->inode = 0;
        into->mode = 0;
    }
    char text[text_size];
    snprintf(path, sizeof path, "/proc/%d/fdinfo/%d", static_cast<int>(pid), fd);
    if (read_text(path, text, sizeof text) < 0)
        return false;
    // "pos:\t0\nflags:\t0100002\n...": the offset in decimal, the flags in octal.
    constexpr int octal = 8;
    const char *pos = strstr(text, "pos:");
    const char *flag_text = strstr(text, "flags:");
    if (pos == nullptr || flag_text == nullptr)
        return false;
    char *end = nullptr;
    long long offset = strtoll(pos + strlen("pos:"), &end, decimal);
    if (end == pos + strlen("pos:"))
        return false;
    auto flags = static_cast<unsigned>(strtoul(flag_text + strlen("flags:"), &end, octal));
    if (end == flag_text + strlen("flags:"))
        return false;
    into->pid = pid;
    into->fd = fd;
    into->offset = offset;
    into->flags = flags & ~static_cast<unsigned>(O_CLOEXEC);
    return true;
}

// same_key: whether two descriptors may share one description: the same file, offset and
// flags. Only those the kernel is asked about.
int compare_key(const descriptor *a, const descriptor *b)
{
    if (a->device != b->device)
        return a->device < b->device ? -1 : 1;
    if (a->inode != b->inode)
        return a->inode < b->inode ? -1 : 1;
    if (a->flags != b->flags)
        return a->flags < b->flags ? -1 : 1;
    if (a->offset != b->offset)
        return a->offset < b->offset ? -1 : 1;
    return strcmp(a->link, b->link);
}

int compare_place(const descriptor *a, const descriptor *b)
{
    if (a->owner != b->owner)
        return a->owner < b->owner ? -1 : 1;
    return (a->fd > b->fd) - (a->fd < b->fd);
}

// kernel_order: the kernel's order of the two descriptions (kcmp), 0 when they are one; the
// descriptors' own order when the kernel does not say, with the reason kept when it refuses.
int kernel_order(const descriptor *a, const descriptor *b, tables *tabs)
{
    if (tabs->kcmp_error == 0) {
        long rc = syscall(SYS_kcmp, a->pid, b->pid, KCMP_FILE, a->fd, b->fd);
        if (rc == 0)
            return 0;
        if (rc == 1)
            return -1;
        if (rc == 2)
            return 1;
        // EBADF or ESRCH: closed or gone since it was read, so not one with the other.
        if (rc < 0 && errno != EBADF && errno != ESRCH)
            tabs->kcmp_error = errno;
    }
    int order = compare_place(a, b);
    return order == 0 ? 0 : 2 * order;
}

int by_description(const void *left, const void *right, void *context)
{
    const auto *a = static_cast<const descriptor *>(left);
    const auto *b = static_cast<const descriptor *>(right);
    int order = compare_key(a, b);
    if (order != 0)
        return order;
    order = kernel_order(a, b, static_cast<tables *>(context));
    if (order != 0)
        return order < 0 ? -1 : 1;
    return compare_place(a, b);
}

int row_by_place(const void *left, const void *right, void *context)
{
    const auto *tabs = static_cast<const tables *>(context);
    return compare_place(&tabs->entry[static_cast<const row *>(left)->first],
                         &tabs->entry[static_cast<const row *>(right)->first]);
}

bool seekable(mode_t mode)
{
    return S_ISREG(mode) || S_ISBLK(mode) || S_ISDIR(mode);
}

void flag_words(unsigned flags, char *text, size_t size)
{
    const char *access = "r";
    if ((flags & O_ACCMODE) == O_WRONLY)
        access = "w";
    else if ((flags & O_ACCMODE) == O_RDWR)
        access = "rw";
    if ((flags & O_PATH) != 0)
        access = "path";
    snprintf(text, size, "%s%s%s%s%s", access, (flags & O_APPEND) != 0 ? ",append" : "",
             (flags & O_NONBLOCK) != 0 ? ",nonblock" : "", (flags & O_SYNC) != 0 ? ",sync" : "",
             (flags & O_DIRECT) != 0 ? ",direct" : "");
}

// put_fds: the descriptors FDS (ascending) in WIDTH columns: all, or the first ones, an
// ellipsis and the last.
void put_fds(page *pg, const int *fds, int count, int width)
{
    char text[line_size] = "";
    size_t used = 0;
    for (int i = 0; i < count; i++)
        used += static_cast<size_t>(
            snprintf(text + used, sizeof text - used, "%s%d", i > 0 ? " " : "", fds[i]));
    if (static_cast<int>(used) <= width || count == 1) {
        put(pg, text);
        return;
    }
    char last[word_size];
    snprintf(last, sizeof last, " %s %d", pg->utf8 ? "\u2026" : "..", fds[count - 1]);
    int room = width - (pg->utf8 ? 2 : 3) - static_cast<int>(strlen(last)) + (pg->utf8 ? 2 : 0);
    used = 0;
    text[0] = '\0';
    for (int i = 0; i < count - 1; i++) {
        char one[word_size];
        int length = snprintf(one, sizeof one, "%s%d", i > 0 ? " " : "", fds[i]);
        if (static_cast<int>(used) + length > room)
            break;
        memcpy(text + used, one, static_cast<size_t>(length) + 1);
        used += static_cast<size_t>(length);
    }
    put(pg, text);
    put(pg, last);
}

// read_table: the descriptors of PID, the OWNER-th process, into TABS, and "PID name" into
// NAME; false, said as a problem, when it is gone or may not be looked at.
bool read_table(page *pg, pid_t pid, int owner, tables *tabs, char *name, size_t size)
{
    char path[path_size];
    char what[word_size];
    snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    char comm[word_size] = "";
    ssize_t got = read_text(path, comm, sizeof comm);
    if (got > 0 && comm[got - 1] == '\n')
        comm[got - 1] = '\0';
    snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DIR *fds = got < 0 ? nullptr : opendir(path);
    if (fds == nullptr) {
        int error = errno;
        if (error == ENOENT || error == ESRCH) {
            snprintf(what, sizeof what, "no process %d", static_cast<int>(pid));
            error = 0;
        } else {
            snprintf(what, sizeof what, "process %d", static_cast<int>(pid));
        }
        problem(pg, what, error);
        snprintf(name, size, "%d ended", static_cast<int>(pid));
        return false;
    }
    snprintf(name, size, "%d %s", static_cast<int>(pid), comm);
    while (const dirent *entry = readdir(fds)) {
        int fd = parse_fd(entry->d_name);
        if (fd < 0)
            continue;
        if (tabs->count == most_descriptors) {
            tabs->truncated = true;
            break;
        }
        descriptor &slot = tabs->entry[tabs->count];
        slot.owner = owner;
        if (read_descriptor(pid, fd, &slot))
            tabs->count++;
    }
    closedir(fds);
    return true;
}

struct layout {
    int processes;
    int cell; // columns of each process
    int arrow;
    int flags;
    int file;
};

void draw_row(page *pg, const tables *tabs, const row &each, const layout &lay, const char *cwd)
{
    const descriptor &first = tabs->entry[each.first];
    static int fds[most_descriptors];
    bool shared = each.shares > 1;
    int started = -1;
    for (int owner = 0; owner < lay.processes; owner++) {
        int count = 0;
        for (int i = 0; i < tabs->count; i++)
            if (tabs->member_row[i] == static_cast<int>(&each - tabs->rows) &&
                tabs->entry[i].owner == owner)
                fds[count++] = tabs->entry[i].fd;
        // ascending: the members are in the order of the description, not of the descriptor
        qsort(fds, static_cast<size_t>(count), sizeof fds[0], [](const void *a, const void *b) {
            return *static_cast<const int *>(a) - *static_cast<const int *>(b);
        });
        int end = (owner + 1) * lay.cell;
        if (count > 0) {
            if (started < 0)
                started = owner;
            paint(pg, shared ? ink_shared : ink_plain);
            put_fds(pg, fds, count, lay.cell - 3);
            put(pg, " ");
            while (pg->column < end)
                put(pg, shared ? (pg->utf8 ? "\u2501" : "=") : (pg->utf8 ? "\u2500" : "-"));
        } else if (started >= 0) {
            paint(pg, ink_dim);
            while (pg->column < end)
                put(pg, pg->utf8 ? "\u2508" : ".");
        } else {
            pad_to(pg, end);
        }
    }
    paint(pg, shared ? ink_shared : ink_plain);
    put(pg, pg->utf8 ? "\u25b6" : ">");
    paint(pg, ink_plain);
    if (seekable(first.mode))
        putf(pg, "%*lld", lay.arrow - 1, first.offset);
    else
        putf(pg, "%*s", lay.arrow - 1, "-");
    put(pg, "  ");
    char flags[word_size];
    flag_words(first.flags, flags, sizeof flags);
    put_name(pg, flags, lay.flags, false);
    pad_to(pg, lay.processes * lay.cell + lay.arrow + 2 + lay.flags + 1);
    const char *name = first.link;
    size_t cwd_length = strlen(cwd);
    if (cwd_length > 1 && strncmp(name, cwd, cwd_length) == 0 && name[cwd_length] == '/')
        name += cwd_length + 1;
    char opens[word_size] = "";
    if (each.opens > 1)
        snprintf(opens, sizeof opens, tabs->kcmp_error == 0 ? " (%d opens)" : " (%d of them)",
                 each.opens);
    put_name(pg, name, page_width - pg->column - static_cast<int>(strlen(opens)), true);
    put(pg, opens);
    end_line(pg);
}

} // namespace

int draw_files(page *pg, const pid_t *pids, int count)
{
    static tables tabs;
    tabs.count = 0;
    tabs.row_count = 0;
    tabs.kcmp_error = 0;
    tabs.truncated = false;
    if (count > most_processes) {
        fprintf(stderr, "syslab-look: files: at most %d processes side by side\n", most_processes);
        return 2;
    }
    int status = 0;
    int shown = 0;
    char names[most_processes][word_size];
    for (int owner = 0; owner < count; owner++) {
        if (read_table(pg, pids[owner], owner, &tabs, names[owner], sizeof names[owner]))
            shown++;
        else
            status = 1;
    }
    if (shown == 0)
        return 1;

    qsort_r(tabs.entry, static_cast<size_t>(tabs.count), sizeof tabs.entry[0], by_description,
            &tabs);
    // One row for each description, the kernel's word deciding; then the rows of a process's
    // separate opens of one file, alike in all else, drawn as one.
    bool candidates = false;
    for (int i = 0; i < tabs.count; i++) {
        bool alike = i > 0 && compare_key(&tabs.entry[i - 1], &tabs.entry[i]) == 0;
        candidates = candidates || alike;
        bool one = alike && tabs.kcmp_error == 0 &&
                   syscall(SYS_kcmp, tabs.entry[i - 1].pid, tabs.entry[i].pid, KCMP_FILE,
                           tabs.entry[i - 1].fd, tabs.entry[i].fd) == 0;
        if (one) {
            tabs.member_row[i] = tabs.member_row[i - 1];
            row &each = tabs.rows[tabs.member_row[i]];
            each.shares++;
            if (compare_place(&tabs.entry[i], &tabs.entry[each.first]) < 0)
                each.first = i;
        } else {
            tabs.member_row[i] = tabs.row_count;
            tabs.rows[tabs.row_count++] = row{i, 1, 1};
        }
    }
    int descriptions = tabs.row_count;
    // Alike rows of one descriptor each, of one process, are merged into the first of them.
    int kept = 0;
    static int renumber[most_descriptors];
    for (int each = 0; each < tabs.row_count; each++) {
        renumber[each] = kept;
        const descriptor &entry = tabs.entry[tabs.rows[each].first];
        if (kept > 0 && tabs.rows[each].shares == 1) {
            row &before = tabs.rows[kept - 1];
            const descriptor &b = tabs.entry[before.first];
            if (before.shares == 1 && b.owner == entry.owner && compare_key(&b, &entry) == 0) {
                renumber[each] = kept - 1;
                before.opens++;
                if (compare_place(&entry, &b) < 0)
                    before.first = tabs.rows[each].first;
                continue;
            }
        }
        tabs.rows[kept++] = tabs.rows[each];
    }
    // Merged rows keep one member count each: a merged row's members are one descriptor per
    // open, so .shares stays 1.
    for (int i = 0; i < tabs.count; i++)
        tabs.member_row[i] = renumber[tabs.member_row[i]];
    tabs.row_count = kept;
    // Rows in the order of their lowest descriptor, the member table following.
    static int place[most_descriptors];
    static row sorted[most_descriptors];
    for (int each = 0; each < tabs.row_count; each++)
        sorted[each] = tabs.rows[each];
    // remember each row's old index through its first member
    qsort_r(sorted, static_cast<size_t>(tabs.row_count), sizeof sorted[0], row_by_place, &tabs);
    for (int each = 0; each < tabs.row_count; each++)
        place[tabs.member_row[sorted[each].first]] = each;
    for (int i = 0; i < tabs.count; i++)
        tabs.member_row[i] = place[tabs.member_row[i]];
    for (int each = 0; each < tabs.row_count; each++)
        tabs.rows[each] = sorted[each];

    layout lay{};
    lay.processes = count;
    // The columns: the descriptors of each process, then the offset, the flags, the file.
    constexpr int one_cell = 24;
    constexpr int two_cells = 17;
    constexpr int all_cells = 36;
    constexpr int offset_width = 9;
    constexpr int flags_width = 9;
    lay.cell = count == 1 ? one_cell : (count == 2 ? two_cells : all_cells / count);
    lay.arrow = offset_width;
    lay.flags = flags_width;
    char cwd[PATH_MAX] = "";
    if (getcwd(cwd, sizeof cwd) == nullptr)
        cwd[0] = '\0';

    paint(pg, ink_title);
    put(pg, count == 1 ? "descriptor table" : "descriptor tables");
    put(pg, ", one row for each open file description");
    end_line(pg);
    for (int owner = 0; owner < count; owner++) {
        paint(pg, ink_asked);
        put_name(pg, names[owner], lay.cell - 1, false);
        paint(pg, ink_plain);
        pad_to(pg, (owner + 1) * lay.cell);
    }
    paint(pg, ink_dim);
    putf(pg, "%*s  %-*s file", lay.arrow, "offset", lay.flags, "flags");
    end_line(pg);
    int drawn = tabs.row_count > most_rows ? most_rows - 1 : tabs.row_count;
    for (int each = 0; each < drawn; each++)
        draw_row(pg, &tabs, tabs.rows[each], lay, cwd);
    paint(pg, ink_dim);
    if (drawn < tabs.row_count)
        putf(pg, "%s and %d rows more; ", pg->utf8 ? "\u2026" : "...", tabs.row_count - drawn);
    putf(pg, "%d descriptor%s, %d open file description%s%s", tabs.count,
         tabs.count == 1 ? "" : "s", descriptions, descriptions == 1 ? "" : "s",
         tabs.truncated ? " (and more not read)" : "");
    end_line(pg);
    if (candidates && tabs.kcmp_error != 0) {
        paint(pg, ink_waits);
        putf(pg, "kcmp refused here (%s): descriptors are drawn apart, shared or not",
             strerror(tabs.kcmp_error));
        end_line(pg);
    }
    return status;
}
