#include "resident/cgi_exchange_format.h"

#include <algorithm>
#include <cstring>

std::array<char, kQueueRecordSize> EncodeQueueRecord(const TQueueRecord& record) {
  std::array<char, kQueueRecordSize> bytes{};
  bytes[0] = static_cast<char>(record.Status);
  static_assert(sizeof(double) == 8);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &record.QueuedAt, 8);
  for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  const std::size_t n = std::min<std::size_t>(record.RequestName.size(), 255);
  std::memcpy(bytes.data() + 12, record.RequestName.data(), n);
  return bytes;
}

TQueueRecord DecodeQueueRecord(const char* bytes) {
  TQueueRecord record;
  record.Status = static_cast<std::uint8_t>(bytes[0]);
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[4 + i])) << (8 * i);
  std::memcpy(&record.QueuedAt, &bits, 8);
  record.RequestName.assign(bytes + 12, strnlen(bytes + 12, 255));
  return record;
}

std::vector<TQueueRecord> DecodeQueue(std::string_view bytes) {
  std::vector<TQueueRecord> records;
  records.reserve(bytes.size() / kQueueRecordSize);
  for (std::size_t at = 0; at + kQueueRecordSize <= bytes.size(); at += kQueueRecordSize) {
    records.push_back(DecodeQueueRecord(bytes.data() + at));
  }
  return records;
}

std::string UpperCaseName(std::string_view name) {
  std::string upper(name);
  for (auto& ch : upper) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return upper;
}

std::string RequestFileHead(const std::vector<std::string>& environment) {
  std::string head;
  for (const auto& entry : environment) head.append(entry).append("\r\n");
  head.append("KESTREL_CGI_DEBUG=true\r\n\r\n");
  return head;
}

std::optional<std::size_t> ParseRequestHead(std::string_view bytes, std::vector<std::string>& lines) {
  lines.clear();
  const std::size_t end = bytes.substr(0, kMaxRequestHead).find("\r\n\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  std::size_t at = 0;
  while (at < end) {
    const std::size_t next = std::min(bytes.find("\r\n", at), end);
    lines.emplace_back(bytes.substr(at, next - at));
    at = next + 2;
  }
  return end + 4;
}

TRequestFileHead ReadRequestFileHead(const std::function<std::size_t(char* buffer, std::size_t count)>& read) {
  TRequestFileHead head;
  std::string bytes;
  char block[8192];
  // The end of the head is searched only in what arrived last (plus the
  // three bytes before it that a CR LF CR LF may straddle).
  std::size_t searched = 0;
  while (bytes.size() < kMaxRequestHead + 4) {
    const std::size_t n = read(block, sizeof block);
    if (n == 0 || n > sizeof block) break;
    bytes.append(block, n);
    const std::size_t from = searched >= 3 ? searched - 3 : 0;
    const std::size_t end = bytes.find("\r\n\r\n", from);
    searched = bytes.size();
    if (end == std::string::npos) continue;
    if (const auto length = ParseRequestHead(bytes, head.Lines)) {
      head.Complete = true;
      head.BodyStart = bytes.substr(*length);
    }
    return head;
  }
  head.Lines.clear();
  return head;
}

std::string RequestVariable(const std::vector<std::string>& lines, std::string_view name) {
  for (const auto& line : lines) {
    if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == '=') {
      return line.substr(name.size() + 1);
    }
  }
  return {};
}
