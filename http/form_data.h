// Form data decoding: URL encoding and the multipart reader, which turns a
// multipart/form-data body into the url-encoded content every field question
// is answered from. Plain fields become name=value pairs; uploaded files are
// streamed into temporary files (in constant memory, through one window) and
// show up as pseudo-fields: NAME (the client's file name), NAME_FILENAME (the
// temporary file) and NAME_CONTENT_TYPE (the part's type, as sent).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A blank becomes "+"; ".", "/", "\", digits and ASCII letters are copied;
// every other byte becomes "%" and two upper-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

// The folder uploads go to: TempDir as given when absolute, else below the
// program's folder (an empty TempDir is the program's folder itself); with a
// trailing "/".
std::string UploadFolder(const std::string& tempDir);

struct TMultipartInput {
  inline static constexpr std::size_t kWindowSize = 131072;
  // Bytes of a file part kept back in the window at a refill, so that a
  // boundary straddling the refill is still found (more for longer boundaries).
  inline static constexpr std::size_t kKeepBack = 100;
  inline static constexpr std::size_t kMaxBoundary = 254;

  std::int64_t ContentLength = 0;
  // Reads up to count body bytes; 0 at the body's end, negative on failure.
  std::function<int(void* buffer, int count)> Read;
  // Folder for uploaded files, with a trailing "/".
  std::string Folder;
};

// Reads the whole multipart body. Every temporary file is appended to
// `tempFiles` as soon as it is created, so the caller deletes it whatever
// happens afterwards. A body that fails to arrive, ends before its closing
// boundary, or holds a part header or plain value larger than the window
// yields empty content (the caller still deletes the files).
std::string ReadMultipartBody(const TMultipartInput& input, std::vector<std::string>& tempFiles);

// The temporary file name for a client file name: a random number, the
// client name's last path component up to its first "." (letters, digits,
// "-" and "_" only, at most 64 of them) and "tmp".
std::string UploadFileName(std::string_view clientName, std::uint32_t number);
