// Checks of the files programs.
#include "grade.h"

void check_seekgap(Program & /*p*/)
{
}

void check_sizedecho(Program & /*p*/)
{
}

void check_bytecat(Program & /*p*/)
{
}

void check_stdinwait(Program & /*p*/)
{
}

void check_exclcreate(Program & /*p*/)
{
}

void check_fdflood(Program & /*p*/)
{
}

void check_makelinks(Program & /*p*/)
{
}
