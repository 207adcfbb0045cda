// Checks of the scheduling programs: policyflip, rrrange, niceset.
#include "grade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Whether the grader may start a process under FIFO at priority 10 (CAP_SYS_NICE, or a
// real-time allowance of its own), tried in a child that does nothing else.
bool can_start_realtime()
{
    const pid_t child = fork();
    if (child == 0) {
        sched_param param{};
        param.sched_priority = 10;
        _exit(sched_setscheduler(0, SCHED_FIFO, &param) == 0 ? 0 : 1);
    }
    int status = 1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A traced run of policyflip under `policy`: what it asked for (the policy and priority of
// its sched_setscheduler, as strace names them), what its last sched_getscheduler returned,
// and whether every call named its own process id.
struct Flip {
    Run run;
    bool traced;
    int changes;
    char requested[64]; // "SCHED_RR, [10]"
    int last_read;      // -1: none
    int reads;
    char wrong[300]; // a call naming another process, if one did
};

void traced_flip(Program &p, Flip &f, int policy)
{
    Launch launch = run_launch();
    launch.trace = "sched_getscheduler,sched_setscheduler";
    launch.policy = policy;
    scratch(p);
    run_once(p, f.run, launch);
    static Text trace;
    f.traced = run_trace(f.run, trace);
    f.changes = f.reads = 0;
    f.last_read = -1;
    f.requested[0] = f.wrong[0] = '\0';
    for (const char *line = trace.data; f.traced && *line != '\0';) {
        const size_t length = strcspn(line, "\n");
        int pid = 0, used = 0;
        char call[40] = "";
        if (sscanf(line, "%d %39[a-z_](%n", &pid, call, &used) == 2 && used > 0) {
            const char *argument = line + used;
            if (atoi(argument) != pid && f.wrong[0] == '\0')
                snprintf(f.wrong, sizeof f.wrong, "%.*s", static_cast<int>(length), line);
            // strace pads the call to a column before " = RESULT".
            const char *result = strstr(argument, " = ");
            const char *close = result;
            while (close != nullptr && close > argument && *close != ')')
                --close;
            if (strcmp(call, "sched_getscheduler") == 0) {
                ++f.reads;
                f.last_read = result != nullptr ? atoi(result + 3) : -1;
            } else if (strcmp(call, "sched_setscheduler") == 0) {
                ++f.changes;
                const char *comma = strchr(argument, ',');
                if (comma != nullptr && close != nullptr && close > comma + 2)
                    snprintf(f.requested, sizeof f.requested, "%.*s",
                             static_cast<int>(close - comma - 2), comma + 2);
            }
        }
        line += length;
        if (*line == '\n')
            ++line;
    }
}

// The lines and the request under a policy: the first line names it, the request is the
// table's, and the second line prints what the second read returned.
bool flip_right(const Flip &f, const char *name, const char *request, char *message, size_t size)
{
    char expected[128];
    snprintf(expected, sizeof expected, "Current policy is %s\nCurrent policy is %d\n", name,
             f.last_read);
    char came[3000];
    const bool right = f.traced && f.changes == 1 && strcmp(f.requested, request) == 0 &&
                       strcmp(f.run.out.data, expected) == 0 && run_exit_status(f.run, 0);
    snprintf(message, size,
             "started under %s: expected \"Current policy is %s\", a request for %s (got %s), "
             "and \"Current policy is N\" with the policy read again;\n%s",
             name, name, request, f.changes == 1 ? f.requested : "none, or more than one",
             what_came(f.run, came, sizeof came));
    return right;
}

} // namespace

void check_policyflip(Program &p)
{
    Launch launch = run_launch();
    launch.policy = SCHED_OTHER;
    Run r{};
    scratch(p);
    run_once(p, r, launch);
    same_output(p, "refused", r, "Current policy is OTHER\nCurrent policy is 0\n", 0,
                "started under OTHER by a user without real-time privilege");

    // Batch is none of the three: the message ends in a newline, so the system's text comes
    // on a line of its own, after ": ".
    launch.policy = SCHED_BATCH;
    scratch(p);
    run_once(p, r, launch);
    constexpr char message[] = "Error while getting current policy\n: ";
    const char *newline = r.err.length >= sizeof message - 1
                              ? strchr(r.err.data + sizeof message - 1, '\n')
                              : nullptr;
    char came[3000];
    verdict(p, "batch-error",
            run_exit_status(r, 0) && r.out.length == 0 &&
                strncmp(r.err.data, message, sizeof message - 1) == 0 && newline != nullptr &&
                newline[1] == '\0',
            "started under BATCH: expected nothing on standard output, and on standard error "
            "\"Error while getting current policy\" and a newline, then \": \" and the "
            "system's text on the next line; status 0;\n%s",
            what_came(r, came, sizeof came));

    if (!p.can_trace) {
        not_gradable(p, "requests", "%s", p.trace_reason);
        not_gradable(p, "from-realtime", "%s", p.trace_reason);
        not_gradable(p, "names-own-pid", "%s", p.trace_reason);
        return;
    }
    static Flip other, fifo, rr;
    char text[4000];
    traced_flip(p, other, SCHED_OTHER);
    verdict(p, "requests", flip_right(other, "OTHER", "SCHED_RR, [10]", text, sizeof text), "%s",
            text);

    // Started under a real-time policy, which only a grader with CAP_SYS_NICE (root, mostly)
    // or a real-time allowance can give it.
    if (!can_start_realtime()) {
        not_gradable(p, "from-realtime",
                     "the grader may not start a program under FIFO here (it needs CAP_SYS_NICE "
                     "or a real-time allowance, RLIMIT_RTPRIO, of 10)");
    } else {
        traced_flip(p, fifo, SCHED_FIFO);
        traced_flip(p, rr, SCHED_RR);
        if (!flip_right(fifo, "FIFO", "SCHED_RR, [10]", text, sizeof text))
            fail(p, "from-realtime", "%s", text);
        else
            verdict(p, "from-realtime", flip_right(rr, "RR", "SCHED_FIFO, [10]", text, sizeof text),
                    "%s", text);
    }

    const Flip &f = other;
    if (f.wrong[0] != '\0')
        fail(p, "names-own-pid",
             "each scheduling call must name the process by the id getpid gave, not 0;\n"
             "got the call %s",
             f.wrong);
    else
        verdict(p, "names-own-pid", f.reads == 2 && f.changes == 1,
                "expected two sched_getscheduler calls with one sched_setscheduler between "
                "them, each naming the process's own id;\ngot %d reads and %d changes",
                f.reads, f.changes);
}

void check_rrrange(Program &p)
{
    Run r{};
    scratch(p);
    run_once(p, r, run_launch());
    char expected[2][128];
    snprintf(expected[0], sizeof expected[0],
             "The max priority with RR Scheduling Policy is : %d\n",
             sched_get_priority_max(SCHED_RR));
    snprintf(expected[1], sizeof expected[1],
             "The min priority with RR Scheduling Policy is : %d\n",
             sched_get_priority_min(SCHED_RR));
    const char *const checks[] = {"max-priority", "min-priority"};
    char line[256];
    char want[300];
    char came[3000];
    for (int i = 0; i < 2; ++i) {
        output_line(r, i, line, sizeof line);
        const bool right =
            strcmp(line, expected[i]) == 0 &&
            (i == 0 || strchr(r.out.data, '\n') == r.out.data + strlen(expected[0]) - 1) &&
            (i == 0 || r.out.length == strlen(expected[0]) + strlen(expected[1])) &&
            run_exit_status(r, 0);
        verdict(p, checks[i], right,
                "expected line %d of standard output to be %s, status 0%s;\n%s", i + 1,
                shown(expected[i], want, sizeof want), i == 1 ? ", and no other line" : "",
                what_came(r, came, sizeof came));
    }
}

void check_niceset(Program &p)
{
    // The nice value the program starts at: 0, which the grader sets, unless an ordinary user
    // runs it at a higher value that it may not lower.
    const int mine = getpriority(PRIO_PROCESS, 0);
    const int start = geteuid() == 0 || mine <= 0 ? 0 : mine;
    char expected[256];

    Run r{};
    char came[3000];
    constexpr char usage[] = "Please pass the integer value to set the priority in command line\n";
    Launch launch = run_launch();
    scratch(p);
    run_once(p, r, launch);
    Run two{};
    launch.args[0] = "5";
    launch.args[1] = "6";
    scratch(p);
    run_once(p, two, launch);
    if (strcmp(r.out.data, usage) != 0 || !r.exited || r.timed_out)
        fail(p, "usage", "without an argument: expected on standard output only \"%.*s\";\n%s",
             static_cast<int>(sizeof usage - 2), usage, what_came(r, came, sizeof came));
    else
        verdict(p, "usage", strcmp(two.out.data, usage) == 0 && two.exited && !two.timed_out,
                "with two arguments: expected on standard output only \"%.*s\";\n%s",
                static_cast<int>(sizeof usage - 2), usage, what_came(two, came, sizeof came));

    // niceset 5: the lines byte for byte. The others: the two numbers only.
    struct Case {
        const char *check;
        const char *argument;
        int increment;
        const char *situation;
    };
    const Case cases[] = {
        {"adds", "5", 5, "niceset 5"},
        {"clamps", "100", 100, "niceset 100 (the kernel keeps the value at 19 at most)"},
        {"not-a-number", "abc", 0, "niceset abc (no digits: an increment of 0)"},
    };
    for (const Case &c : cases) {
        int after = start + c.increment;
        if (after > 19)
            after = 19;
        snprintf(expected, sizeof expected,
                 "Current priority of the running process is: %d\n\nNew priority of the running "
                 "process is: %d\n",
                 start, after);
        Launch one = run_launch();
        one.args[0] = c.argument;
        Run run{};
        scratch(p);
        run_once(p, run, one);
        // The status carries no meaning here: any is accepted.
        if (c.increment == 5) {
            same_output(p, c.check, run, expected, -1, c.situation);
            continue;
        }
        int before_value = -100, after_value = -100;
        const char *second = strstr(run.out.data, "New priority");
        const bool read = sscanf(run.out.data, "%*[^:]: %d", &before_value) == 1 &&
                          second != nullptr && sscanf(second, "%*[^:]: %d", &after_value) == 1;
        verdict(p, c.check, read && before_value == start && after_value == after,
                "%s: expected the current value %d, then the new value %d;\n%s", c.situation, start,
                after, what_came(run, came, sizeof came));
    }
}
