// Checks of the scheduling programs: policyflip, rrrange, niceset.
#include "grade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int allowance = 10; // RLIMIT_RTPRIO that lets an ordinary user take priority 10

// Whether the program's user, given a real-time allowance of 10, may take round-robin here:
// a container or a cgroup without real-time time refuses it even then.
bool realtime_allowed(Program &p, char *reason, size_t size)
{
    Spec spec = run_spec();
    spec.path = "/usr/bin/chrt";
    spec.args[0] = "-r";
    spec.args[1] = "10";
    spec.args[2] = "/bin/true";
    spec.realtime_limit = allowance;
    Run r{};
    scratch(p);
    if (access(spec.path, X_OK) != 0) {
        snprintf(reason, size, "chrt (util-linux) is missing, with which the grader tries first");
        return false;
    }
    run_once(p, r, spec);
    if (run_exit_status(r, 0))
        return true;
    snprintf(reason, size,
             "the kernel refuses round-robin to an ordinary user with a real-time allowance "
             "of %d here (%.*s)",
             allowance, static_cast<int>(strcspn(r.err.data, "\n")), r.err.data);
    return false;
}

// One run of policyflip under `policy` with the allowance `limit`: its output must be exactly
// `expected`, status 0.
void policy_run(Program &p, const char *check, int policy, int limit, const char *expected,
                const char *situation)
{
    Spec spec = run_spec();
    spec.policy = policy;
    spec.realtime_limit = limit;
    Run r{};
    scratch(p);
    run_once(p, r, spec);
    same_output(p, check, r, expected, 0, situation);
}

// Every scheduling call in the trace names the process by its id, which is the traced
// process's own; and there are the two reads and the change between them.
void own_pid(Program &p)
{
    if (!p.can_trace) {
        not_gradable(p, "names-own-pid", "%s", p.trace_reason);
        return;
    }
    Spec spec = run_spec();
    spec.trace = "sched_getscheduler,sched_setscheduler";
    Run r{};
    scratch(p);
    run_once(p, r, spec);
    static Text trace;
    if (!run_trace(r, trace)) {
        fail(p, "names-own-pid", "no trace of the run: %s", r.err.data);
        return;
    }
    int reads = 0, changes = 0;
    char wrong[300] = "";
    for (const char *line = trace.data; *line != '\0';) {
        int pid = 0, named = 0, used = 0;
        char call[40] = "";
        if (sscanf(line, "%d %39[a-z_](%n", &pid, call, &used) == 2) {
            const char *argument = line + used;
            named = atoi(argument);
            if (strcmp(call, "sched_getscheduler") == 0)
                ++reads;
            else if (strcmp(call, "sched_setscheduler") == 0)
                ++changes;
            if (named != pid && wrong[0] == '\0')
                snprintf(wrong, sizeof wrong, "%.*s", static_cast<int>(strcspn(line, "\n")),
                         line);
        }
        line += strcspn(line, "\n");
        if (*line == '\n')
            ++line;
    }
    if (wrong[0] != '\0')
        fail(p, "names-own-pid",
             "each scheduling call must name the process by the id getpid gave, not 0;\n"
             "got the call %s",
             wrong);
    else
        verdict(p, "names-own-pid", reads == 2 && changes == 1,
                "expected two sched_getscheduler calls with one sched_setscheduler between "
                "them, each naming the process's own id;\ngot %d reads and %d changes",
                reads, changes);
}

} // namespace

void check_policyflip(Program &p)
{
    policy_run(p, "refused", SCHED_OTHER, 0, "Current policy is OTHER\nCurrent policy is 0\n",
               "started under OTHER by a user without real-time privilege");
    char reason[300];
    if (realtime_allowed(p, reason, sizeof reason)) {
        policy_run(p, "granted", SCHED_OTHER, allowance,
                   "Current policy is OTHER\nCurrent policy is 2\n",
                   "started under OTHER with a real-time allowance of 10");
        Spec spec = run_spec();
        spec.policy = SCHED_FIFO;
        spec.realtime_limit = allowance;
        Run fifo{};
        scratch(p);
        run_once(p, fifo, spec);
        Run rr{};
        spec.policy = SCHED_RR;
        scratch(p);
        run_once(p, rr, spec);
        char came[3000];
        const bool fifo_right =
            run_exit_status(fifo, 0) &&
            strcmp(fifo.out.data, "Current policy is FIFO\nCurrent policy is 2\n") == 0;
        if (!fifo_right)
            fail(p, "from-realtime",
                 "started under FIFO (allowance 10): expected \"Current policy is FIFO\", then "
                 "\"Current policy is 2\", status 0;\n%s",
                 what_came(fifo, came, sizeof came));
        else
            verdict(p, "from-realtime",
                    run_exit_status(rr, 0) &&
                        strcmp(rr.out.data, "Current policy is RR\nCurrent policy is 1\n") == 0,
                    "started under RR (allowance 10): expected \"Current policy is RR\", then "
                    "\"Current policy is 1\", status 0;\n%s",
                    what_came(rr, came, sizeof came));
    } else {
        not_gradable(p, "granted", "%s", reason);
        not_gradable(p, "from-realtime", "%s", reason);
    }

    // Batch is none of the three: the message ends in a newline, so the system's text comes
    // on a line of its own, after ": ".
    Spec spec = run_spec();
    spec.policy = SCHED_BATCH;
    Run r{};
    scratch(p);
    run_once(p, r, spec);
    constexpr char message[] = "Error while getting current policy\n: ";
    const char *newline = strchr(r.err.data + strlen(message) - 1, '\n');
    char came[3000];
    verdict(p, "batch-error",
            run_exit_status(r, 0) && r.out.length == 0 &&
                strncmp(r.err.data, message, strlen(message)) == 0 && newline != nullptr &&
                newline[1] == '\0',
            "started under BATCH: expected nothing on standard output, and on standard error "
            "\"Error while getting current policy\" and a newline, then \": \" and the "
            "system's text on the next line; status 0;\n%s",
            what_came(r, came, sizeof came));
    own_pid(p);
}

void check_rrrange(Program &p)
{
    Run r{};
    scratch(p);
    run_once(p, r, run_spec());
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
        const bool right = strcmp(line, expected[i]) == 0 &&
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
    Spec spec = run_spec();
    scratch(p);
    run_once(p, r, spec);
    Run two{};
    spec.args[0] = "5";
    spec.args[1] = "6";
    scratch(p);
    run_once(p, two, spec);
    if (strcmp(r.out.data, usage) != 0 || !r.exited || r.timed_out)
        fail(p, "usage", "without an argument: expected on standard output only \"%.*s\";\n%s",
             static_cast<int>(sizeof usage - 2), usage, what_came(r, came, sizeof came));
    else
        verdict(p, "usage", strcmp(two.out.data, usage) == 0 && two.exited && !two.timed_out,
                "with two arguments: expected on standard output only \"%.*s\";\n%s",
                static_cast<int>(sizeof usage - 2), usage, what_came(two, came, sizeof came));

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
        Spec one = run_spec();
        one.args[0] = c.argument;
        one.nice_value = 0;
        Run run{};
        scratch(p);
        run_once(p, run, one);
        // The status carries no meaning here: any is accepted.
        same_output(p, c.check, run, expected, -1, c.situation);
    }
}
