// The grader's containment and runs: each program of a submission runs in directories of its
// own, as a uid of its own when the grader is root, with limits on time, processes,
// descriptors, file size and output, and every process it leaves is ended afterwards.
#include "sandbox.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

Sandbox sandbox;

namespace
{

constexpr uid_t nobody = 65534;
constexpr int processes_allowed = 48; // a uid's processes at once
constexpr int default_open_files = 256;
constexpr rlim_t file_size_limit = 4 << 20; // any one file a program writes
constexpr rlim_t memory_limit = 1024UL << 20;
constexpr rlim_t compile_memory_limit = 4096UL << 20;
constexpr int cpu_seconds = 10;
constexpr int compile_seconds = 60;
constexpr char tmpfs_options[] = "size=32m,nr_inodes=4096,mode=0711";
const char *const default_environment[] = {"PATH=/usr/local/bin:/usr/bin:/bin", "LC_ALL=C",
                                           "GREETING=hello", nullptr};

void sleep_ms(int ms)
{
    timespec pause{0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

// The path's directory components up to the last slash, made as root 0711.
bool make_directory(const char *path, mode_t mode, uid_t owner, gid_t group)
{
    if (mkdir(path, mode) == -1 && errno != EEXIST)
        return false;
    struct stat st {
    };
    if (lstat(path, &st) == -1 || !S_ISDIR(st.st_mode))
        return false;
    if (chmod(path, mode) == -1)
        return false;
    if (geteuid() == 0 && chown(path, owner, group) == -1)
        return false;
    return true;
}

bool uid_has_processes(uid_t uid);

// Whether an account has `uid`, or any process runs as it.
bool uid_in_use(uid_t uid)
{
    return getpwuid(uid) != nullptr || uid_has_processes(uid);
}

// Whether this process may take `uid` (it lies inside the user namespace's map).
bool uid_mapped(uid_t uid)
{
    FILE *f = fopen("/proc/self/uid_map", "re");
    if (f == nullptr)
        return true;
    bool mapped = false;
    unsigned long inside = 0, outside = 0, count = 0;
    while (fscanf(f, "%lu %lu %lu", &inside, &outside, &count) == 3)
        if (uid >= inside && uid - inside < count)
            mapped = true;
    fclose(f);
    return mapped;
}

// The number of processes whose real uid is ours (RLIMIT_NPROC counts them), as this PID
// namespace's /proc shows them.
int own_process_count()
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    int count = 0;
    for (dirent *e = readdir(proc); e != nullptr; e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        char path[300];
        snprintf(path, sizeof path, "/proc/%s", e->d_name);
        struct stat st {
        };
        if (stat(path, &st) == 0 && st.st_uid == getuid())
            ++count;
    }
    closedir(proc);
    return count;
}

// The kernel's count of this user's processes, which /proc shows only in part where other PID
// namespaces (containers beside this one, run as the same uid) hold some: the smallest limit
// under which a fork still succeeds, less one. Not root, whom the limit does not hold.
rlim_t user_process_count(rlim_t at_least)
{
    rlimit held{};
    getrlimit(RLIMIT_NPROC, &held);
    rlim_t low = at_least;
    rlim_t high = held.rlim_max == RLIM_INFINITY ? rlim_t{1} << 22 : held.rlim_max;
    while (low + 1 < high) { // a fork fails under a limit of `low`, if any, succeeds under `high`
        const rlim_t middle = low + (high - low) / 2;
        rlimit trial{middle, held.rlim_max};
        setrlimit(RLIMIT_NPROC, &trial);
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        if (child > 0) {
            waitpid(child, nullptr, 0);
            high = middle;
        } else {
            low = middle;
        }
    }
    setrlimit(RLIMIT_NPROC, &held);
    return high - 1;
}

// The process limit of a run, taken before its fork (the trial forks, in the child, would be
// taken by the checks for the program's own): 48 for a uid of its own; else 48 beyond this
// user's processes, which other gradings beside it share, and none for the compiler, which
// runs none of the program's code (RLIM_INFINITY: no limit set).
rlim_t process_limit(const Program &p, bool compile)
{
    if (p.own_uid)
        return processes_allowed;
    if (compile)
        return RLIM_INFINITY;
    const auto seen = static_cast<rlim_t>(own_process_count());
    return (geteuid() == 0 ? seen : user_process_count(seen)) + processes_allowed;
}

void limit(int resource, rlim_t value)
{
    rlimit r{value, value};
    setrlimit(resource, &r);
}

// In the child, before the exec: the limits (`processes` from process_limit), the user, the
// directory.
void enter_sandbox(const Program &p, const Launch &launch, const char *dir, bool compile,
                   rlim_t processes)
{
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_CPU, compile ? compile_seconds : cpu_seconds);
    limit(RLIMIT_FSIZE, compile ? 64 * file_size_limit : file_size_limit);
    limit(RLIMIT_AS, compile ? compile_memory_limit : memory_limit);
    limit(RLIMIT_NOFILE, launch.open_files);
    limit(RLIMIT_RTPRIO, launch.realtime_limit);
    limit(RLIMIT_RTTIME, 1000000); // a real-time process spinning is stopped within 1 s
    limit(RLIMIT_MEMLOCK, 0);
    limit(RLIMIT_MSGQUEUE, 0);
    if (processes != RLIM_INFINITY)
        limit(RLIMIT_NPROC, processes);
    if (launch.nice_value != 0 || getpriority(PRIO_PROCESS, 0) != 0)
        setpriority(PRIO_PROCESS, 0, launch.nice_value);
    if (launch.policy >= 0) {
        sched_param param{};
        param.sched_priority = launch.policy == SCHED_FIFO || launch.policy == SCHED_RR ? 10 : 0;
        sched_setscheduler(0, launch.policy, &param);
    }
    if (chdir(dir) == -1) {
        perror(dir);
        _exit(126);
    }
    umask(022);
    if (geteuid() == 0 && p.uid != 0) {
        if (!take_uid(p.uid, p.gid)) {
            perror("syslab-grade: taking the program's uid");
            _exit(126);
        }
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_DUMPABLE, 1);
}

// Whether every directory of the path may be passed through by others.
bool reachable(const char *path)
{
    char prefix[256];
    snprintf(prefix, sizeof prefix, "%s", path);
    for (;;) {
        struct stat st {
        };
        if (stat(prefix, &st) != 0 || (st.st_mode & S_IXOTH) == 0)
            return false;
        char *slash = strrchr(prefix, '/');
        if (slash == nullptr || slash == prefix)
            return true;
        *slash = '\0';
    }
}

void take(Text &t, const char *data, size_t n)
{
    const size_t room = Text::cap - t.length;
    const size_t kept = n < room ? n : room;
    memcpy(t.data + t.length, data, kept);
    t.length += kept;
    t.data[t.length] = '\0';
    t.dropped += n - kept;
}

// Reads what is there on the run's streams, waiting up to `ms` for something to come.
void pump_once(Run &r, int ms)
{
    pollfd fds[2];
    int n = 0;
    if (r.output_fd >= 0)
        fds[n++] = {r.output_fd, POLLIN, 0};
    if (r.error_fd >= 0)
        fds[n++] = {r.error_fd, POLLIN, 0};
    if (n == 0) {
        sleep_ms(ms);
        return;
    }
    if (poll(fds, n, ms) <= 0)
        return;
    char buffer[8192];
    for (int i = 0; i < n; ++i) {
        if (fds[i].revents == 0)
            continue;
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        const bool is_out = fds[i].fd == r.output_fd;
        if (got > 0) {
            take(is_out ? r.out : r.err, buffer, static_cast<size_t>(got));
            continue;
        }
        if (got == -1 && errno == EINTR)
            continue;
        // End of file, or EIO once the terminal's last user has closed it.
        close(fds[i].fd);
        if (is_out)
            r.output_fd = -1;
        else
            r.error_fd = -1;
    }
}

void reap(Run &r)
{
    if (r.exited || r.pid <= 0)
        return;
    int status = 0;
    if (waitpid(r.pid, &status, WNOHANG) == r.pid) {
        r.exited = true;
        r.status = status;
    }
}

bool run_program(Program &p, Run &r, const Launch &launch, const char *dir, bool compile);

int remove_entry(const char *path, const struct stat * /*st*/, int type, FTW * /*ftw*/)
{
    if (type == FTW_DP)
        rmdir(path);
    else
        unlink(path);
    return 0;
}

} // namespace

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool sandbox_setup(char *message, size_t size)
{
    sandbox.root = geteuid() == 0;
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // TMPDIR, unless a program's uid could not reach its directory there.
    const char *tmp = getenv("TMPDIR");
    if (tmp == nullptr || tmp[0] != '/' || strlen(tmp) > sizeof sandbox.work - 32 ||
        (sandbox.root && !reachable(tmp)))
        tmp = "/tmp";
    snprintf(sandbox.work, sizeof sandbox.work, "%s/syslab-grade.XXXXXX", tmp);
    if (mkdtemp(sandbox.work) == nullptr) {
        snprintf(message, size, "cannot make a work directory in %s: %s", tmp, strerror(errno));
        return false;
    }
    chmod(sandbox.work, 0711);
    if (sandbox.root) {
        // A private mount namespace, so that each program's tmpfs is seen by no one else.
        sandbox.mounts = unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        // A block of 32 uids for this grading, drawn at random among those no account and no
        // process uses. Not by process id: graders in containers side by side have the same
        // few ids and share the kernel's uids, whose process counts they would share.
        unsigned int draw = static_cast<unsigned int>(getpid());
        if (getrandom(&draw, sizeof draw, GRND_NONBLOCK) != sizeof draw) {
            timespec t{}; // no entropy yet: the clock's nanoseconds
            clock_gettime(CLOCK_REALTIME, &t);
            draw ^= static_cast<unsigned int>(t.tv_nsec);
        }
        sandbox.base_uid = (1U << 30) + (static_cast<uid_t>(draw) % (1U << 22)) * 32;
        sandbox.fallback_uid = !uid_mapped(sandbox.base_uid) || uid_in_use(sandbox.base_uid);
    }
    if (!sandbox.root)
        snprintf(sandbox.mode, sizeof sandbox.mode,
                 "as this user (not root): limits, scratch directories, every process ended");
    else if (sandbox.fallback_uid)
        snprintf(sandbox.mode, sizeof sandbox.mode, "as root, the programs as %s%s",
                 uid_mapped(nobody) ? "nobody" : "root (no other uid is mapped here)",
                 sandbox.mounts ? ", each on a tmpfs of its own" : "");
    else
        snprintf(sandbox.mode, sizeof sandbox.mode, "as root, each program as a uid of its own%s",
                 sandbox.mounts ? " on a tmpfs of its own" : "");
    return true;
}

void sandbox_cleanup()
{
    if (sandbox.work[0] == '\0')
        return;
    if (sandbox.mounts) {
        DIR *d = opendir(sandbox.work);
        if (d != nullptr) {
            for (dirent *e = readdir(d); e != nullptr; e = readdir(d)) {
                if (e->d_name[0] == '.')
                    continue;
                char path[600];
                snprintf(path, sizeof path, "%s/%s", sandbox.work, e->d_name);
                umount2(path, MNT_DETACH);
            }
            closedir(d);
        }
    }
    nftw(sandbox.work, remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    sandbox.work[0] = '\0';
}

bool program_setup(Program &p, size_t index, char *message, size_t size)
{
    p.uid = getuid();
    p.gid = getgid();
    p.own_uid = false;
    if (sandbox.root && !sandbox.fallback_uid) {
        p.uid = sandbox.base_uid + static_cast<uid_t>(index);
        p.gid = p.uid;
        p.own_uid = !uid_in_use(p.uid);
        if (!p.own_uid) {
            p.uid = nobody;
            p.gid = nobody;
        }
    } else if (sandbox.root && uid_mapped(nobody)) {
        p.uid = nobody;
        p.gid = nobody;
    }
    snprintf(p.home, sizeof p.home, "%s/%s", sandbox.work, p.name);
    if (!make_directory(p.home, 0711, 0, 0)) {
        snprintf(message, size, "cannot make %s: %s", p.home, strerror(errno));
        return false;
    }
    if (sandbox.mounts)
        mount("syslab-grade", p.home, "tmpfs", MS_NOSUID | MS_NODEV, tmpfs_options);
    snprintf(p.executable, sizeof p.executable, "%s/%s", p.home, p.name);
    p.runs = 0;
    return true;
}

bool program_present(const char *submission, const char *name)
{
    const char *const suffixes[] = {".c", ".cpp", ""};
    for (const char *suffix : suffixes) {
        char path[1024];
        snprintf(path, sizeof path, "%s/%s%s", submission, name, suffix);
        struct stat st {
        };
        if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

namespace
{

// Copies a regular file (not through a link) to `to`, owned by the given ids.
bool copy_file(const char *from, const char *to, mode_t mode, uid_t owner, gid_t group)
{
    const int in = open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in == -1)
        return false;
    struct stat st {
    };
    if (fstat(in, &st) == -1 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    const int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (out == -1) {
        close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (ssize_t n = read(in, buffer, sizeof buffer); n != 0; n = read(in, buffer, sizeof buffer)) {
        if (n < 0 || write(out, buffer, static_cast<size_t>(n)) != n) {
            ok = false;
            break;
        }
    }
    if (geteuid() == 0)
        ok = fchown(out, owner, group) == 0 && ok;
    ok = fchmod(out, mode) == 0 && ok;
    close(in);
    return close(out) == 0 && ok;
}

// The compiler's first lines of errors, or its first lines when none names an error.
void first_errors(const Text &err, char *message, size_t size)
{
    const char *start = strstr(err.data, "error");
    if (start != nullptr)
        while (start > err.data && start[-1] != '\n')
            --start;
    else
        start = err.data;
    size_t used = 0;
    int lines = 0;
    for (const char *c = start; *c != '\0' && lines < 6 && used + 2 < size; ++c) {
        message[used++] = *c;
        if (*c == '\n')
            ++lines;
    }
    message[used] = '\0';
}

const char *find_program(const char *name, char *buffer, size_t size)
{
    const char *const dirs[] = {"/usr/local/bin", "/usr/bin", "/bin"};
    for (const char *dir : dirs) {
        snprintf(buffer, size, "%s/%s", dir, name);
        if (access(buffer, X_OK) == 0)
            return buffer;
    }
    return nullptr;
}

} // namespace

bool program_build(Program &p, const char *submission, char *message, size_t size)
{
    char path[1024];
    const char *const sources[] = {".cpp", ".c"};
    for (const char *suffix : sources) {
        snprintf(path, sizeof path, "%s/%s%s", submission, p.name, suffix);
        struct stat st {
        };
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const bool cpp = suffix[1] == 'c' && suffix[2] == 'p';
        char compiler[256];
        if (find_program(cpp ? "c++" : "cc", compiler, sizeof compiler) == nullptr) {
            snprintf(message, size, "no %s here to build %s%s with", cpp ? "c++" : "cc", p.name,
                     suffix);
            return false;
        }
        char build[600];
        snprintf(build, sizeof build, "%s/build", p.home);
        char source[700];
        snprintf(source, sizeof source, "%s/%s%s", build, p.name, suffix);
        if (!make_directory(build, 0700, p.uid, p.gid) ||
            !copy_file(path, source, 0644, p.uid, p.gid)) {
            snprintf(message, size, "cannot copy %s: %s", path, strerror(errno));
            return false;
        }
        char output[700];
        snprintf(output, sizeof output, "%s/%s", build, p.name);
        Launch launch = run_launch();
        launch.path = compiler;
        // C17 with the system's interfaces in view (POSIX, as g++ always has them).
        launch.args[0] = cpp ? "-std=c++20" : "-std=gnu17";
        launch.args[1] = "-O2";
        launch.args[2] = "-Wall";
        launch.args[3] = "-o";
        launch.args[4] = p.name;
        launch.args[5] = source + strlen(build) + 1;
        launch.args[6] = nullptr;
        launch.seconds = compile_seconds;
        const char *const environment[] = {"PATH=/usr/local/bin:/usr/bin:/bin", "LC_ALL=C",
                                           "TMPDIR=.", nullptr};
        launch.env = environment;
        Run r{};
        run_program(p, r, launch, build, true);
        run_end(r, p);
        if (!run_exit_status(r, 0)) {
            char how[128];
            char errors[1024];
            first_errors(r.err, errors, sizeof errors);
            snprintf(message, size, "%s %s%s %s:\n%s", cpp ? "c++" : "cc", p.name, suffix,
                     run_how(r, how, sizeof how), errors);
            return false;
        }
        unlink(p.executable);
        if (!copy_file(output, p.executable, 0755, 0, 0)) {
            snprintf(message, size, "the compiler left no %s", p.name);
            return false;
        }
        return true;
    }
    snprintf(path, sizeof path, "%s/%s", submission, p.name);
    unlink(p.executable);
    if (access(path, F_OK) != 0) {
        snprintf(message, size, "no %s.c, %s.cpp or %s in the submission", p.name, p.name, p.name);
        return false;
    }
    if (!copy_file(path, p.executable, 0755, 0, 0)) {
        snprintf(message, size, "%s is not a regular file that can be read", p.name);
        return false;
    }
    return true;
}

Launch run_launch()
{
    Launch launch{};
    launch.seconds = 10;
    launch.open_files = default_open_files;
    launch.policy = -1;
    return launch;
}

const char *scratch(Program &p)
{
    static char dir[600];
    snprintf(dir, sizeof dir, "%s/run-%d", p.home, ++p.runs);
    if (!make_directory(dir, 0700, p.uid, p.gid))
        return nullptr;
    return dir;
}

namespace
{

const char *current_scratch(const Program &p, char *buffer, size_t size)
{
    snprintf(buffer, size, "%s/run-%d", p.home, p.runs);
    return buffer;
}

} // namespace

bool scratch_file(Program &p, const char *name, const char *content, int mode)
{
    char dir[600];
    char path[1200];
    snprintf(path, sizeof path, "%s/%s", current_scratch(p, dir, sizeof dir), name);
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd == -1)
        return false;
    const size_t length = strlen(content);
    bool ok = write(fd, content, length) == static_cast<ssize_t>(length);
    if (geteuid() == 0)
        ok = fchown(fd, p.uid, p.gid) == 0 && ok;
    ok = fchmod(fd, static_cast<mode_t>(mode)) == 0 && ok;
    return close(fd) == 0 && ok;
}

bool scratch_directory(Program &p, const char *name)
{
    char dir[600];
    char path[1200];
    snprintf(path, sizeof path, "%s/%s", current_scratch(p, dir, sizeof dir), name);
    return make_directory(path, 0755, p.uid, p.gid);
}

namespace
{

// Closes every descriptor from `first` on: with close_range where the kernel has it (the C
// library has no wrapper for it before glibc 2.34), else one by one up to the limit.
void close_from(int first)
{
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0)
        return;
#endif
    constexpr rlim_t most = 65536;
    struct rlimit limit {
    };
    rlim_t last = most;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < most)
        last = limit.rlim_cur;
    for (rlim_t fd = first; fd < last; ++fd)
        close(static_cast<int>(fd));
}

bool run_program(Program &p, Run &r, const Launch &launch, const char *dir, bool compile)
{
    r = Run{};
    r.pid = -1;
    r.input_fd = r.output_fd = r.error_fd = -1;
    r.terminal = launch.terminal;
    snprintf(r.dir, sizeof r.dir, "%s", dir);
    const char *program = launch.path != nullptr ? launch.path : p.executable;

    // argv: the program (under strace when traced), then the arguments.
    const char *argv[32];
    int argc = 0;
    char strace[256];
    if (launch.trace != nullptr) {
        if (find_program("strace", strace, sizeof strace) == nullptr)
            return false;
        char trace_dir[480];
        snprintf(trace_dir, sizeof trace_dir, "%s-trace", dir);
        if (!make_directory(trace_dir, 0700, p.uid, p.gid))
            return false;
        snprintf(r.trace_file, sizeof r.trace_file, "%s/trace", trace_dir);
        static char expression[256];
        snprintf(expression, sizeof expression, "trace=%s", launch.trace);
        const char *const traced[] = {strace, "-f",         "-qq",         "-v", "-s",
                                      "256",  "-e",         "signal=none", "-e", expression,
                                      "-o",   r.trace_file, "--"};
        for (const char *a : traced)
            argv[argc++] = a;
    }
    argv[argc++] = program;
    if (launch.path == nullptr && launch.trace == nullptr)
        argv[argc - 1] = p.name; // the name it is run by, as from a shell's PATH
    for (int i = 0; i < 8 && launch.args[i] != nullptr; ++i)
        argv[argc++] = launch.args[i];
    argv[argc] = nullptr;

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int terminal = -1;
    if (pipe2(err, O_CLOEXEC) == -1)
        return false;
    if (launch.terminal) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master == -1 || grantpt(master) == -1 || unlockpt(master) == -1)
            return false;
        const char *name = ptsname(master);
        terminal = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal == -1)
            return false;
        // What the program writes comes back as it is: no echo of the input, no \r added.
        termios t{};
        tcgetattr(terminal, &t);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(terminal, TCSANOW, &t);
        in[1] = master;
        out[0] = dup(master);
        fcntl(out[0], F_SETFD, FD_CLOEXEC);
    } else {
        if (pipe2(in, O_CLOEXEC) == -1 || pipe2(out, O_CLOEXEC) == -1)
            return false;
    }

    const rlim_t processes = process_limit(p, compile);
    r.started = now();
    r.deadline = r.started + launch.seconds;
    const pid_t pid = fork();
    if (pid == -1)
        return false;
    if (pid == 0) {
        setsid();
        if (launch.terminal) {
            ioctl(terminal, TIOCSCTTY, 0);
            dup2(terminal, 0);
            dup2(terminal, 1);
        } else {
            dup2(in[0], 0);
            dup2(out[1], 1);
        }
        dup2(err[1], 2);
        close_from(3);
        signal(SIGPIPE, SIG_DFL);
        enter_sandbox(p, launch, dir, compile, processes);
        const char *const *env = launch.env != nullptr ? launch.env : default_environment;
        // The program runs from its own path; argv[0] is the name a shell would give.
        execve(launch.trace != nullptr ? argv[0] : program, const_cast<char *const *>(argv),
               const_cast<char *const *>(env));
        perror(program);
        _exit(127);
    }
    r.pid = pid;
    close(err[1]);
    r.error_fd = err[0];
    if (launch.terminal) {
        close(terminal);
        r.input_fd = in[1];
        r.output_fd = out[0];
    } else {
        close(in[0]);
        close(out[1]);
        r.input_fd = in[1];
        r.output_fd = out[0];
        fcntl(r.input_fd, F_SETFL, O_NONBLOCK);
        if (launch.input != nullptr) {
            run_send(r, launch.input);
            run_close_input(r);
        } else if (!launch.no_input) {
            run_close_input(r);
        }
    }
    return true;
}

} // namespace

bool run_start(Program &p, Run &r, const Launch &launch)
{
    char dir[600];
    if (p.runs == 0 && scratch(p) == nullptr)
        return false;
    return run_program(p, r, launch, current_scratch(p, dir, sizeof dir), false);
}

void run_pump(Run &r, double seconds)
{
    const double until = now() + seconds;
    do {
        reap(r);
        pump_once(r, 5);
    } while (now() < until && !(r.exited && r.output_fd < 0 && r.error_fd < 0));
}

bool run_wait_until(Run &r, bool (*condition)(Run &, void *), void *data, double seconds)
{
    const double until = now() + seconds;
    int ms = 1;
    for (;;) {
        pump_once(r, 0);
        if (condition(r, data))
            return true;
        reap(r);
        if (r.exited) {
            pump_once(r, 20);
            return condition(r, data);
        }
        if (now() >= until)
            return false;
        pump_once(r, ms);
        ms = ms < 16 ? ms * 2 : 16;
    }
}

// A process's state and parent, from /proc/PID/stat; false when it is gone.
bool process_state(pid_t pid, char &state, pid_t &parent)
{
    char path[64];
    char line[512];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd == -1)
        return false;
    const ssize_t got = read(fd, line, sizeof line - 1);
    close(fd);
    line[got > 0 ? got : 0] = '\0';
    const char *end = strrchr(line, ')');
    int ppid = 0;
    if (end == nullptr || sscanf(end + 1, " %c %d", &state, &ppid) != 2)
        return false;
    parent = ppid;
    return true;
}

namespace
{

bool output_has(Run &r, void *text)
{
    return strstr(r.out.data, static_cast<const char *>(text)) != nullptr;
}

// Asleep in the kernel (state S), which is all /proc tells without ptrace's access (a
// container without CAP_SYS_PTRACE): then the wait is taken as the wait for input.
bool sleeping(pid_t pid)
{
    char state = 0;
    pid_t parent = 0;
    return process_state(pid, state, parent) && state == 'S';
}

// Blocked in a read of descriptor 0: /proc/PID/syscall names the call and its first argument.
bool reading_input(Run &r, void * /*unused*/)
{
#if defined(__x86_64__)
    constexpr long read_call = 0;
#elif defined(__aarch64__)
    constexpr long read_call = 63;
#else
    constexpr long read_call = -2;
#endif
    char path[300];
    snprintf(path, sizeof path, "/proc/%d/syscall", static_cast<int>(r.pid));
    // Opened, it may still refuse the read: without ptrace's access the kernel says EPERM.
    const int file = open(path, O_RDONLY | O_CLOEXEC);
    char line[256];
    const ssize_t n = file == -1 ? -1 : read(file, line, sizeof line - 1);
    const int error = errno;
    if (file != -1)
        close(file);
    if (n <= 0)
        return n == -1 && (error == EACCES || error == EPERM) && sleeping(r.pid);
    line[n] = '\0';
    long call = -1;
    unsigned long fd = 1;
    return sscanf(line, "%ld %lx", &call, &fd) == 2 && call == read_call && fd == 0;
}

} // namespace

bool run_wait_output(Run &r, const char *text, double seconds)
{
    return run_wait_until(r, output_has, const_cast<char *>(text), seconds);
}

bool run_wait_reading(Run &r, double seconds)
{
    return run_wait_until(r, reading_input, nullptr, seconds);
}

void run_send(Run &r, const char *text)
{
    if (r.input_fd < 0)
        return;
    size_t left = strlen(text);
    const double until = now() + 1;
    while (left > 0 && now() < until) {
        const ssize_t n = write(r.input_fd, text, left);
        if (n > 0) {
            text += n;
            left -= static_cast<size_t>(n);
        } else if (n == -1 && errno != EAGAIN && errno != EINTR) {
            break;
        } else {
            pump_once(r, 5);
        }
    }
}

void run_close_input(Run &r)
{
    if (r.terminal || r.input_fd < 0)
        return;
    close(r.input_fd);
    r.input_fd = -1;
}

void run_end(Run &r, Program &p)
{
    if (r.pid <= 0)
        return;
    while (!r.exited && now() < r.deadline) {
        pump_once(r, 10);
        reap(r);
    }
    if (!r.exited) {
        r.timed_out = true;
        kill(-r.pid, SIGKILL);
        kill(r.pid, SIGKILL);
        waitpid(r.pid, &r.status, 0);
        r.exited = true;
    }
    // What is still in the pipes, unless a process left behind keeps them open.
    const double until = now() + 0.2;
    while ((r.output_fd >= 0 || r.error_fd >= 0) && now() < until)
        pump_once(r, 10);
    end_all(p);
    while (r.output_fd >= 0 || r.error_fd >= 0)
        pump_once(r, 10);
    if (r.input_fd >= 0)
        close(r.input_fd);
    r.input_fd = -1;
}

bool run_once(Program &p, Run &r, const Launch &launch)
{
    if (!run_start(p, r, launch))
        return false;
    run_end(r, p);
    return true;
}

void end_all(Program &p)
{
    // This process is a subreaper: with no child left there is no process of the sandbox
    // left either, wherever it went; that is the common case, and costs no scan of /proc.
    int reaped = 0;
    while ((reaped = waitpid(-1, nullptr, WNOHANG)) > 0) {
    }
    if (reaped == -1 && errno == ECHILD)
        return;
    // A uid of its own is ended at once, all of it (a fork bomb cannot outrun that); the
    // scan below the subreaper then ends and reaps what is left in either mode.
    if (p.own_uid)
        end_uid(p.uid);
    end_descendants();
}

namespace
{

// Whether a process runs as `uid`: its /proc directory's owner, which is its effective uid
// (a process that ran a set-uid program shows root, but kill(-1) of the uid reaches it too).
bool uid_has_processes(uid_t uid)
{
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    for (dirent *e = readdir(proc); e != nullptr && !found; e = readdir(proc)) {
        struct stat st {
        };
        found = e->d_name[0] >= '0' && e->d_name[0] <= '9' &&
                fstatat(dirfd(proc), e->d_name, &st, 0) == 0 && st.st_uid == uid;
    }
    closedir(proc);
    return found;
}

} // namespace

bool take_uid(uid_t uid, gid_t gid)
{
    return setgroups(0, nullptr) == 0 && setresgid(gid, gid, gid) == 0 &&
           setresuid(uid, uid, uid) == 0;
}

void end_uid(uid_t uid)
{
    // A process of that uid may signal every other one of it, wherever it went (another
    // session, another process group, reparented): kill(-1) reaches them all but itself. The
    // killed become zombies of this process (a subreaper), which reaps them between rounds,
    // until /proc shows none of that uid.
    for (int round = 0; round < 200 && (round == 0 || uid_has_processes(uid)); ++round) {
        const pid_t killer = fork();
        if (killer == 0) {
            if (take_uid(uid, uid))
                kill(-1, SIGKILL);
            _exit(0);
        }
        if (killer < 0)
            return;
        waitpid(killer, nullptr, 0);
        sleep_ms(round < 5 ? 1 : 5);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
}

void end_descendants()
{
    // This process is a subreaper, so what its children leave becomes its children: every
    // process of the sandbox is found below it in /proc, whatever its session.
    constexpr int most = 16384;
    static pid_t pids[most];
    static pid_t parents[most];
    const pid_t self = getpid();
    for (int round = 0; round < 200; ++round) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        int n = 0;
        DIR *proc = opendir("/proc");
        if (proc == nullptr)
            return;
        for (dirent *e = readdir(proc); e != nullptr && n < most; e = readdir(proc)) {
            if (e->d_name[0] < '0' || e->d_name[0] > '9')
                continue;
            char path[300];
            char line[512];
            snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
            const int fd = open(path, O_RDONLY | O_CLOEXEC);
            if (fd == -1)
                continue;
            const ssize_t got = read(fd, line, sizeof line - 1);
            close(fd);
            if (got <= 0)
                continue;
            line[got] = '\0';
            const char *end = strrchr(line, ')');
            int ppid = 0;
            char state = 0;
            if (end == nullptr || sscanf(end + 1, " %c %d", &state, &ppid) != 2)
                continue;
            pids[n] = static_cast<pid_t>(atoi(e->d_name));
            parents[n] = ppid;
            ++n;
        }
        closedir(proc);
        // Mark the descendants of this process: a few passes reach any depth seen.
        static bool below[most];
        bool any = false;
        for (int i = 0; i < n; ++i)
            below[i] = parents[i] == self;
        for (bool grew = true; grew;) {
            grew = false;
            for (int i = 0; i < n; ++i) {
                if (below[i])
                    continue;
                for (int j = 0; j < n; ++j) {
                    if (below[j] && parents[i] == pids[j]) {
                        below[i] = grew = true;
                        break;
                    }
                }
            }
        }
        for (int i = 0; i < n; ++i) {
            if (below[i]) {
                kill(pids[i], SIGKILL);
                any = true;
            }
        }
        if (!any)
            return;
        sleep_ms(round < 10 ? 1 : 5);
    }
}

bool run_trace(Run &r, Text &trace)
{
    trace.length = trace.dropped = 0;
    trace.data[0] = '\0';
    const int fd = open(r.trace_file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1)
        return false;
    char buffer[8192];
    for (ssize_t n = read(fd, buffer, sizeof buffer); n > 0; n = read(fd, buffer, sizeof buffer))
        take(trace, buffer, static_cast<size_t>(n));
    close(fd);
    return true;
}

const char *run_how(const Run &r, char *buffer, size_t size)
{
    if (r.pid <= 0)
        snprintf(buffer, size, "could not be started");
    else if (r.timed_out)
        snprintf(buffer, size, "was still running after %.0f s and was killed",
                 r.deadline - r.started);
    else if (WIFEXITED(r.status))
        snprintf(buffer, size, "exited with status %d", WEXITSTATUS(r.status));
    else if (WIFSIGNALED(r.status))
        snprintf(buffer, size, "was killed by signal %d (%s)", WTERMSIG(r.status),
                 strsignal(WTERMSIG(r.status)));
    else
        snprintf(buffer, size, "ended in an unknown way");
    return buffer;
}

bool run_exit_status(const Run &r, int status)
{
    return r.pid > 0 && r.exited && !r.timed_out && WIFEXITED(r.status) &&
           WEXITSTATUS(r.status) == status;
}

void probe_tracing(Program &p)
{
    char strace[256];
    p.can_trace = false;
    if (find_program("strace", strace, sizeof strace) == nullptr) {
        snprintf(p.trace_reason, sizeof p.trace_reason,
                 "strace is not installed, which this check needs (apt-get install strace)");
        return;
    }
    Launch launch = run_launch();
    launch.path = strace;
    launch.args[0] = "-qq";
    launch.args[1] = "-o";
    launch.args[2] = "/dev/null";
    launch.args[3] = "/bin/true";
    Run r{};
    scratch(p);
    run_once(p, r, launch);
    p.can_trace = run_exit_status(r, 0);
    if (!p.can_trace)
        snprintf(p.trace_reason, sizeof p.trace_reason,
                 "strace cannot trace here (ptrace refused?): %.*s",
                 static_cast<int>(strcspn(r.err.data, "\n")), r.err.data);
}
