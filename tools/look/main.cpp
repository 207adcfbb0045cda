// syslab-look: pictures of what the kernel holds, which no standard tool draws: the process
// tree around some processes (an orphan's new parent, a zombie under its living parent), their
// descriptor tables joined where they share one open file description, the record locks on a
// file with their holders and waiters, and a file's data and holes. It only reads.
//
//   syslab-look [--watch] tree PID...     (in a clone: ./look tree PID...)
//   syslab-look [--watch] files PID...
//   syslab-look [--watch] locks FILE
//   syslab-look [--watch] holes FILE
//
// --watch draws again each time the picture changes, until Ctrl-C. Colour on a terminal
// unless NO_COLOR is set; ASCII unless the locale is UTF-8.
#include "look.hpp"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <unistd.h>

namespace
{

constexpr int most_pids = 64;

void usage(FILE *stream)
{
    fputs("usage: syslab-look [--watch] tree PID...\n"
          "       syslab-look [--watch] files PID...\n"
          "       syslab-look [--watch] locks FILE\n"
          "       syslab-look [--watch] holes FILE\n"
          "Draws what the kernel holds: the processes around PIDs, their descriptor tables\n"
          "joined where they share an open file description, the record locks on FILE, or\n"
          "FILE's data and holes. --watch draws again at each change, until Ctrl-C.\n",
          stream);
}

enum kind { kind_tree, kind_files, kind_locks, kind_holes };

struct request {
    kind what;
    pid_t pids[most_pids];
    int count;
    const char *file;
};

int draw(page *pg, const request &asked)
{
    pg->length = 0;
    pg->column = 0;
    pg->text[0] = '\0';
    switch (asked.what) {
    case kind_tree:
        return draw_tree(pg, asked.pids, asked.count);
    case kind_files:
        return draw_files(pg, asked.pids, asked.count);
    case kind_locks:
        return draw_locks(pg, asked.file);
    case kind_holes:
        return draw_holes(pg, asked.file);
    }
    return 2;
}

bool write_all(const char *text, size_t length)
{
    while (length > 0) {
        ssize_t done = write(STDOUT_FILENO, text, length);
        if (done < 0)
            return false;
        text += done;
        length -= static_cast<size_t>(done);
    }
    return true;
}

// watch: the picture again every tenth of a second, shown when it changed: on a terminal
// in place of the last, with the time of the change.
int watch(page *pg, const request &asked)
{
    static page last;
    bool terminal = isatty(STDOUT_FILENO);
    constexpr long tenth = 100000000L;
    const timespec pause{0, tenth};
    last.length = 0;
    last.text[0] = '\0';
    pg->watching = false;
    int status = draw(pg, asked);
    if (status != 0) {
        if (!write_all(pg->text, pg->length))
            return 1;
        return status;
    }
    pg->watching = true;
    for (bool first = true;; first = false) {
        if (!first)
            draw(pg, asked);
        if (first || pg->length != last.length || memcmp(pg->text, last.text, pg->length) != 0) {
            char when[word_size];
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            tm local{};
            localtime_r(&now.tv_sec, &local);
            size_t used = strftime(when, sizeof when, "%H:%M:%S", &local);
            constexpr long per_ms = 1000000L;
            snprintf(when + used, sizeof when - used, ".%03ld, Ctrl-C to stop\n",
                     now.tv_nsec / per_ms);
            const char *clear = terminal ? "\033[H\033[2J" : (first ? "" : "\n");
            if (!write_all(clear, strlen(clear)) || !write_all(when, strlen(when)) ||
                !write_all(pg->text, pg->length))
                return 1;
            memcpy(last.text, pg->text, pg->length + 1);
            last.length = pg->length;
        }
        nanosleep(&pause, nullptr);
    }
}

} // namespace

int main(int argc, char **argv)
{
    bool watching = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; at++) {
        if (strcmp(argv[at], "--watch") == 0 || strcmp(argv[at], "-w") == 0) {
            watching = true;
        } else if (strcmp(argv[at], "--help") == 0 || strcmp(argv[at], "-h") == 0) {
            usage(stdout);
            return 0;
        } else if (strcmp(argv[at], "--") == 0) {
            at++;
            break;
        } else {
            fprintf(stderr, "syslab-look: unknown option %s\n", argv[at]);
            usage(stderr);
            return 2;
        }
    }
    if (at >= argc) {
        usage(stderr);
        return 2;
    }
    static request asked;
    const char *what = argv[at++];
    int operands = argc - at;
    if (strcmp(what, "tree") == 0 || strcmp(what, "files") == 0) {
        asked.what = what[0] == 't' ? kind_tree : kind_files;
        if (operands == 0 || operands > most_pids) {
            fprintf(stderr, "syslab-look: %s takes 1 to %d process ids\n", what, most_pids);
            return 2;
        }
        for (int i = 0; i < operands; i++) {
            asked.pids[i] = number(argv[at + i]);
            if (asked.pids[i] == 0) {
                fprintf(stderr, "syslab-look: %s is not a process id\n", argv[at + i]);
                return 2;
            }
        }
        asked.count = operands;
    } else if (strcmp(what, "locks") == 0 || strcmp(what, "holes") == 0) {
        asked.what = what[0] == 'l' ? kind_locks : kind_holes;
        if (operands != 1) {
            fprintf(stderr, "syslab-look: %s takes one file\n", what);
            return 2;
        }
        asked.file = argv[at];
    } else {
        fprintf(stderr, "syslab-look: no picture %s (tree, files, locks or holes)\n", what);
        usage(stderr);
        return 2;
    }

    setlocale(LC_ALL, "");
    static page pg;
    pg.utf8 = strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    const char *no_colour = getenv("NO_COLOR");
    const char *term = getenv("TERM");
    pg.colour = isatty(STDOUT_FILENO) && (no_colour == nullptr || no_colour[0] == '\0') &&
                (term == nullptr || strcmp(term, "dumb") != 0);
    if (watching)
        return watch(&pg, asked);
    int status = draw(&pg, asked);
    if (!write_all(pg.text, pg.length)) {
        perror("syslab-look: standard output");
        return 1;
    }
    return status;
}
