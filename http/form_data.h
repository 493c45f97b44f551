// Form data decoding: URL encoding and the multipart reader, which turns a
// multipart/form-data body into the url-encoded content every field question
// is answered from. Plain fields become name=value pairs; uploaded files are
// streamed into temporary files (in constant memory, through one window) and
// show up as pseudo-fields: NAME (the client's file name), NAME_FILENAME (the
// temporary file) and NAME_CONTENT_TYPE (the part's type, as sent).
//
// A temporary file's name is removed from its folder as soon as the file is
// created; the file lives on through its descriptor, and NAME_FILENAME names
// it as /proc/self/fd/N. So no way the process ends (killed by the web
// server, a crash) leaves an upload behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sysutils.h"
#include "platform/work_file.h"

// A blank becomes "+"; ".", "/", "\", digits and ASCII letters are copied;
// every other byte becomes "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

// The folder uploads go to: TempDir as given when absolute, else below the
// program's folder (an empty TempDir is the program's folder itself); with a
// trailing "/".
std::string UploadFolder(const std::string& tempDir);

// A request body that did not arrive whole, or that the reader refuses; the
// message says what was missing or too large.
class TRequestBodyError : public Exception {
 public:
  using Exception::Exception;
};

// An uploaded file: open (read and write) until the request ends; Path
// (/proc/self/fd/N) opens it again.
struct TUploadFile {
  std::string Path;
  platform::UniqueFd Fd;
};

struct TMultipartInput {
  inline static constexpr std::size_t kWindowSize = 131072;
  // Bytes of a file part kept back in the window at a refill, so that a
  // boundary straddling the refill is still found (more for longer boundaries).
  inline static constexpr std::size_t kKeepBack = 100;
  inline static constexpr std::size_t kMaxBoundary = 254;
  // Most file parts one body may hold.
  inline static constexpr std::size_t kMaxFiles = 64;

  std::int64_t ContentLength = 0;
  // Reads up to count body bytes; 0 at the body's end, negative on failure.
  std::function<int(void* buffer, int count)> Read;
  // Folder for uploaded files, with a trailing "/".
  std::string Folder;
  // Most bytes the client may put into the content besides file data: the
  // names and values of plain fields, file names and content types.
  std::size_t FieldLimit = 10000;
};

// Reads the whole multipart body up to its closing boundary. Every upload
// file is appended to `files` as soon as it is created (and closes with it).
// Raises TRequestBodyError when the body fails to arrive or ends early (with
// the bytes that arrived and those announced), has no boundary line or no
// closing boundary, holds a part header larger than the window, more than
// kMaxFiles files or more than FieldLimit bytes of fields; and when an upload
// file cannot be created or written.
std::string ReadMultipartBody(const TMultipartInput& input, std::vector<TUploadFile>& files);

// The temporary file name for a client file name: a random number, the
// client name's last path component up to its first "." (letters, digits,
// "-" and "_" only, at most 64 of them) and "tmp".
std::string UploadFileName(std::string_view clientName, std::uint32_t number);
