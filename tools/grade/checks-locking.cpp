// Checks of the locking programs.
#include "grade.h"

void check_exclusivehold(Program & /*p*/)
{
}

void check_sharedhold(Program & /*p*/)
{
}

