#pragma once
// Program parameters and the executable's path. The command line is read afresh
// from GetCommandLineW on every call and split by the rules of command_line.h.
#include <stdint.h>

#include "../strings/managed_strings.h"

void InitProcessLibrary();

int32_t CountParameters();

// A temporary holding argument `index` without its double quotes, or an empty
// temporary. A negative index fetches the argument after the last one fetched.
String GetParameter(int32_t index);

// A temporary holding the executable's full path, without a leading \\?\.
String ExecutablePath();
