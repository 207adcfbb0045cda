// Checks of the processes programs, run at a terminal: the ids they print against the
// processes the kernel shows (a child forked in a trace, the children found in /proc), the
// zombie's and the orphan's state and parent while they wait, forkappend's records.
#include "grade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// A child of `parent` in /proc, or 0.
pid_t child_of(pid_t parent)
{
    DIR *proc = opendir("/proc");
    pid_t found = 0;
    for (dirent *e = proc != nullptr ? readdir(proc) : nullptr; e != nullptr && found == 0;
         e = readdir(proc)) {
        char state = 0;
        pid_t ppid = 0;
        const pid_t pid = static_cast<pid_t>(atoi(e->d_name));
        if (pid > 0 && process_state(pid, state, ppid) && ppid == parent)
            found = pid;
    }
    if (proc != nullptr)
        closedir(proc);
    return found;
}

struct Family {
    pid_t parent;
    pid_t child;
};

bool child_found(Run & /*r*/, void *data)
{
    auto *f = static_cast<Family *>(data);
    f->child = child_of(f->parent);
    return f->child != 0;
}

bool gone(pid_t pid)
{
    char state = 0;
    pid_t parent = 0;
    return !process_state(pid, state, parent) || state == 'Z';
}

bool parent_gone(Run &r, void * /*unused*/)
{
    return r.exited || gone(r.pid);
}

bool ended(Run &r, void * /*unused*/)
{
    return r.exited;
}

// Whether standard output is made of the two processes' lines, each process's in its order,
// the two interleaved in any way.
bool interleaved(const Run &r, const char *const *first, int first_count, const char *const *second,
                 int second_count)
{
    if (r.out.dropped != 0)
        return false;
    int a = 0, b = 0;
    for (const char *line = r.out.data; *line != '\0';) {
        const size_t n = strcspn(line, "\n") + 1;
        if (line[n - 1] != '\n')
            return false;
        if (a < first_count && strlen(first[a]) == n && strncmp(line, first[a], n) == 0)
            ++a;
        else if (b < second_count && strlen(second[b]) == n && strncmp(line, second[b], n) == 0)
            ++b;
        else
            return false;
        line += n;
    }
    return a == first_count && b == second_count;
}

// The id in the child's "... PID is: N" line, when its id could not be found in /proc.
pid_t printed_id(const Run &r, const char *prefix)
{
    const char *at = strstr(r.out.data, prefix);
    return at != nullptr ? static_cast<pid_t>(atoi(at + strlen(prefix))) : 0;
}

} // namespace

void check_forkpids(Program &p)
{
    char came[3000];
    constexpr char parent_line[] = "Process id(PID) of the parent process is: ";
    constexpr char child_line[] = "Process id(PID) of the child process is: ";
    Launch launch = run_launch();
    launch.terminal = true;
    Run r{};
    scratch(p);
    run_once(p, r, launch);
    char expected[200];
    snprintf(expected, sizeof expected, "%s%d\n%s", parent_line, static_cast<int>(r.pid),
             child_line);
    const size_t head = strlen(expected);
    char *end = nullptr;
    const long child = r.out.length > head ? strtol(r.out.data + head, &end, 10) : 0;
    verdict(p, "lines",
            run_exit_status(r, 0) && strncmp(r.out.data, expected, head) == 0 && child > 0 &&
                child != r.pid && strcmp(end, "\n") == 0,
            "at a terminal: expected \"%s%d\" (its own id) once, then \"%sN\" with another "
            "id, status 0;\n%s",
            parent_line, static_cast<int>(r.pid), child_line, what_came(r, came, sizeof came));

    if (!p.can_trace) {
        not_gradable(p, "child", "%s", p.trace_reason);
        return;
    }
    // Traced: the process that forked, and the id fork gave it.
    launch.trace = "?fork,?vfork,clone,clone3";
    scratch(p);
    run_once(p, r, launch);
    static Text trace;
    run_trace(r, trace);
    int forker = 0;
    long forked = 0;
    for (const char *line = trace.data; *line != '\0';) {
        const size_t n = strcspn(line, "\n");
        int pid = 0;
        const char *result = strstr(line, ") = ");
        if (sscanf(line, "%d", &pid) == 1 && result != nullptr && result < line + n &&
            forked == 0) {
            forker = pid;
            forked = strtol(result + 4, nullptr, 10);
        }
        line += n;
        if (*line == '\n')
            ++line;
    }
    const char *shown_id = strstr(r.out.data, child_line);
    const long printed =
        shown_id != nullptr ? strtol(shown_id + strlen(child_line), nullptr, 10) : 0;
    verdict(p, "child", forked > 0 && printed == forked,
            "at a terminal: expected the child's id to be that of the child it forked "
            "(process %d forked %ld);\n%s",
            forker, forked, what_came(r, came, sizeof came));
}

void check_orphanmaker(Program &p)
{
    char came[3000];
    // Started by a shell, as at a prompt: the program is no session's leader, whose end
    // would hang up the terminal under its child. The shell waits for Enter before it ends.
    Launch launch = run_launch();
    launch.terminal = true;
    launch.seconds = 16;
    launch.path = "/bin/sh";
    launch.args[0] = "-c";
    launch.args[1] = "\"$0\"; status=$?; read -r line; exit $status";
    launch.args[2] = p.executable;
    Run r{};
    scratch(p);
    run_start(p, r, launch);
    Family program{r.pid, 0};
    run_wait_until(r, child_found, &program, 5);
    Family f{program.child, 0};
    if (program.child != 0)
        run_wait_until(r, child_found, &f, 5);
    // Until its parent ends: whether the child ended first (a zombie under it).
    bool ended_first = false;
    char state = 0;
    pid_t adopter = 0;
    while (program.child != 0 && !gone(program.child) && now() < r.deadline) {
        if (f.child != 0 && process_state(f.child, state, adopter) && state == 'Z' &&
            adopter == program.child)
            ended_first = true;
        run_pump(r, 0.01);
    }
    const double parent_took = now() - r.started;
    // Its parent gone, the child (alive, or a zombie if it has woken since) is adopted by
    // the nearest subreaper: this process. Reaped by its parent, it is gone.
    const bool there = f.child != 0 && process_state(f.child, state, adopter);
    constexpr char awake[] = "Child is now awake!\n";
    // Then the child's last line, at 12 s.
    while (strstr(r.out.data, awake) == nullptr && now() < r.deadline &&
           (r.output_fd >= 0 || r.error_fd >= 0))
        run_pump(r, 0.05);
    run_send(r, "\n");
    run_end(r, p);

    const pid_t child = f.child != 0 ? f.child : printed_id(r, "Child PID is: ");
    char parent_lines[3][64];
    char child_lines[3][64];
    snprintf(parent_lines[0], 64, "Parent PID is: %d\n", static_cast<int>(program.child));
    snprintf(parent_lines[1], 64, "Putting Parent to sleep for 10s\n");
    snprintf(parent_lines[2], 64, "Exiting parent!\n");
    snprintf(child_lines[0], 64, "Child PID is: %d\n", static_cast<int>(child));
    snprintf(child_lines[1], 64, "Putting child to sleep for 12s!\n");
    snprintf(child_lines[2], 64, "Child is now awake!\n");
    const char *const parent_order[] = {parent_lines[0], parent_lines[1], parent_lines[2]};
    const char *const child_order[] = {child_lines[0], child_lines[1], child_lines[2]};
    verdict(p, "lines", interleaved(r, parent_order, 3, child_order, 3),
            "at a terminal: expected the parent's lines \"Parent PID is: %d\", \"Putting Parent "
            "to sleep for 10s\", \"Exiting parent!\" and the child's \"Child PID is: %d\", "
            "\"Putting child to sleep for 12s!\", \"Child is now awake!\", each process's in "
            "order;\n%s",
            static_cast<int>(program.child), static_cast<int>(child),
            what_came(r, came, sizeof came));
    // At 10 s, without waiting for its child: the child is still there. A child that woke
    // after its parent's end (never a zombie under it) shows the parent ended in time, however
    // late a loaded machine let this checker see it; one that woke first (the fault of the
    // child, which "adopted" judges, or of a parent that slept on) needs the time.
    verdict(p, "parent-ends",
            run_exit_status(r, 0) && parent_took >= 9.5 && there &&
                (!ended_first || parent_took < 11.8),
            "expected the parent to end after 10 s with status 0, not waiting for its child;\n"
            "the parent %s after %.1f s%s",
            run_how(r, came, sizeof came), parent_took,
            f.child == 0 ? ", having forked no child"
            : there      ? ""
                         : ", its child reaped");
    verdict(p, "adopted", there && !ended_first && adopter == getpid(),
            "expected its child (first a child of it) to be adopted by the grader's checker (a "
            "subreaper, process %d) once it ends, before the child wakes at 12 s;\n%s",
            static_cast<int>(getpid()),
            f.child == 0  ? "no child of it was found"
            : ended_first ? "the child ended before its parent"
            : !there      ? "the child was reaped by its parent"
                          : "the child was not adopted");
}

void check_zombiemaker(Program &p)
{
    char came[3000];
    Launch launch = run_launch();
    launch.terminal = true;
    launch.seconds = 14;
    Run r{};
    scratch(p);
    run_start(p, r, launch);
    Family f{r.pid, 0};
    run_wait_until(r, child_found, &f, 5);
    // Its child a zombie under it at once, and still one when the parent ends.
    char state = 0;
    pid_t parent = 0;
    bool zombie = false;
    const double until = now() + 3;
    while (f.child != 0 && !zombie && !r.exited && now() < until) {
        zombie = process_state(f.child, state, parent) && state == 'Z' && parent == r.pid;
        if (!zombie)
            run_pump(r, 0.01);
    }
    const double zombie_at = now() - r.started;
    double lasted = zombie_at;
    while (zombie && !r.exited && now() < r.deadline) {
        if (!(process_state(f.child, state, parent) && state == 'Z' && parent == r.pid))
            break;
        lasted = now() - r.started;
        run_pump(r, 0.02);
    }
    // No longer a zombie under it: the parent is ending (its children handed on at its end).
    const bool parent_ending = run_wait_until(r, parent_gone, nullptr, 1);
    run_wait_until(r, ended, nullptr, r.deadline - now());
    const double parent_took = now() - r.started;
    run_end(r, p);

    const pid_t child = f.child != 0 ? f.child : printed_id(r, "Child PID is: ");
    char child_lines[2][64];
    char parent_lines[3][64];
    snprintf(child_lines[0], 64, "Child PID is: %d\n", static_cast<int>(child));
    snprintf(child_lines[1], 64, "Exiting child!\n");
    snprintf(parent_lines[0], 64, "Parent PID is: %d\n", static_cast<int>(r.pid));
    snprintf(parent_lines[1], 64, "Putting parent to sleep for 10s!\n");
    snprintf(parent_lines[2], 64, "Parent is now awake!\n");
    const char *const parent_order[] = {parent_lines[0], parent_lines[1], parent_lines[2]};
    const char *const child_order[] = {child_lines[0], child_lines[1]};
    verdict(p, "lines", run_exit_status(r, 0) && interleaved(r, parent_order, 3, child_order, 2),
            "at a terminal: expected the child's lines \"Child PID is: %d\", \"Exiting child!\" "
            "and the parent's \"Parent PID is: %d\", \"Putting parent to sleep for 10s!\", "
            "\"Parent is now awake!\", each process's in order, status 0;\n%s",
            static_cast<int>(child), static_cast<int>(r.pid), what_came(r, came, sizeof came));
    const bool stayed = zombie && parent_ending && parent_took >= 9.5;
    char why[200];
    if (f.child == 0 || !zombie)
        snprintf(why, sizeof why, "%s",
                 f.child == 0 ? "no child of it was found"
                              : "its child was not seen as a zombie under it");
    else
        snprintf(why, sizeof why, "a zombie under it from %.1f s to %.1f s; it %s after %.1f s",
                 zombie_at, lasted, run_how(r, came, sizeof came), parent_took);
    verdict(p, "zombie", stayed,
            "expected its child to end at once and stay a zombie (state Z) under it until it "
            "ends after 10 s;\n%s",
            why);
}

namespace
{

struct Appended {
    char path[1024];
    off_t size;
};

bool appended(Run & /*r*/, void *data)
{
    auto *a = static_cast<Appended *>(data);
    struct stat st {
    };
    return lstat(a->path, &st) == 0 && st.st_size >= a->size;
}

} // namespace

void check_forkappend(Program &p)
{
    constexpr char parent_record[] = "Parent Process\n";
    constexpr char child_record[] = "Child Process\n!";
    constexpr size_t record = 15;
    char want[300];
    const char *dir = scratch(p);
    Appended a{};
    snprintf(a.path, sizeof a.path, "%s/forkappend.txt", dir);
    bool whole = true;
    char content[256] = "";
    Run r{};
    for (int run = 1; run <= 3 && whole; ++run) {
        run_start(p, r, run_launch());
        // The parent does not wait: its child may write after it has ended.
        a.size = static_cast<off_t>(2 * record) * run;
        run_wait_until(r, appended, &a, 5);
        const double until = now() + 2;
        while (!appended(r, &a) && now() < until)
            run_pump(r, 0.01);
        run_end(r, p);
        const int fd = open(a.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const ssize_t length = fd >= 0 ? read(fd, content, sizeof content - 1) : -1;
        if (fd >= 0)
            close(fd);
        const char *last = content + 2 * record * static_cast<size_t>(run - 1);
        whole = length == static_cast<ssize_t>(2 * record) * run &&
                ((memcmp(last, parent_record, record) == 0 &&
                  memcmp(last + record, child_record, record) == 0) ||
                 (memcmp(last, child_record, record) == 0 &&
                  memcmp(last + record, parent_record, record) == 0));
        if (!whole)
            fail(p, "records",
                 "run %d time%s on a fresh directory: expected forkappend.txt to hold %d bytes, "
                 "each run's 30 the records \"Parent Process\\n\" and \"Child Process\\n!\" "
                 "in either order;\nit holds %s",
                 run, run == 1 ? "" : "s", 30 * run,
                 length < 0 ? "nothing: it is missing"
                            : shown(content, static_cast<size_t>(length), want, sizeof want));
    }
    if (whole)
        pass(p, "records");
    struct stat st {
    };
    const bool made = lstat(a.path, &st) == 0 && S_ISREG(st.st_mode);
    verdict(p, "mode", made && (st.st_mode & 07777) == 0700,
            "under the umask 022: expected forkappend.txt made with mode 0700 (rwx------);\n%s%o",
            !made ? "it is missing" : "its mode is 0", made ? st.st_mode & 07777 : 0);
}
