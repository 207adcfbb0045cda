// Bundles for the autograders.
#include "tool.h"

int write_bundle(const char * /*platform*/, const char * /*file*/)
{
    fputs("syslab-grade: --bundle is not there yet\n", stderr);
    return 2;
}
