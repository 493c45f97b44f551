// The request log: one text file per program to which the engines append
// error lines, shared by every process of the program.
#pragma once

#include <string_view>

// Appends one line to the request log:
//   "YYYY-MM-DD hh:mm:ss,  <requestId> : <message>" CR LF
// with the local date and time. Line breaks inside the message become blanks,
// so every entry stays one line.
//
// The folder is CGI_LOG_DIR when set and not empty (a relative one is taken
// below the program's folder), else "Log" beside the program; it is created
// when missing, and when nothing stands there but it cannot be made, the log
// lies beside the program. The file is the program file's name up to its
// first "." plus ".Log", and must be a regular file of this user (a link or
// FIFO there is not opened). Each line is appended under an exclusive lock,
// so several processes can log at once without mixing their lines. A line
// the file cannot take (it cannot be opened or appended to, or something
// other than a folder stands where the folder should be) goes to standard
// error instead, with the reason.
// Logging never makes a request fail.
void WriteRequestLogLine(std::string_view message, int requestId);
