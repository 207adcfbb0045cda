// Worksheet answers graded against a student's own key. The key is the tour's: syslab-tour
// --worksheet --answers --format gift, for the student (or the seed) and the programs the
// sheet names, read entry by entry ("// N." then "::program key::text {body}", the body
// "#NUMBER####feedback", "=right ~other...####feedback" or "####feedback" for free text).
#include "results.h"
#include "tool.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#ifndef SYSLAB_SOURCE_DIR
#define SYSLAB_SOURCE_DIR "."
#endif

namespace
{

enum class Kind { number, choice, free };

struct Question {
    int number;
    char entry[64]; // "program key"
    Kind kind;
    char key[64];        // the number, or the right choice
    char choices[256];   // the choices, separated by spaces
    char feedback[1200]; // the key's answer in words
    char answer[256];    // what the sheet says, if it says anything
    bool answered;
};

constexpr int most_questions = 200;
Question questions[most_questions];
int question_count = 0;
Results results;

// The length of a word without the ending of its form (waits, waiting, waited: wait;
// refused, refuse: refus), taken off only where three letters stay, as the tour does.
size_t root_length(const char *word)
{
    const size_t length = strlen(word);
    static const char *const endings[] = {"ing", "ed", "es", "s", "e"};
    for (const char *end : endings) {
        const size_t n = strlen(end);
        if (length >= n + 3 && strcmp(word + length - n, end) == 0)
            return length - n;
    }
    return length;
}

bool word_root_equal(const char *a, const char *b)
{
    const size_t n = root_length(a);
    return n == root_length(b) && strncmp(a, b, n) == 0;
}

// Judges a typed answer as the tour judges a prediction: its first word, in any case; a
// whole number (a sign and leading zeros allowed) or one of the choices. Returns whether it
// is right, and says in `why` what it was taken as when it is not.
bool judge(const Question &q, const char *typed, char *why, size_t size)
{
    char word[256] = "";
    if (sscanf(typed, "%255s", word) != 1) {
        snprintf(why, size, "no answer");
        return false;
    }
    for (char *c = word; *c != '\0'; ++c)
        *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    if (q.kind == Kind::number) {
        const char *digits = word + (word[0] == '+' || word[0] == '-' ? 1 : 0);
        if (*digits == '\0' || strspn(digits, "0123456789") != strlen(digits)) {
            snprintf(why, size, "\"%s\" is not a whole number", typed);
            return false;
        }
        errno = 0;
        const long value = strtol(word, nullptr, 10);
        const long key = strtol(q.key, nullptr, 10);
        if (errno == 0 && value == key)
            return true;
        snprintf(why, size, "answered %s; the key is %s", typed, q.key);
        return false;
    }
    // The choice itself in any case, else the only one of the same root (wait, waiting:
    // waits) or that begins with the word (w: waits).
    char named[64] = "";
    int found = 0;
    for (int pass = 0; pass < 2 && found != 1; ++pass) {
        found = 0;
        char choices[256];
        snprintf(choices, sizeof choices, "%s", q.choices);
        for (char *save = nullptr, *choice = strtok_r(choices, " ", &save); choice != nullptr;
             choice = strtok_r(nullptr, " ", &save)) {
            char lower[64];
            size_t i = 0;
            for (; choice[i] != '\0' && i + 1 < sizeof lower; ++i)
                lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(choice[i])));
            lower[i] = '\0';
            const bool same =
                pass == 0 ? strcmp(lower, word) == 0
                          : word_root_equal(lower, word) || strncmp(lower, word, strlen(word)) == 0;
            if (same) {
                snprintf(named, sizeof named, "%s", choice);
                ++found;
            }
        }
    }
    if (found == 1) {
        if (strcmp(named, q.key) == 0)
            return true;
        snprintf(why, size, "answered %s; the key is %s", named, q.key);
        return false;
    }
    snprintf(why, size, "\"%s\" is not one of %s", typed, q.choices);
    return false;
}

// The text of a GIFT field without its escapes.
void unescape(const char *from, size_t length, char *to, size_t size)
{
    size_t n = 0;
    for (size_t i = 0; i < length && n + 1 < size; ++i) {
        if (from[i] == '\\' && i + 1 < length)
            ++i;
        to[n++] = from[i];
    }
    to[n] = '\0';
}

// Finds the first character `c` not escaped by a backslash.
const char *unescaped(const char *text, char c)
{
    for (const char *s = text; *s != '\0'; ++s) {
        if (*s == '\\' && s[1] != '\0')
            ++s;
        else if (*s == c)
            return s;
    }
    return nullptr;
}

bool read_entry(int number, const char *line, char *message, size_t size)
{
    if (question_count == most_questions || strncmp(line, "::", 2) != 0) {
        snprintf(message, size, "question %d of the key: not \"::program key::\"", number);
        return false;
    }
    Question &q = questions[question_count];
    q = Question{};
    q.number = number;
    const char *title_end = strstr(line + 2, "::");
    const char *open = title_end != nullptr ? unescaped(title_end + 2, '{') : nullptr;
    const char *close = open != nullptr ? strrchr(open, '}') : nullptr;
    if (close == nullptr) {
        snprintf(message, size, "question %d of the key: no {answer}", number);
        return false;
    }
    unescape(line + 2, static_cast<size_t>(title_end - line - 2), q.entry, sizeof q.entry);
    char body[4096];
    unescape(open + 1, static_cast<size_t>(close - open - 1), body, sizeof body);
    // The feedback follows the last "####" (unescaped, as "#" is escaped in the text).
    const char *marks = strstr(open + 1, "####");
    char answer_part[4096];
    unescape(open + 1, marks != nullptr ? static_cast<size_t>(marks - open - 1) : 0, answer_part,
             sizeof answer_part);
    if (marks != nullptr)
        unescape(marks + 4, static_cast<size_t>(close - marks - 4), q.feedback, sizeof q.feedback);
    if (answer_part[0] == '#') {
        q.kind = Kind::number;
        snprintf(q.key, sizeof q.key, "%.63s", answer_part + 1);
    } else if (answer_part[0] == '=' || answer_part[0] == '~') {
        q.kind = Kind::choice;
        size_t used = 0;
        for (char *save = nullptr, *c = strtok_r(answer_part, " ", &save); c != nullptr;
             c = strtok_r(nullptr, " ", &save)) {
            if (c[0] == '=')
                snprintf(q.key, sizeof q.key, "%s", c + 1);
            used += static_cast<size_t>(snprintf(q.choices + used, sizeof q.choices - used, "%s%s",
                                                 used > 0 ? " " : "", c + 1));
            if (used >= sizeof q.choices)
                break;
        }
    } else {
        q.kind = Kind::free;
    }
    ++question_count;
    return true;
}

// The key, from the tour: its worksheet in GIFT with the answers.
bool read_key(const char *student, const char *seed, const char *programs, char *message,
              size_t size)
{
    char tour[PATH_MAX + 16];
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    tour[0] = '\0';
    if (n > 0) {
        self[n] = '\0';
        char *slash = strrchr(self, '/');
        if (slash != nullptr) {
            *slash = '\0';
            snprintf(tour, sizeof tour, "%s/syslab-tour", self);
        }
    }
    if (tour[0] == '\0' || access(tour, X_OK) != 0)
        snprintf(tour, sizeof tour, "%s/tour", SYSLAB_SOURCE_DIR);
    const char *argv[64] = {tour,
                            "--worksheet",
                            "--answers",
                            "--format",
                            "gift",
                            student != nullptr ? "--student" : "--seed",
                            student != nullptr ? student : seed};
    int argc = 7;
    char names[1024];
    snprintf(names, sizeof names, "%s", programs);
    for (char *save = nullptr, *name = strtok_r(names, " \t", &save); name != nullptr && argc < 62;
         name = strtok_r(nullptr, " \t", &save))
        argv[argc++] = name;
    argv[argc] = nullptr;
    int out[2];
    if (pipe(out) == -1)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(tour, const_cast<char *const *>(argv));
        perror(tour);
        _exit(127);
    }
    close(out[1]);
    FILE *key = fdopen(out[0], "r");
    static char line[16384];
    int number = 0;
    bool ok = key != nullptr;
    while (ok && fgets(line, sizeof line, key) != nullptr) {
        line[strcspn(line, "\n")] = '\0';
        if (sscanf(line, "// %d.", &number) == 1 && strncmp(line, "// ", 3) == 0)
            continue;
        if (number > 0 && line[0] == ':') {
            ok = read_entry(number, line, message, size);
            number = 0;
        }
    }
    if (key != nullptr)
        fclose(key);
    int status = 0;
    waitpid(child, &status, 0);
    if (!ok)
        return false;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || question_count == 0) {
        snprintf(message, size, "%s gave no key (status %d): %s", tour, WEXITSTATUS(status),
                 student != nullptr ? "is the name right?" : "is the seed right?");
        return false;
    }
    return true;
}

Question *find_question(int number)
{
    for (int i = 0; i < question_count; ++i)
        if (questions[i].number == number)
            return &questions[i];
    return nullptr;
}

Check &add(const char *program, const char *name, double points, const char *meaning)
{
    Check &c = results.checks[results.count++];
    c = Check{};
    snprintf(c.program, sizeof c.program, "%s", program);
    snprintf(c.name, sizeof c.name, "%s", name);
    snprintf(c.meaning, sizeof c.meaning, "%s", meaning);
    c.points = points;
    c.graded = true;
    return c;
}

} // namespace

int grade_answers(const char *sheet, const char *student, const char *seed, const char *format,
                  FILE *out)
{
    FILE *f = fopen(sheet, "re");
    if (f == nullptr) {
        fprintf(stderr, "syslab-grade: %s: %s\n", sheet, strerror(errno));
        return 2;
    }
    // The sheet's lines, kept to be read once the key is known; "# programs: ..." names the
    // programs a tour's record covered, whose worksheet numbers its answers.
    static char lines[2000][1024];
    int count = 0;
    char programs[1024] = "";
    char line[1024];
    while (count < 2000 && fgets(line, sizeof line, f) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        if (strncmp(line, "# programs:", 11) == 0)
            snprintf(programs, sizeof programs, "%s", line + 11);
        snprintf(lines[count++], sizeof lines[0], "%s", line);
    }
    fclose(f);

    char message[512];
    results.gradable = read_key(student, seed, programs, message, sizeof message);
    snprintf(results.title, sizeof results.title,
             "syslab-grade: the answers in %s against the key of %s %s", sheet,
             student != nullptr ? "the student" : "the seed", student != nullptr ? student : seed);
    if (!results.gradable) {
        snprintf(results.reason, sizeof results.reason, "%s", message);
    } else {
        // Each line "N. answer"; what cannot be read so is named, not guessed.
        for (int i = 0; i < count; ++i) {
            const char *s = lines[i];
            while (isspace(static_cast<unsigned char>(*s)))
                ++s;
            if (*s == '\0' || *s == '#')
                continue;
            int number = 0, used = 0;
            Question *q = nullptr;
            char where[32];
            snprintf(where, sizeof where, "line-%d", i + 1);
            if (sscanf(s, "%d.%n", &number, &used) != 1 || used == 0 || s[used - 1] != '.' ||
                (q = find_question(number)) == nullptr || q->answered) {
                if (results.count < Results::most) {
                    Check &c = add("sheet", where, 0, "a line that is not an answer");
                    c.state = State::failed;
                    if (q != nullptr)
                        snprintf(c.message, sizeof c.message,
                                 "a second answer to question %d, not read: \"%.1000s\"", number,
                                 lines[i]);
                    else if (used > 0 && s[used - 1] == '.')
                        snprintf(c.message, sizeof c.message,
                                 "no question %d on the worksheet: \"%.1000s\"", number, lines[i]);
                    else
                        snprintf(c.message, sizeof c.message, "not \"N. answer\": \"%.1000s\"",
                                 lines[i]);
                }
                continue;
            }
            const char *answer = s + used;
            while (isspace(static_cast<unsigned char>(*answer)))
                ++answer;
            snprintf(q->answer, sizeof q->answer, "%s", answer);
            q->answered = true;
        }
        for (int i = 0; i < question_count && results.count < Results::most; ++i) {
            const Question &q = questions[i];
            char name[16];
            snprintf(name, sizeof name, "%d", q.number);
            Check &c = add("answers", name, q.kind == Kind::free ? 0 : 1, q.entry);
            if (q.kind == Kind::free) {
                c.state = State::listed;
                snprintf(c.message, sizeof c.message, "answer: %s\nkey: %s",
                         q.answered ? q.answer : "(none)", q.feedback);
                continue;
            }
            char why[512] = "no answer";
            const bool right = q.answered && judge(q, q.answer, why, sizeof why);
            c.state = right ? State::passed : State::failed;
            if (!right)
                snprintf(c.message, sizeof c.message, "%s\nkey: %s", why, q.feedback);
        }
    }
    if (strcmp(format, "gradescope") == 0)
        write_gradescope(results, out);
    else if (strcmp(format, "prairielearn") == 0)
        write_prairielearn(results, out);
    else
        write_text(results, out);
    double earned = 0, possible = 0, score = 0;
    totals(results, earned, possible, score);
    return !results.gradable ? 2 : earned < possible ? 1 : 0;
}
