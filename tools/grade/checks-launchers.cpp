// Checks of the launchers: execvlist, execlelist and execlplist become /bin/ls, runother
// becomes ./childprog/childprog_out. What they print is compared with what ls itself prints in
// the same directory; the exec itself is read in a trace.
#include "grade.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{

// The trace's execve calls and process creations, for a check of "one exec, no fork".
struct Execs {
    int creations;        // fork, vfork, clone, clone3
    int execs;            // execve calls after the one that started the program
    char exec_line[2048]; // the first of them
    bool same_process;    // made by the process that strace started
};

Execs read_execs(const Text &trace)
{
    Execs e{};
    int first_pid = -1;
    e.same_process = true;
    for (const char *line = trace.data; *line != '\0';) {
        const size_t length = strcspn(line, "\n");
        int pid = 0, used = 0;
        char call[32] = "";
        if (sscanf(line, "%d %31[a-z0-9_](%n", &pid, call, &used) == 2 && used > 0) {
            if (strcmp(call, "execve") == 0 || strcmp(call, "execveat") == 0) {
                if (first_pid < 0) {
                    first_pid = pid;
                } else {
                    if (e.execs++ == 0) {
                        snprintf(e.exec_line, sizeof e.exec_line, "%.*s", static_cast<int>(length),
                                 line);
                        e.same_process = pid == first_pid;
                    }
                }
            } else if (e.execs == 0 && (strcmp(call, "fork") == 0 || strcmp(call, "vfork") == 0 ||
                                        strncmp(call, "clone", 5) == 0)) {
                ++e.creations;
            }
        }
        line += length;
        if (*line == '\n')
            ++line;
    }
    return e;
}

// The exec as traced: one execve from the program's own process, no fork before it, of the
// path (`call`: "execve(\"PATH\", [") and, unless `environment` is nullptr, with that
// environment, as strace ends the call ("], [...]) = 0"). The arguments are the output's.
void check_exec(Program &p, const char *check, const char *call, const char *environment,
                const char *prepare_dir, const char *what)
{
    if (!p.can_trace) {
        not_gradable(p, check, "%s", p.trace_reason);
        return;
    }
    scratch(p);
    if (prepare_dir != nullptr) {
        scratch_directory(p, prepare_dir);
        scratch_file(p, "childprog/childprog_out", "#!/bin/sh\nexit 0\n", 0755);
    } else {
        scratch_file(p, "lsdemo.txt", "", 0644);
    }
    Launch launch = run_launch();
    launch.trace = "execve,execveat,fork,vfork,clone,clone3";
    Run r{};
    run_once(p, r, launch);
    static Text trace;
    if (!run_trace(r, trace)) {
        fail(p, check, "no trace of the run: %s", r.err.data);
        return;
    }
    const Execs e = read_execs(trace);
    char came[3000];
    if (e.execs == 0)
        fail(p, check, "expected the process to become %s through one exec; it made none;\n%s",
             what, what_came(r, came, sizeof came));
    else if (e.creations > 0 || !e.same_process)
        fail(p, check,
             "expected the process itself to become %s, with no fork before the exec;\n"
             "it made %d new process%s first",
             what, e.creations, e.creations == 1 ? "" : "es");
    else {
        const char *start = strstr(e.exec_line, call);
        const char *end = environment == nullptr ? nullptr : strstr(e.exec_line, environment);
        const bool right =
            start != nullptr &&
            (environment == nullptr || (end != nullptr && end[strlen(environment)] == '\0'));
        verdict(p, check, right && e.execs == 1,
                "expected one exec, traced as\n  %s...%s\ngot%s\n  %s", call,
                environment == nullptr ? "" : environment,
                e.execs > 1 ? " more than one, the first" : "", e.exec_line);
    }
}

// What /bin/ls -Rl lsdemo.txt prints in such a directory, run as the program would run it.
void reference(Program &p, Run &ls)
{
    Launch launch = run_launch();
    launch.path = "/bin/ls";
    launch.args[0] = "-Rl";
    launch.args[1] = "lsdemo.txt";
    launch.terminal = true;
    run_once(p, ls, launch);
}

// lsdemo.txt as a file, a directory with a file in it, or missing.
void lay_out(Program &p, int kind)
{
    scratch(p);
    if (kind == 0) {
        scratch_file(p, "lsdemo.txt", "a line\n", 0644);
    } else if (kind == 1) {
        scratch_directory(p, "lsdemo.txt");
        scratch_file(p, "lsdemo.txt/inside.txt", "", 0644);
    }
}

void check_listing(Program &p, const char *banner, bool empty_environment)
{
    char expected[128];
    snprintf(expected, sizeof expected, "%s\n", banner);
    const char *const kinds[] = {"a file", "a directory", "missing"};
    bool banner_right = true;
    bool listing_right = true;
    char came[3000];
    char want[3000];
    char banner_message[3400] = "";
    char listing_message[6400] = "";
    for (int kind = 0; kind < 3; ++kind) {
        lay_out(p, kind);
        Run ls{};
        reference(p, ls);
        Launch launch = run_launch();
        launch.terminal = true;
        Run r{};
        run_once(p, r, launch);
        const bool starts = strncmp(r.out.data, expected, strlen(expected)) == 0;
        if (!starts && banner_right) {
            banner_right = false;
            snprintf(banner_message, sizeof banner_message,
                     "at a terminal, with lsdemo.txt %s: expected the first line %s;\n%s",
                     kinds[kind], shown(expected, want, sizeof want),
                     what_came(r, came, sizeof came));
        }
        // The rest after the first line, whatever the banner was.
        const char *rest = strchr(r.out.data, '\n');
        rest = rest != nullptr ? rest + 1 : r.out.data + r.out.length;
        const bool same_status = r.exited && !r.timed_out && ls.exited && r.status == ls.status;
        if ((strcmp(rest, ls.out.data) != 0 || !same_status) && listing_right) {
            listing_right = false;
            char how[128];
            snprintf(listing_message, sizeof listing_message,
                     "with lsdemo.txt %s: expected after the banner what /bin/ls -Rl lsdemo.txt "
                     "prints there, %s, and its status (it %s);\n%s",
                     kinds[kind], shown(ls.out.data, ls.out.length, want, sizeof want),
                     run_how(ls, how, sizeof how), what_came(r, came, sizeof came));
        }
    }
    verdict(p, "banner", banner_right, "%s", banner_message);
    verdict(p, "lists", listing_right, "%s", listing_message);

    // The environment as strace shows it: the grader's own, or none.
    char call[1024];
    snprintf(call, sizeof call, "], %s) = 0",
             empty_environment
                 ? "[]"
                 : "[\"PATH=/usr/local/bin:/usr/bin:/bin\", \"LC_ALL=C\", \"GREETING=hello\"]");
    check_exec(p, "execs-ls", "execve(\"/bin/ls\", [", call, nullptr,
               empty_environment ? "/bin/ls with an empty environment"
                                 : "/bin/ls with its own environment");
}

} // namespace

void check_execvlist(Program &p)
{
    check_listing(p,
                  "----------------------OUTPUT(ls -Rl) USING execv() system "
                  "call---------------------",
                  false);
}

void check_execlelist(Program &p)
{
    check_listing(p,
                  "---------------------OUTPUT(ls -Rl) USING execle() system "
                  "call-------------------------",
                  true);
}

void check_execlplist(Program &p)
{
    check_listing(p,
                  "-----------------OUTPUT(ls -Rl) USING execlp() system "
                  "call-----------------------",
                  false);
}

void check_runother(Program &p)
{
    // A childprog_out that says how it was started: its name, its arguments, its process id,
    // a variable of the environment; and ends with a status of its own.
    scratch(p);
    scratch_directory(p, "childprog");
    scratch_file(p, "childprog/childprog_out",
                 "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$#\" \"$@\" \"$$\"\n"
                 "printf 'GREETING=%s\\n' \"$GREETING\"\nexit 3\n",
                 0755);
    Launch launch = run_launch();
    Run r{};
    run_once(p, r, launch);
    char expected[256];
    snprintf(expected, sizeof expected, "./childprog/childprog_out\n1\nchildprog.c\n%d\n",
             static_cast<int>(r.pid));
    const char *greeting = strstr(r.out.data, "GREETING=");
    char started[Text::cap + 1];
    snprintf(started, sizeof started, "%.*s",
             static_cast<int>(greeting != nullptr ? greeting - r.out.data : r.out.length),
             r.out.data);
    char came[3000];
    char want[600];
    verdict(p, "runs-childprog", strcmp(started, expected) == 0 && run_exit_status(r, 3),
            "with a childprog/childprog_out that prints its name, its number of arguments, "
            "each argument and its process id, then ends with status 3: expected %s from the "
            "same process, status 3;\n%s",
            shown(expected, want, sizeof want), what_came(r, came, sizeof came));
    verdict(p, "environment", greeting != nullptr && strcmp(greeting, "GREETING=hello\n") == 0,
            "the program started must get runother's environment (GREETING=hello among "
            "it);\n%s",
            what_came(r, came, sizeof came));
    check_exec(p, "execs", "execve(\"./childprog/childprog_out\", [", nullptr, "childprog",
               "./childprog/childprog_out");
}
