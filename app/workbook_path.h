// Confines a requested workbook name to the program's folder.
#pragma once

#include <optional>
#include <string>

// Returns the path of the regular file that `name` names below `folder`, or
// nothing when there is no such file or the name is not allowed: an empty or
// absolute name, a ".." component, a NUL byte, or a name that resolves
// (through links) outside the folder. The resolution never leaves the folder:
// no file outside it is opened or tested.
std::optional<std::string> ResolveWorkbookPath(const std::string& folder, const std::string& name);
