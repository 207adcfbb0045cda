// syslab-grade: grades a student's own versions of the syslab programs by what they make the
// kernel do, or a student's worksheet answers, and writes the results for a terminal or an
// autograder (Gradescope, PrairieLearn); also writes the bundles those autograders take.
//
//   syslab-grade DIR [PROGRAM...]                    the programs in DIR, or those named
//   syslab-grade --format gradescope --output F DIR  results.json for Gradescope
//   syslab-grade --answers FILE --student NAME       a worksheet's answers against NAME's key
//   syslab-grade --bundle gradescope FILE.zip        the autograder's setup and run scripts
#include "grade.h"
#include "results.h"
#include "sandbox.h"
#include "tool.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const Entry entries[] = {
    {"policyflip", "scheduling", false, check_policyflip},
    {"rrrange", "scheduling", false, check_rrrange},
    {"niceset", "scheduling", false, check_niceset},
    {"exclusivehold", "locking", false, check_exclusivehold},
    {"sharedhold", "locking", false, check_sharedhold},
    {"seekgap", "files", false, check_seekgap},
    {"sizedecho", "files", false, check_sizedecho},
    {"bytecat", "files", false, check_bytecat},
    {"stdinwait", "files", true, check_stdinwait},
    {"exclcreate", "files", false, check_exclcreate},
    {"fdflood", "files", false, check_fdflood},
    {"makelinks", "files", false, check_makelinks},
    {"forkpids", "processes", false, check_forkpids},
    {"orphanmaker", "processes", true, check_orphanmaker},
    {"zombiemaker", "processes", true, check_zombiemaker},
    {"forkappend", "processes", false, check_forkappend},
    {"execvlist", "launchers", false, check_execvlist},
    {"execlelist", "launchers", false, check_execlelist},
    {"execlplist", "launchers", false, check_execlplist},
    {"runother", "launchers", false, check_runother},
    {"envdump", "procinfo", false, check_envdump},
    {"pidtimer", "procinfo", false, check_pidtimer},
};
const size_t entry_count = sizeof entries / sizeof entries[0];

namespace
{

volatile sig_atomic_t interrupted = 0;

void on_signal(int signal_number)
{
    interrupted = signal_number;
}

Results results;

struct Options {
    const char *format = "text";
    const char *output = nullptr;
    const char *points = nullptr;
    const char *submission = nullptr;
    const char *answers = nullptr;
    const char *student = nullptr;
    const char *seed = nullptr;
    const char *bundle = nullptr;
    const char *bundle_file = nullptr;
    double time_limit = 120;   // the whole grading
    double program_limit = 60; // one program's build and checks
    int jobs = 0;
    const char *named[32] = {};
    int named_count = 0;
};

[[noreturn]] void usage(const char *problem)
{
    if (problem != nullptr)
        fprintf(stderr, "syslab-grade: %s\n", problem);
    fputs("usage: syslab-grade [--format text|gradescope|prairielearn] [--output FILE]\n"
          "                    [--points FILE] [--time-limit SECONDS] DIR [PROGRAM...]\n"
          "       syslab-grade --answers FILE (--student NAME | --seed N) [--format ...]"
          " [--output FILE]\n"
          "       syslab-grade --bundle gradescope|prairielearn FILE.zip\n",
          problem != nullptr ? stderr : stdout);
    exit(problem != nullptr ? 2 : 0);
}

const Entry *find_entry(const char *name)
{
    for (size_t i = 0; i < entry_count; ++i)
        if (strcmp(entries[i].name, name) == 0)
            return &entries[i];
    return nullptr;
}

Options parse(int argc, char *argv[])
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                char problem[128];
                snprintf(problem, sizeof problem, "%s needs %s", a, what);
                usage(problem);
            }
            return argv[++i];
        };
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            usage(nullptr);
        } else if (strcmp(a, "--format") == 0) {
            o.format = value("text, gradescope or prairielearn");
            if (strcmp(o.format, "text") != 0 && strcmp(o.format, "gradescope") != 0 &&
                strcmp(o.format, "prairielearn") != 0)
                usage("--format takes text, gradescope or prairielearn");
        } else if (strcmp(a, "--output") == 0) {
            o.output = value("a file");
        } else if (strcmp(a, "--points") == 0) {
            o.points = value("a file");
        } else if (strcmp(a, "--time-limit") == 0) {
            o.time_limit = atof(value("a number of seconds"));
            if (o.time_limit <= 0)
                usage("--time-limit takes a number of seconds above 0");
        } else if (strcmp(a, "--jobs") == 0) {
            o.jobs = atoi(value("a number"));
        } else if (strcmp(a, "--answers") == 0) {
            o.answers = value("a file");
        } else if (strcmp(a, "--student") == 0) {
            o.student = value("a name");
        } else if (strcmp(a, "--seed") == 0) {
            o.seed = value("a number");
        } else if (strcmp(a, "--bundle") == 0) {
            o.bundle = value("gradescope or prairielearn");
            o.bundle_file = value("a file");
            if (strcmp(o.bundle, "gradescope") != 0 && strcmp(o.bundle, "prairielearn") != 0)
                usage("--bundle takes gradescope or prairielearn");
        } else if (a[0] == '-' && a[1] != '\0') {
            char problem[128];
            snprintf(problem, sizeof problem, "unknown option %s", a);
            usage(problem);
        } else if (o.submission == nullptr && o.answers == nullptr) {
            o.submission = a;
        } else {
            if (find_entry(a) == nullptr) {
                char problem[160];
                snprintf(problem, sizeof problem, "no program %s in syslab", a);
                usage(problem);
            }
            if (o.named_count < 32)
                o.named[o.named_count++] = a;
        }
    }
    if (o.bundle != nullptr)
        return o;
    if (o.answers != nullptr) {
        if ((o.student == nullptr) == (o.seed == nullptr))
            usage("--answers needs --student NAME or --seed N (one of them)");
        return o;
    }
    if (o.submission == nullptr)
        usage("which directory to grade?");
    return o;
}

// One program graded in a process of its own: it builds the program, runs its checks, and
// reports the results on `fd`.
[[noreturn]] void grade_program(const Entry &e, size_t index, const char *submission, int fd)
{
    setpgid(0, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    Program p{};
    p.name = e.name;
    p.results_fd = fd;
    char message[4096];
    if (!program_setup(p, index, message, sizeof message)) {
        fail(p, "builds", "%s", message);
        _exit(0);
    }
    char line[64];
    const int n = snprintf(line, sizeof line, "uid\t%u\t%d\n", static_cast<unsigned>(p.uid),
                           p.own_uid ? 1 : 0);
    if (write(fd, line, static_cast<size_t>(n)) != n)
        _exit(1);
    if (!program_build(p, submission, message, sizeof message)) {
        fail(p, "builds", "%s", message);
        end_all(p);
        _exit(0);
    }
    pass(p, "builds");
    probe_tracing(p);
    e.checks(p);
    end_all(p);
    _exit(0);
}

struct Job {
    const Entry *entry;
    size_t index;
    double deadline;
    size_t pending_length;
    pid_t pid;
    int fd;
    uid_t uid;
    bool done;
    bool own_uid;
    char ended[200]; // why its grading ended early, if it did
    char pending[9000];
};

Job jobs[32];

Check *find_check(const char *program, const char *name)
{
    for (size_t i = 0; i < results.count; ++i)
        if (strcmp(results.checks[i].program, program) == 0 &&
            strcmp(results.checks[i].name, name) == 0)
            return &results.checks[i];
    return nullptr;
}

// One line from a program's grading: its uid, or a check's result.
void take_line(Job &j, char *line)
{
    char *fields[3] = {line, nullptr, nullptr};
    for (int f = 1; f < 3; ++f) {
        char *tab = fields[f - 1] == nullptr ? nullptr : strchr(fields[f - 1], '\t');
        if (tab != nullptr) {
            *tab = '\0';
            fields[f] = tab + 1;
        }
    }
    if (strcmp(fields[0], "uid") == 0 && fields[1] != nullptr && fields[2] != nullptr) {
        j.uid = static_cast<uid_t>(strtoul(fields[1], nullptr, 10));
        j.own_uid = fields[2][0] == '1';
        return;
    }
    if (fields[2] == nullptr)
        return;
    Check *c = find_check(j.entry->name, fields[1]);
    if (c == nullptr) {
        fprintf(stderr, "syslab-grade: %s's check %s is not in the points file (0 points)\n",
                j.entry->name, fields[1]);
        return;
    }
    c->state = strcmp(fields[0], "pass") == 0   ? State::passed
               : strcmp(fields[0], "skip") == 0 ? State::not_gradable
                                                : State::failed;
    size_t n = 0;
    for (const char *s = fields[2]; *s != '\0' && n + 1 < sizeof c->message; ++s) {
        if (*s == '\\' && s[1] != '\0') {
            ++s;
            c->message[n++] = *s == 'n' ? '\n' : *s == 't' ? '\t' : *s;
        } else {
            c->message[n++] = *s;
        }
    }
    c->message[n] = '\0';
    // Reported: no longer "not checked".
    c->graded = true;
}

void read_job(Job &j)
{
    const ssize_t n =
        read(j.fd, j.pending + j.pending_length, sizeof j.pending - 1 - j.pending_length);
    if (n <= 0) {
        close(j.fd);
        j.fd = -1;
        return;
    }
    j.pending_length += static_cast<size_t>(n);
    j.pending[j.pending_length] = '\0';
    char *start = j.pending;
    for (char *newline = strchr(start, '\n'); newline != nullptr; newline = strchr(start, '\n')) {
        *newline = '\0';
        take_line(j, start);
        start = newline + 1;
    }
    j.pending_length = strlen(start);
    memmove(j.pending, start, j.pending_length + 1);
    if (j.pending_length + 1 >= sizeof j.pending)
        j.pending_length = 0;
}

void stop_job(Job &j, const char *why)
{
    if (j.pid > 0) {
        kill(-j.pid, SIGKILL);
        kill(j.pid, SIGKILL);
        waitpid(j.pid, nullptr, 0);
        j.pid = -1;
    }
    if (j.own_uid)
        end_uid(j.uid);
    snprintf(j.ended, sizeof j.ended, "%s", why);
    while (j.fd >= 0)
        read_job(j);
    j.done = true;
}

// Grades the programs side by side, the long waits first, within the bounds.
void grade(const Options &o, const Entry **chosen, size_t count)
{
    size_t order[32] = {};
    size_t n = 0;
    for (int pass_number = 0; pass_number < 2; ++pass_number)
        for (size_t i = 0; i < count; ++i)
            if (chosen[i]->long_wait == (pass_number == 0))
                order[n++] = i;
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const size_t most = o.jobs > 0 ? static_cast<size_t>(o.jobs)
                                   : static_cast<size_t>(processors > 1 ? processors * 3 : 4);
    const double end = now() + o.time_limit;
    size_t started = 0;
    size_t running = 0;
    while (started < n || running > 0) {
        while (started < n && running < most && interrupted == 0) {
            Job &j = jobs[started];
            j = Job{};
            j.entry = chosen[order[started]];
            for (size_t e = 0; e < entry_count; ++e)
                if (&entries[e] == j.entry)
                    j.index = e;
            int pipe_fds[2];
            if (pipe2(pipe_fds, O_CLOEXEC) == -1) {
                perror("syslab-grade: pipe");
                exit(2);
            }
            fflush(nullptr);
            j.pid = fork();
            if (j.pid == 0) {
                close(pipe_fds[0]);
                grade_program(*j.entry, j.index, o.submission, pipe_fds[1]);
            }
            close(pipe_fds[1]);
            j.fd = pipe_fds[0];
            j.deadline = now() + o.program_limit;
            ++started;
            ++running;
        }
        pollfd fds[32];
        size_t which[32];
        nfds_t m = 0;
        for (size_t i = 0; i < started; ++i)
            if (!jobs[i].done && jobs[i].fd >= 0) {
                fds[m] = {jobs[i].fd, POLLIN, 0};
                which[m++] = i;
            }
        poll(fds, m, 20);
        for (nfds_t k = 0; k < m; ++k)
            if (fds[k].revents != 0)
                read_job(jobs[which[k]]);
        for (size_t i = 0; i < started; ++i) {
            Job &j = jobs[i];
            if (j.done)
                continue;
            if (j.pid > 0 && waitpid(j.pid, nullptr, WNOHANG) != 0)
                j.pid = -1;
            if (j.pid < 0 && j.fd < 0) {
                j.done = true;
            } else if (interrupted != 0) {
                stop_job(j, "the grading was interrupted");
            } else if (now() > end) {
                stop_job(j, "the whole grading ran out of time");
            } else if (now() > j.deadline) {
                char why[128];
                snprintf(why, sizeof why, "its grading took longer than %.0f s", o.program_limit);
                stop_job(j, why);
            }
            if (j.done)
                --running;
        }
        if (interrupted != 0 && started < n)
            n = started;
    }
    end_descendants();
}

int grade_submission(const Options &o, FILE *out)
{
    struct stat st {
    };
    if (stat(o.submission, &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "syslab-grade: %s is not a directory\n", o.submission);
        return 2;
    }
    const Entry *chosen[32];
    size_t count = 0;
    if (o.named_count > 0) {
        for (int i = 0; i < o.named_count; ++i)
            chosen[count++] = find_entry(o.named[i]);
    } else {
        for (size_t i = 0; i < entry_count; ++i)
            if (program_present(o.submission, entries[i].name))
                chosen[count++] = &entries[i];
    }
    char message[512];
    results.gradable = count > 0;
    if (count == 0)
        snprintf(results.reason, sizeof results.reason,
                 "%s holds none of the programs (PROGRAM.c, PROGRAM.cpp or PROGRAM)", o.submission);
    if (count > 0 && !sandbox_setup(message, sizeof message)) {
        results.gradable = false;
        snprintf(results.reason, sizeof results.reason, "%s", message);
        count = 0;
    }
    for (size_t i = 0; i < results.count; ++i) {
        Check &c = results.checks[i];
        for (size_t k = 0; k < count; ++k)
            if (strcmp(chosen[k]->name, c.program) == 0)
                c.state = State::failed;
    }
    if (count > 0)
        grade(o, chosen, count);
    // A check its program's grading never reported fails, saying why.
    for (size_t i = 0; i < results.count; ++i) {
        Check &c = results.checks[i];
        for (size_t k = 0; k < count; ++k) {
            if (strcmp(chosen[k]->name, c.program) != 0 || c.graded)
                continue;
            c.graded = true;
            c.state = State::failed;
            const char *why = "its program's grading ended before it";
            for (const Job &j : jobs)
                if (j.entry == chosen[k] && j.ended[0] != '\0')
                    why = j.ended;
            const Check *built = find_check(c.program, "builds");
            snprintf(c.message, sizeof c.message, "not checked: %s",
                     built != nullptr && built->graded && built->state == State::failed
                         ? "the program did not build"
                         : why);
        }
    }
    snprintf(results.title, sizeof results.title, "syslab-grade: %s, %zu program%s, %s",
             o.submission, count, count == 1 ? "" : "s", sandbox.mode);
    sandbox_cleanup();
    if (strcmp(o.format, "gradescope") == 0)
        write_gradescope(results, out);
    else if (strcmp(o.format, "prairielearn") == 0)
        write_prairielearn(results, out);
    else
        write_text(results, out);
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    if (interrupted != 0)
        return 128 + interrupted;
    return !results.gradable ? 2 : earned < possible ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const Options o = parse(argc, argv);
    if (o.bundle != nullptr)
        return write_bundle(o.bundle, o.bundle_file);

    struct sigaction action {
    };
    action.sa_handler = on_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    FILE *out = stdout;
    if (o.output != nullptr) {
        out = fopen(o.output, "we");
        if (out == nullptr) {
            fprintf(stderr, "syslab-grade: %s: %s\n", o.output, strerror(errno));
            return 2;
        }
    }
    int status = 0;
    if (o.answers != nullptr) {
        status = grade_answers(o.answers, o.student, o.seed, o.format, out);
    } else {
        char path[1024];
        const char *points = o.points != nullptr ? o.points : points_path(path, sizeof path);
        char message[1024];
        if (!read_points(points, results, message, sizeof message)) {
            fprintf(stderr, "syslab-grade: %s\n", message);
            return 2;
        }
        status = grade_submission(o, out);
    }
    if (fflush(out) != 0 || (out != stdout && fclose(out) != 0)) {
        fprintf(stderr, "syslab-grade: writing the results: %s\n", strerror(errno));
        return 2;
    }
    return status;
}
