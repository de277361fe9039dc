// /check: the camera check from the command line, without a window.
#pragma once

#include "tools/command_line.h"

// Writes the table (or CSV) to standard output and a progress line per format to standard
// error. 0 when every checked format is OK, 1 when one failed, 2 when nothing could be checked
// (with the reason on standard error).
int RunCheckSwitch(const CCommandLine& options);
