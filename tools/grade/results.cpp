// The points file and the results of a grading, written for a terminal or for an autograder.
#include "results.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifndef SYSLAB_SOURCE_DIR
#define SYSLAB_SOURCE_DIR "."
#endif

bool read_points(const char *path, Results &results, char *message, size_t size)
{
    FILE *f = fopen(path, "re");
    if (f == nullptr) {
        snprintf(message, size, "%s: %s", path, strerror(errno));
        return false;
    }
    char line[512];
    int number = 0;
    results.count = 0;
    while (fgets(line, sizeof line, f) != nullptr) {
        ++number;
        char *start = line;
        while (isspace(static_cast<unsigned char>(*start)))
            ++start;
        if (*start == '#' || *start == '\0')
            continue;
        if (results.count == Results::most) {
            snprintf(message, size, "%s:%d: more than %zu checks", path, number, Results::most);
            fclose(f);
            return false;
        }
        Check &c = results.checks[results.count];
        c = Check{};
        int used = 0;
        if (sscanf(start, "%31s %47s %lf %n", c.program, c.name, &c.points, &used) != 3 ||
            c.points < 0) {
            snprintf(message, size, "%s:%d: not \"program check points meaning\": %s", path, number,
                     start);
            fclose(f);
            return false;
        }
        snprintf(c.meaning, sizeof c.meaning, "%s", start + used);
        c.meaning[strcspn(c.meaning, "\n")] = '\0';
        ++results.count;
    }
    fclose(f);
    return true;
}

const char *points_path(char *buffer, size_t size)
{
    // Installed: BINDIR/syslab-grade reads DATADIR/syslab/grade-points, DATADIR beside BINDIR.
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        char *slash = strrchr(self, '/');
        if (slash != nullptr) {
            *slash = '\0';
            snprintf(buffer, size, "%s/../share/syslab/grade-points", self);
            if (access(buffer, R_OK) == 0)
                return buffer;
        }
    }
    snprintf(buffer, size, "%s/tools/grade/points", SYSLAB_SOURCE_DIR);
    return buffer;
}

void totals(const Results &results, double &earned, double &possible, double &score)
{
    earned = possible = 0;
    for (size_t i = 0; i < results.count; ++i) {
        const Check &c = results.checks[i];
        if (!c.graded || c.state == State::not_gradable || c.state == State::listed)
            continue;
        possible += c.points;
        if (c.state == State::passed)
            earned += c.points;
    }
    score = possible > 0 ? 100 * earned / possible : 0;
}

namespace
{

// The factor that makes the graded checks' points sum to 100.
double scale(const Results &results)
{
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    return possible > 0 ? 100 / possible : 0;
}

void program_sums(const Results &results, const char *program, double &earned, double &possible)
{
    earned = possible = 0;
    for (size_t i = 0; i < results.count; ++i) {
        const Check &c = results.checks[i];
        if (!c.graded || c.state == State::not_gradable || c.state == State::listed ||
            strcmp(c.program, program) != 0)
            continue;
        possible += c.points;
        if (c.state == State::passed)
            earned += c.points;
    }
}

// The message indented under its check, a line at a time.
void indented(FILE *out, const char *message)
{
    for (const char *line = message; *line != '\0';) {
        const size_t n = strcspn(line, "\n");
        fprintf(out, "        %.*s\n", static_cast<int>(n), line);
        line += n;
        if (*line == '\n')
            ++line;
    }
}

} // namespace

void write_text(const Results &results, FILE *out)
{
    fprintf(out, "%s\n", results.title);
    if (!results.gradable) {
        fprintf(out, "Nothing graded: %s\n", results.reason);
        return;
    }
    const char *program = "";
    for (size_t i = 0; i < results.count; ++i) {
        const Check &c = results.checks[i];
        if (!c.graded)
            continue;
        if (strcmp(c.program, program) != 0) {
            program = c.program;
            double earned = 0, possible = 0;
            program_sums(results, program, earned, possible);
            fprintf(out, "\n%s: %g of %g\n", program, earned, possible);
        }
        if (c.state == State::not_gradable) {
            fprintf(out, "  skip  %-22s not gradable here: %s\n", c.name, c.message);
            continue;
        }
        if (c.state == State::listed) {
            fprintf(out, "  text  %-22s %s (not scored)\n", c.name, c.meaning);
            indented(out, c.message);
            continue;
        }
        fprintf(out, "  %s  %-22s %g/%g  %s\n", c.state == State::passed ? "pass" : "FAIL", c.name,
                c.state == State::passed ? c.points : 0, c.points, c.meaning);
        if (c.state == State::failed)
            indented(out, c.message);
    }
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    fprintf(out, "\nTotal: %g of %g points: %.1f of 100\n", earned, possible, score);
}

void json_string(FILE *out, const char *text)
{
    fputc('"', out);
    for (const char *c = text; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u == '"' || u == '\\')
            fprintf(out, "\\%c", u);
        else if (u == '\n')
            fputs("\\n", out);
        else if (u == '\t')
            fputs("\\t", out);
        else if (u < 0x20 || u == 0x7f)
            fprintf(out, "\\u%04x", u);
        else
            fputc(u, out);
    }
    fputc('"', out);
}

namespace
{

// "program: check (meaning)", the test's name in either format.
void test_name(FILE *out, const Check &c)
{
    char name[400];
    snprintf(name, sizeof name, "%s: %s (%s)", c.program, c.name, c.meaning);
    json_string(out, name);
}

const char *test_output(const Check &c, char *buffer, size_t size)
{
    if (c.state == State::not_gradable)
        snprintf(buffer, size, "Not gradable here: %s", c.message);
    else if (c.state == State::listed)
        snprintf(buffer, size, "Not scored; for the teacher to read.\n%s", c.message);
    else if (c.state == State::passed)
        snprintf(buffer, size, "Passed.");
    else
        snprintf(buffer, size, "%s", c.message);
    return buffer;
}

} // namespace

void write_gradescope(const Results &results, FILE *out)
{
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    const double factor = scale(results);
    char text[4200];
    fprintf(out, "{\n  \"score\": %.2f,\n  \"output\": ", score);
    if (results.gradable)
        json_string(out, results.title);
    else
        json_string(out, results.reason);
    fprintf(out, ",\n  \"visibility\": \"visible\",\n  \"stdout_visibility\": \"hidden\",\n"
                 "  \"tests\": [");
    const char *separator = "\n";
    for (size_t i = 0; i < results.count; ++i) {
        const Check &c = results.checks[i];
        if (!c.graded)
            continue;
        fprintf(out, "%s    {\"name\": ", separator);
        test_name(out, c);
        if (c.state == State::passed || c.state == State::failed)
            fprintf(out, ", \"score\": %.2f, \"max_score\": %.2f",
                    c.state == State::passed ? c.points * factor : 0, c.points * factor);
        else
            fprintf(out, ", \"score\": 0, \"max_score\": 0");
        fprintf(out, ", \"status\": \"%s\", \"output\": ",
                c.state == State::failed ? "failed" : "passed");
        json_string(out, test_output(c, text, sizeof text));
        fprintf(out, ", \"visibility\": \"visible\"}");
        separator = ",\n";
    }
    fprintf(out, "\n  ]\n}\n");
}

void write_prairielearn(const Results &results, FILE *out)
{
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    char text[4200];
    fprintf(out, "{\n  \"gradable\": %s,\n", results.gradable ? "true" : "false");
    if (!results.gradable) {
        fprintf(out, "  \"score\": 0,\n  \"message\": ");
        json_string(out, results.reason);
        fprintf(out, ",\n  \"tests\": []\n}\n");
        return;
    }
    fprintf(out, "  \"score\": %.4f,\n  \"points\": %g,\n  \"max_points\": %g,\n  \"message\": ",
            score / 100, earned, possible);
    json_string(out, results.title);
    fprintf(out, ",\n  \"tests\": [");
    const char *separator = "\n";
    for (size_t i = 0; i < results.count; ++i) {
        const Check &c = results.checks[i];
        if (!c.graded)
            continue;
        fprintf(out, "%s    {\"name\": ", separator);
        test_name(out, c);
        const bool counted = c.state == State::passed || c.state == State::failed;
        fprintf(out, ", \"points\": %g, \"max_points\": %g, \"message\": ",
                counted && c.state == State::passed ? c.points : 0, counted ? c.points : 0);
        json_string(out, c.state == State::passed   ? "Passed."
                         : c.state == State::failed ? "Failed."
                         : c.state == State::listed ? "Not scored."
                                                    : "Not gradable here.");
        fprintf(out, ", \"output\": ");
        json_string(out, test_output(c, text, sizeof text));
        fprintf(out, "}");
        separator = ",\n";
    }
    fprintf(out, "\n  ]\n}\n");
}
