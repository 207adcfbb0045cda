// The grader's shared declarations: a submission's programs, the runs of a program in its
// sandbox, and the checks' results.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Text gathered from a stream, kept up to a cap; what comes beyond it is counted, not kept.
struct Text {
    static constexpr size_t cap = size_t{64} * 1024;
    char data[cap + 1];
    size_t length;
    size_t dropped;
};

// How a program is started for one run. Everything not set keeps the defaults of run_launch().
struct Launch {
    const char *path;       // the program to run; nullptr: the program under grading
    const char *args[8];    // its arguments after argv[0], up to a nullptr
    const char *const *env; // the environment, up to a nullptr; nullptr: the default one
    const char *input;      // bytes for standard input (a pipe), closed after them
    bool no_input;          // standard input a pipe that stays open until run_close_input
    bool terminal;          // standard input and output on a pseudo-terminal
    const char *trace;      // system calls to trace with strace (its -e trace=...)
    double seconds;         // wall-clock bound of the run
    int open_files;         // RLIMIT_NOFILE
    int policy;             // scheduling policy to start under, or -1 to leave it
    int realtime_limit;     // RLIMIT_RTPRIO
    int nice_value;         // nice value to start at (as far as the grader may set it)
};

// One run of a program in its scratch directory.
struct Run {
    pid_t pid;     // the program's process (strace's when traced)
    int input_fd;  // standard input: the pipe's or the terminal's writing end, or -1
    int output_fd; // standard output: the pipe's or the terminal's reading end, or -1
    int error_fd;  // standard error: the pipe's reading end, or -1
    bool terminal;
    bool exited;     // the program ended (status holds how)
    bool timed_out;  // it was killed at its bound
    int status;      // as waitpid gives it
    double started;  // monotonic seconds at the start
    double deadline; // monotonic seconds of the bound
    char dir[512];   // the scratch directory, its current directory
    char trace_file[512];
    Text out;
    Text err;
};

// The program being graded in this process, with its sandbox.
struct Program {
    const char *name;
    uid_t uid; // the uid its processes run as (the grader's own when it cannot change)
    gid_t gid;
    bool own_uid;   // a uid of its own, which no other process uses
    char home[400]; // its directory: the executable, the build, the scratch directories
    char executable[512];
    int runs;       // scratch directories made so far
    int results_fd; // where its checks' results go
    bool can_trace; // strace is there and may trace
    char trace_reason[256];
};

// A program of the suite: its name, folder, and the function that runs its checks.
struct Entry {
    const char *name;
    const char *folder;
    bool long_wait; // waits long (10 s and more): graded first
    void (*checks)(Program &);
};
extern const Entry entries[];
extern const size_t entry_count;

// The checks of each folder (checks-FOLDER.cpp).
void check_policyflip(Program &p);
void check_rrrange(Program &p);
void check_niceset(Program &p);
void check_exclusivehold(Program &p);
void check_sharedhold(Program &p);
void check_seekgap(Program &p);
void check_sizedecho(Program &p);
void check_bytecat(Program &p);
void check_stdinwait(Program &p);
void check_exclcreate(Program &p);
void check_fdflood(Program &p);
void check_makelinks(Program &p);
void check_forkpids(Program &p);
void check_orphanmaker(Program &p);
void check_zombiemaker(Program &p);
void check_forkappend(Program &p);
void check_execvlist(Program &p);
void check_execlelist(Program &p);
void check_execlplist(Program &p);
void check_runother(Program &p);
void check_envdump(Program &p);
void check_pidtimer(Program &p);

// Results of checks (report.cpp). A check is named by its key in the points file; a failure
// says, in a few lines, what was expected and what the program did.
void pass(Program &p, const char *check);
[[gnu::format(printf, 3, 4)]] void fail(Program &p, const char *check, const char *format, ...);
// Passed when `passed`, else failed with the message.
[[gnu::format(printf, 4, 5)]] void verdict(Program &p, const char *check, bool passed,
                                           const char *format, ...);
// Not gradable here (strace missing, a privilege the machine does not give): neither passed
// nor failed, and left out of the points.
[[gnu::format(printf, 3, 4)]] void not_gradable(Program &p, const char *check, const char *format,
                                                ...);
// Bytes shown in a message: C escapes, cut after `limit` bytes.
const char *shown(const char *data, size_t length, char *buffer, size_t size);
const char *shown(const char *text, char *buffer, size_t size);

// Runs (sandbox.cpp).
Launch run_launch();
// A fresh scratch directory of the program's own, made current for the next run; returns it.
const char *scratch(Program &p);
// A file in the current scratch directory (made by the grader, owned by the program's uid).
bool scratch_file(Program &p, const char *name, const char *content, int mode);
bool scratch_directory(Program &p, const char *name);
bool run_start(Program &p, Run &r, const Launch &launch);
// Reads what the program writes, for up to `seconds` or until it ends.
void run_pump(Run &r, double seconds);
// Waits until standard output holds `text` (true), or the program ends or the time is up.
bool run_wait_output(Run &r, const char *text, double seconds);
// Waits until the program is blocked reading its standard input (true), or ends.
bool run_wait_reading(Run &r, double seconds);
// Waits until `condition(r, data)` holds, looked at afresh every few milliseconds.
bool run_wait_until(Run &r, bool (*condition)(Run &, void *), void *data, double seconds);
// A process's state (R, S, Z...) and parent, from /proc/PID/stat; false once it is gone.
bool process_state(pid_t pid, char &state, pid_t &parent);
void run_send(Run &r, const char *text);
void run_close_input(Run &r);
// Waits for the end (killing the program at its bound), then ends every process it left.
void run_end(Run &r, Program &p);
// Takes the uid and gid for good, with no supplementary groups: false where it cannot.
bool take_uid(uid_t uid, gid_t gid);
// Start, input, end: the whole run.
bool run_once(Program &p, Run &r, const Launch &launch);
// Ends every process of the program's sandbox (also those that left its session).
void end_all(Program &p);
// The trace of a traced run, one system call a line ("PID name(args) = result").
bool run_trace(Run &r, Text &trace);
// What happened to the program, for a message ("exited with status 1", "killed by signal 9",
// "still running after 5 s").
const char *run_how(const Run &r, char *buffer, size_t size);
bool run_exit_status(const Run &r, int status);

double now();

// Common tests of a run (report.cpp). `same_output`: the run ended (with `status`, unless it is
// -1) and standard output is exactly `expected`; else a failure saying, under `situation`,
// what was expected and what came.
bool same_output(Program &p, const char *check, const Run &r, const char *expected, int status,
                 const char *situation);
// "what the program did": its output, its error output and how it ended, in a few lines.
const char *what_came(const Run &r, char *buffer, size_t size);
// The n-th line of standard output (from 0), with its newline if it has one; "" past the end.
const char *output_line(const Run &r, int n, char *buffer, size_t size);
