// The checks' results, as the process grading one program reports them to the grader: one
// line each, "pass|fail|skip TAB check TAB message" with the message's newlines, tabs and
// backslashes escaped.
#include "grade.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{

void report(Program &p, const char *state, const char *check, const char *message)
{
    char line[9000];
    size_t n = static_cast<size_t>(snprintf(line, sizeof line, "%s\t%s\t", state, check));
    for (const char *c = message; *c != '\0' && n + 3 < sizeof line; ++c) {
        if (*c == '\n' || *c == '\t' || *c == '\\') {
            line[n++] = '\\';
            line[n++] = *c == '\n' ? 'n' : *c == '\t' ? 't' : '\\';
        } else {
            line[n++] = *c;
        }
    }
    line[n++] = '\n';
    if (write(p.results_fd, line, n) != static_cast<ssize_t>(n))
        perror("syslab-grade: writing a result");
}

// The messages are printf's formats, which the compiler checks as it checks printf's: C-style
// variadic functions on purpose, each formatting through this one.
void formatted(Program &p, const char *state, const char *check, const char *format, va_list args)
{
    char message[4096];
    vsnprintf(message, sizeof message, format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    report(p, state, check, message);
}

} // namespace

void pass(Program &p, const char *check)
{
    report(p, "pass", check, "");
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void fail(Program &p, const char *check, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    formatted(p, "fail", check, format, args);
    va_end(args);
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void verdict(Program &p, const char *check, bool passed, const char *format, ...)
{
    if (passed) {
        report(p, "pass", check, "");
        return;
    }
    va_list args;
    va_start(args, format);
    formatted(p, "fail", check, format, args);
    va_end(args);
}

// NOLINTNEXTLINE(cert-dcl50-cpp)
void not_gradable(Program &p, const char *check, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    formatted(p, "skip", check, format, args);
    va_end(args);
}

const char *shown(const char *data, size_t length, char *buffer, size_t size)
{
    constexpr size_t limit = 300;
    size_t n = 0;
    buffer[n++] = '"';
    size_t i = 0;
    for (; i < length && i < limit && n + 6 < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '\n') {
            buffer[n++] = '\\';
            buffer[n++] = 'n';
        } else if (c == '\t') {
            buffer[n++] = '\\';
            buffer[n++] = 't';
        } else if (c == '"' || c == '\\') {
            buffer[n++] = '\\';
            buffer[n++] = static_cast<char>(c);
        } else if (c < ' ' || c >= 0x7f) {
            n += static_cast<size_t>(snprintf(buffer + n, size - n, "\\%03o", c));
        } else {
            buffer[n++] = static_cast<char>(c);
        }
    }
    buffer[n++] = '"';
    if (i < length)
        n += static_cast<size_t>(
            snprintf(buffer + n, size - n, " (and %zu bytes more)", length - i));
    buffer[n < size ? n : size - 1] = '\0';
    return buffer;
}

const char *shown(const char *text, char *buffer, size_t size)
{
    return shown(text, strlen(text), buffer, size);
}

const char *what_came(const Run &r, char *buffer, size_t size)
{
    char out[1200];
    char err[1200];
    char how[160];
    if (r.pid <= 0) {
        snprintf(buffer, size, "the program could not be started");
        return buffer;
    }
    int n = snprintf(buffer, size, "got on standard output %s",
                     shown(r.out.data, r.out.length, out, sizeof out));
    if (r.err.length > 0 && n >= 0 && static_cast<size_t>(n) < size)
        n += snprintf(buffer + n, size - static_cast<size_t>(n), "\nand on standard error %s",
                      shown(r.err.data, r.err.length, err, sizeof err));
    if (n >= 0 && static_cast<size_t>(n) < size)
        snprintf(buffer + n, size - static_cast<size_t>(n), "\n(the program %s)",
                 run_how(r, how, sizeof how));
    return buffer;
}

bool same_output(Program &p, const char *check, const Run &r, const char *expected, int status,
                 const char *situation)
{
    const bool ended = status < 0 ? r.exited && !r.timed_out : run_exit_status(r, status);
    const bool same =
        r.out.dropped == 0 && strcmp(r.out.data, expected) == 0 && r.out.length == strlen(expected);
    char want[1200];
    char came[3000];
    char ending[64] = "";
    if (status >= 0)
        snprintf(ending, sizeof ending, ", then status %d", status);
    verdict(p, check, same && ended, "%s: expected on standard output %s%s;\n%s", situation,
            shown(expected, want, sizeof want), ending, what_came(r, came, sizeof came));
    return same && ended;
}

const char *output_line(const Run &r, int n, char *buffer, size_t size)
{
    const char *line = r.out.data;
    for (int i = 0; i < n && line != nullptr; ++i) {
        line = strchr(line, '\n');
        if (line != nullptr)
            ++line;
    }
    buffer[0] = '\0';
    if (line == nullptr)
        return buffer;
    const size_t length = strcspn(line, "\n") + (strchr(line, '\n') != nullptr ? 1 : 0);
    snprintf(buffer, size, "%.*s", static_cast<int>(length), line);
    return buffer;
}
