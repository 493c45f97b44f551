// Where the program lives: its real path (from /proc/self/exe) and folder.
#pragma once

#include <string>

namespace platform {

// The text of the symbolic link `link` (at most PATH_MAX - 1 bytes), or ""
// when it cannot be read.
std::string LinkTarget(const std::string& link);

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
