// look holes FILE: where FILE's data and holes lie, as lseek's SEEK_DATA and SEEK_HOLE find
// them, drawn over its size, with the blocks the file system allocated for it.
#include "look.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int most_extents = 4096;
constexpr int most_listed = 12;
constexpr int bar_width = page_width - 2;

struct extent {
    long long start;
    long long end; // past its last byte
    bool data;
};

struct extents {
    extent list[most_extents];
    int count;
    int more;
};

void add(extents *found_extents, long long start, long long end, bool data)
{
    if (start >= end)
        return;
    if (found_extents->count < most_extents)
        found_extents->list[found_extents->count++] = extent{start, end, data};
    else
        found_extents->more++;
}

// find: the extents of FD over SIZE bytes; false with errno when the file system cannot say.
bool find(int fd, long long size, extents *found_extents)
{
    long long at = 0;
    while (at < size) {
        off_t data = lseek(fd, at, SEEK_DATA);
        if (data < 0) {
            if (errno != ENXIO)
                return false;
            add(found_extents, at, size, false); // no data past AT: a hole to the end
            return true;
        }
        add(found_extents, at, data, false);
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            return false;
        add(found_extents, data, hole, true);
        at = hole;
    }
    return true;
}

} // namespace

int draw_holes(page *pg, const char *file)
{
    // O_NONBLOCK: a FIFO named by mistake is not waited on, but refused below.
    int fd = open(file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat about {
    };
    if (fd < 0 || fstat(fd, &about) != 0) {
        problem(pg, file, errno);
        if (fd >= 0)
            close(fd);
        return 1;
    }
    if (!S_ISREG(about.st_mode)) {
        close(fd);
        char what[line_size];
        snprintf(what, sizeof what, "%s: not a regular file", file);
        problem(pg, what, 0);
        return 1;
    }
    static extents found_extents;
    found_extents.count = 0;
    found_extents.more = 0;
    long long size = about.st_size;
    bool found = find(fd, size, &found_extents);
    int error = errno;
    close(fd);
    if (!found) {
        problem(pg, file, error);
        return 1;
    }

    constexpr long long block = 512;
    paint(pg, ink_title);
    put(pg, "data and holes of ");
    constexpr int after_name = 30; // ": N bytes"
    put_name(pg, file, page_width - pg->column - after_name, true);
    putf(pg, ": %lld bytes", size);
    end_line(pg);
    if (size == 0) {
        put(pg, "empty: no data, no holes");
        end_line(pg);
        return 0;
    }
    char right[word_size];
    snprintf(right, sizeof right, "%lld", size);
    paint(pg, ink_dim);
    put(pg, " 0");
    pad_to(pg, 1 + bar_width - static_cast<int>(strlen(right)));
    put(pg, right);
    end_line(pg);
    put(pg, " ");
    // A column holds data when any byte it covers does.
    int next = 0;
    for (int column = 0; column < bar_width; column++) {
        long long from = size * column / bar_width;
        long long to = (size * (column + 1) + bar_width - 1) / bar_width; // past the last byte
        if (to <= from)
            to = from + 1;
        while (next < found_extents.count && found_extents.list[next].end <= from)
            next++;
        bool data = false;
        for (int i = next; i < found_extents.count && found_extents.list[i].start < to; i++)
            data = data || found_extents.list[i].data;
        paint(pg, data ? ink_data : ink_dim);
        put(pg, data ? (pg->utf8 ? "\u2588" : "#") : (pg->utf8 ? "\u2591" : "."));
    }
    end_line(pg);
    int listed = found_extents.count > most_listed ? most_listed - 1 : found_extents.count;
    for (int i = 0; i < listed; i++) {
        paint(pg, found_extents.list[i].data ? ink_data : ink_dim);
        putf(pg, " %s %12lld to %-12lld %12lld bytes", found_extents.list[i].data ? "data" : "hole",
             found_extents.list[i].start, found_extents.list[i].end - 1,
             found_extents.list[i].end - found_extents.list[i].start);
        end_line(pg);
    }
    if (listed < found_extents.count || found_extents.more > 0) {
        paint(pg, ink_dim);
        putf(pg, " %s and %d more", pg->utf8 ? "\u2026" : "...",
             found_extents.count - listed + found_extents.more);
        end_line(pg);
    }
    long long data = 0;
    for (int i = 0; i < found_extents.count; i++)
        if (found_extents.list[i].data)
            data += found_extents.list[i].end - found_extents.list[i].start;
    putf(pg, " %lld blocks of %lld bytes allocated (%lld bytes) for %lld bytes of data",
         static_cast<long long>(about.st_blocks), block,
         static_cast<long long>(about.st_blocks) * block, data);
    end_line(pg);
    return 0;
}
