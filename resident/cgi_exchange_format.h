// The bytes of the resident server's exchange files: the queue file's
// 268-byte records and the request file (environment lines, an empty line,
// then the body). Shared by the client that writes them and the server
// that reads them; no I/O beyond the reader's callback.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One record of the queue file (268 bytes, little-endian):
//   offset 0, 4 bytes: status (only the first byte is tested and changed)
//   offset 4, 8 bytes: time queued, IEEE double, days since 1899-12-30, local
//   offset 12, 256 bytes: request file name, upper-cased, zero-terminated
inline constexpr std::size_t kQueueRecordSize = 268;
enum : std::uint8_t { kRecordWaiting = 0, kRecordTaken = 1, kRecordAnswered = 2 };

struct TQueueRecord {
  std::uint8_t Status = kRecordWaiting;  // only the first byte of the 4-byte field
  double QueuedAt = 0;                   // days since 1899-12-30, local time
  std::string RequestName;               // upper-cased file name, at most 255 characters

  bool operator==(const TQueueRecord&) const = default;
};

std::array<char, kQueueRecordSize> EncodeQueueRecord(const TQueueRecord& record);
// Reads a record; the name ends at its first zero byte or after 255 bytes.
TQueueRecord DecodeQueueRecord(const char* bytes);
// Every whole record of a queue file's bytes; a torn record at the end is
// left out.
std::vector<TQueueRecord> DecodeQueue(std::string_view bytes);

// Upper-cases ASCII letters (file names are matched without regard to case).
std::string UpperCaseName(std::string_view name);

// The head of a request file: every environment string followed by CR LF,
// then "KESTREL_CGI_DEBUG=true" and CR LF CR LF. The body follows it.
std::string RequestFileHead(const std::vector<std::string>& environment);

// Largest head a request file may have; a longer one is malformed.
inline constexpr std::size_t kMaxRequestHead = 256 * 1024;

// Splits the head of a request file into its lines (the empty line that ends
// it excluded). Returns the head's length (up to and including CR LF CR LF),
// or nothing when `bytes` holds no complete head within kMaxRequestHead.
std::optional<std::size_t> ParseRequestHead(std::string_view bytes, std::vector<std::string>& lines);

// A request file's head as the server reads it from the file.
struct TRequestFileHead {
  bool Complete = false;            // an empty line ended the head within kMaxRequestHead
  std::vector<std::string> Lines;   // NAME=value lines (empty when not complete)
  std::string BodyStart;            // bytes read beyond the head: the body's start
};

// Reads a head through READ (returns the bytes it put into the buffer, 0 at
// the end or on an error), never more than kMaxRequestHead plus one block.
TRequestFileHead ReadRequestFileHead(const std::function<std::size_t(char* buffer, std::size_t count)>& read);

// The value of the first line that begins with NAME and "=" (case as given),
// or empty.
std::string RequestVariable(const std::vector<std::string>& lines, std::string_view name);
