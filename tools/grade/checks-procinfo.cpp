// Checks of the process information tools: envdump at a terminal with environments of the
// grader's choosing, pidtimer's process id and tick count.
#include "grade.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace
{

constexpr double wait_seconds = 10;

} // namespace

void check_envdump(Program &p)
{
    struct Case {
        const char *check;
        const char *const *env;
        const char *expected;
        const char *situation;
    };
    const char *const two[] = {"GREETING=hello", "SECOND=two words", nullptr};
    const char *const none[] = {nullptr};
    const Case cases[] = {
        {"lists", two, "\nGREETING=hello\nSECOND=two words",
         "at a terminal, with the environment GREETING=hello and SECOND=two words"},
        {"empty", none, "", "at a terminal, with an empty environment"},
    };
    char came[3000];
    char want[300];
    for (const Case &c : cases) {
        Launch launch = run_launch();
        launch.terminal = true;
        launch.env = c.env;
        Run r{};
        scratch(p);
        run_start(p, r, launch);
        // While it waits for Enter, everything is already shown (the last entry too).
        const bool waits = run_wait_reading(r, wait_seconds);
        run_pump(r, 0.02);
        const bool shown_while_waiting = strcmp(r.out.data, c.expected) == 0;
        run_send(r, "\n");
        run_end(r, p);
        if (!waits || !shown_while_waiting)
            fail(p, c.check,
                 "%s: expected %s on standard output, shown while it waits for "
                 "Enter;\n%s%s",
                 c.situation, shown(c.expected, want, sizeof want),
                 waits ? "" : "it did not wait for Enter; ", what_came(r, came, sizeof came));
        else
            same_output(p, c.check, r, c.expected, 0, c.situation);
    }

    const char *const one[] = {"GREETING=hello", nullptr};
    Launch launch = run_launch();
    launch.env = one;
    launch.input = "";
    Run r{};
    scratch(p);
    run_once(p, r, launch);
    verdict(p, "end-of-input", run_exit_status(r, 0),
            "with standard input at its end: expected it to end at once, status 0;\n%s",
            what_came(r, came, sizeof came));
}

void check_pidtimer(Program &p)
{
    Run r{};
    scratch(p);
    run_once(p, r, run_launch());
    char expected[64];
    snprintf(expected, sizeof expected, "PID: %d\n", static_cast<int>(r.pid));
    char line[256];
    char came[3000];
    verdict(p, "pid", strcmp(output_line(r, 0, line, sizeof line), expected) == 0,
            "expected the first line \"PID: %d\", the id of its own process;\n%s",
            static_cast<int>(r.pid), what_came(r, came, sizeof came));
    output_line(r, 1, line, sizeof line);
    long ticks = 0;
    int used = 0;
    const bool form = sscanf(line, "Time taken : %ld \n%n", &ticks, &used) == 1 &&
                      strncmp(line, "Time taken : ", 13) == 0 &&
                      strcmp(line + strlen(line) - 2, " \n") == 0;
    // Only the two lines.
    char first[256];
    const bool alone =
        strlen(output_line(r, 0, first, sizeof first)) + strlen(line) == r.out.length;
    verdict(p, "ticks", form && ticks > 0 && alone && line[13] != ' ',
            "expected the second and last line \"Time taken : N \" (a space before the "
            "newline), N a positive count of ticks;\n%s",
            what_came(r, came, sizeof came));
}
