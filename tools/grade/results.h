// The points file, the grading's results, and the formats they are written in.
#pragma once

#include <cstddef>
#include <cstdio>

// listed: not scored, shown for a teacher to read (a free-text answer beside its key).
enum class State { passed, failed, not_gradable, listed };

// One line of the points file: a program's check, its points and what it means.
struct Check {
    char program[32];
    char name[48];
    double points;
    char meaning[200];
    State state;
    char message[4096];
    bool graded; // its program was graded
};

struct Results {
    static constexpr size_t most = 400;
    Check checks[most];
    size_t count;
    char title[512];  // what was graded, and how
    bool gradable;    // anything could be graded at all
    char reason[512]; // why not, when not
};

// Reads the points file; false with a message naming the line it cannot read.
bool read_points(const char *path, Results &results, char *message, size_t size);
// The default points file: next to the installed program, else in the clone it was built in.
const char *points_path(char *buffer, size_t size);

// The results in the formats: text (for a terminal), Gradescope's and PrairieLearn's JSON.
void write_text(const Results &results, FILE *out);
void write_gradescope(const Results &results, FILE *out);
void write_prairielearn(const Results &results, FILE *out);
// The sums over the graded checks: points earned, points possible, and the score of 100.
void totals(const Results &results, double &earned, double &possible, double &score);
// A JSON string, quoted and escaped.
void json_string(FILE *out, const char *text);
