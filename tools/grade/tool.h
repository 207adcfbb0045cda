// The grader's other tasks: worksheet answers (answers.cpp) and autograder bundles (bundle.cpp).
#pragma once

#include <cstdio>

// Grades an answer sheet against the key of a student (or of a seed); returns the status.
int grade_answers(const char *sheet, const char *student, const char *seed, const char *format,
                  FILE *out);
// Writes the bundle an autograder takes (gradescope, prairielearn) into `file`.
int write_bundle(const char *platform, const char *file);
