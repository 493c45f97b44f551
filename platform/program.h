// Where the program lives: its real path (from /proc/self/exe) and folder.
#pragma once

#include <string>

namespace platform {

// Real path of the running program file.
std::string ProgramPath();

// Folder of the program file, with a trailing "/".
std::string ProgramDir();

// Program file name without folder (its extension, if any, kept).
std::string ProgramName();

// Lets tests and tools pretend the program lives elsewhere; an empty path
// returns to the real one.
void SetProgramPathForTesting(const std::string& path);

}  // namespace platform
