// Worksheet answers graded against a student's own key.
#include "tool.h"

int grade_answers(const char * /*sheet*/, const char * /*student*/, const char * /*seed*/,
                  const char * /*format*/, FILE * /*out*/)
{
    fputs("syslab-grade: --answers is not there yet\n", stderr);
    return 2;
}
