// The grader's containment: where the programs run, as whom, and how they are ended.
#pragma once

#include "grade.h"

// How this grading contains the programs, decided once at the start.
struct Sandbox {
    bool root;         // started as root: each program gets a uid of its own
    bool fallback_uid; // root, but no unused uid could be taken: nobody, or root itself
    uid_t base_uid;    // the first program's uid
    bool mounts;       // a private mount namespace, with a tmpfs for each program
    char work[256];    // the root-only directory holding every program's directory
    char mode[256];    // the containment, said in a line
};
extern Sandbox sandbox;

// Decides the containment and makes the work directory; false (with a message) when not.
bool sandbox_setup(char *message, size_t size);
// Removes the work directory and everything under it.
void sandbox_cleanup();
// The program's sandbox: its uid, its directory (a tmpfs where mounts are possible).
bool program_setup(Program &p, size_t index, char *message, size_t size);
// Builds or copies the program from the submission into its directory; false with the
// compiler's first errors (or what is missing) when it cannot.
bool program_build(Program &p, const char *submission, char *message, size_t size);
// Whether the submission holds the program, as a source or an executable.
bool program_present(const char *submission, const char *name);
// Ends every process below this one (a subreaper): those it started and those they left.
void end_descendants();
// Ends every process running as `uid` (a uid no one else uses).
void end_uid(uid_t uid);
// Whether strace may trace the program's processes here (p.can_trace, or p.trace_reason).
void probe_tracing(Program &p);
