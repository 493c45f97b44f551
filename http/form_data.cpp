#include "http/form_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "http/http_fields.h"
#include "platform/program.h"
#include "platform/sysutils.h"

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == ' ') {
      out += '+';
    } else if (ch == '.' || ch == '/' || ch == '\\' || (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') ||
               (ch >= 'a' && ch <= 'z')) {
      out += ch;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

namespace {

// Reduces "//" and "/./" to "/".
std::string TidyPath(std::string path) {
  for (std::size_t p; (p = path.find("/./")) != std::string::npos;) path.erase(p, 2);
  for (std::size_t p; (p = path.find("//")) != std::string::npos;) path.erase(p, 1);
  return path;
}

}  // namespace

std::string UploadFolder(const std::string& tempDir) {
  std::string folder = !tempDir.empty() && tempDir.front() == '/' ? tempDir : platform::ProgramDir() + "/" + tempDir;
  if (folder.back() != '/') folder += '/';
  return TidyPath(folder);
}

std::string UploadFileName(std::string_view clientName, std::uint32_t number) {
  // Browsers send either kind of separator.
  const auto slash = clientName.find_last_of("/\\");
  std::string_view last = slash == std::string_view::npos ? clientName : clientName.substr(slash + 1);
  last = last.substr(0, last.find('.'));
  std::string stem;
  for (const char ch : last) {
    if (stem.size() == 64) break;
    const bool safe = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                      ch == '-' || ch == '_';
    stem += safe ? ch : '_';
  }
  return std::to_string(number) + stem + ".tmp";
}

namespace {

std::uint32_t RandomUploadNumber() {
  thread_local std::mt19937 generator(std::random_device{}());
  return std::uniform_int_distribution<std::uint32_t>(0, 8999999)(generator);
}

// The text of a header line behind `key` up to the next double quote, trimmed.
std::string QuotedAfter(std::string_view line, std::size_t at, std::size_t keyLength) {
  const auto begin = at + keyLength;
  const auto quote = line.find('"', begin);
  return std::string(Trim(line.substr(begin, quote == std::string_view::npos ? std::string_view::npos : quote - begin)));
}

// Position of `key` in a header line where it starts a parameter (at the line's
// start or behind a blank or ";"), so that "name=" is not found inside
// "filename=".
std::size_t FindParameter(std::string_view line, std::string_view key) {
  for (std::size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
    if (at == 0 || line[at - 1] == ' ' || line[at - 1] == ';' || line[at - 1] == '\t') return at;
  }
  return std::string_view::npos;
}

std::size_t FindNoCase(std::string_view line, std::string_view upperKey) {
  return UpperCase(line).find(upperKey);
}

[[noreturn]] void Refuse(const std::string& message) { throw TRequestBodyError(message); }

class MultipartReader {
 public:
  MultipartReader(const TMultipartInput& input, std::vector<TUploadFile>& files)
      : input_(input), files_(files), window_(TMultipartInput::kWindowSize) {
    announced_ = std::max<std::int64_t>(input.ContentLength, 0);
    expected_ = announced_;
  }

  std::string Run() {
    Fill();
    std::size_t lineEnd = 0;
    while (lineEnd < end_ && lineEnd < TMultipartInput::kMaxBoundary &&
           static_cast<unsigned char>(window_[lineEnd]) >= 32) {
      ++lineEnd;
    }
    boundary_.assign(window_.data(), lineEnd);
    if (boundary_.empty()) Refuse("Multipart body without a boundary line");
    // Bytes that must stay in the window behind the scan position: the
    // boundary less one byte, and the line break in front of it.
    keepBack_ = std::max(TMultipartInput::kKeepBack, boundary_.size() + 2);

    std::size_t scan = 0;  // where the next boundary search starts
    while (!finished_) {
      const char* found = static_cast<const char*>(
          memmem(window_.data() + scan, end_ - scan, boundary_.data(), boundary_.size()));
      if (found) {
        PartSwitch(static_cast<std::size_t>(found - window_.data()), scan);
        continue;
      }
      if (file_ >= 0) {
        // No boundary in the window: stream file data out.
        if (end_ - partStart_ > keepBack_) {
          const std::size_t count = end_ - keepBack_ - partStart_;
          WriteFile(window_.data() + partStart_, count);
          partStart_ += count;
        }
      } else if (!fieldName_.empty() && end_ - partStart_ > FieldRoom() + boundary_.size() + 2) {
        // This much of a plain value is known before its boundary comes.
        FieldsTooLarge();
      }
      const std::size_t resumeAt = std::max(partStart_, end_ >= boundary_.size() ? end_ - boundary_.size() + 1 : 0);
      start_ = partStart_;
      const std::size_t shift = start_;
      if (!Fill()) NothingMore("a field value");
      partStart_ -= shift;
      scan = resumeAt - shift;
    }
    return content_;
  }

 private:
  // Moves the bytes from start_ on to the window's front and reads as much
  // of the body as fits. False when nothing more can come in: the body is
  // read or the window is full. A body that fails or ends before its
  // announced length is refused.
  bool Fill() {
    if (start_ > 0) {
      std::memmove(window_.data(), window_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(window_.size() - end_), expected_));
    std::size_t got = 0;
    while (got < wanted) {
      const int n = input_.Read(window_.data() + end_ + got, static_cast<int>(wanted - got));
      if (n <= 0) {
        const std::string arrived = std::to_string(announced_ - expected_ + static_cast<std::int64_t>(got)) + " of " +
                                    std::to_string(announced_) + " bytes";
        Refuse(n < 0 ? "Request body incomplete: reading failed after " + arrived
                     : "Request body incomplete: " + arrived + " arrived");
      }
      got += static_cast<std::size_t>(n);
    }
    expected_ -= static_cast<std::int64_t>(got);
    end_ += got;
    return got > 0;
  }

  // Fill found no room and no more bytes: either the body is read without
  // its closing boundary, or `what` does not fit in the window.
  [[noreturn]] void NothingMore(const char* what) {
    if (expected_ == 0) Refuse("Multipart body incomplete: no closing boundary");
    Refuse(std::string("Multipart body refused: ") + what + " does not fit in " +
           std::to_string(TMultipartInput::kWindowSize) + " bytes");
  }

  // Finds `byte` at or behind `from`, refilling the window (keeping from
  // start_ on) as needed. Positions are adjusted for the move.
  std::size_t FindByte(char byte, std::size_t& from, const char* what) {
    while (true) {
      const void* hit = std::memchr(window_.data() + from, byte, end_ - from);
      if (hit) return static_cast<std::size_t>(static_cast<const char*>(hit) - window_.data());
      const std::size_t shift = start_;
      const std::size_t resume = end_;
      if (!Fill()) NothingMore(what);
      from = resume - shift;
    }
  }

  // Handles the boundary found at `at`: finishes the part before it, reads
  // the next part's header lines and starts its data. Sets `scan` to where
  // the next search starts, or finished_ at the closing boundary.
  void PartSwitch(std::size_t at, std::size_t& scan) {
    FinishPart(at);
    start_ = at;
    std::size_t pos = at + boundary_.size();
    // The closing boundary carries "--" behind it.
    while (end_ - pos < 2) {
      const std::size_t shift = start_;
      const bool more = Fill();
      pos -= shift;
      if (!more) break;
    }
    if (end_ - pos >= 2 && window_[pos] == '-' && window_[pos + 1] == '-') {
      finished_ = true;
      return;
    }
    pos = FindByte('\n', pos, "a boundary line") + 1;
    // Header lines up to an empty line; each must fit in the window.
    while (true) {
      start_ = pos;  // lines before this one are done with
      const std::size_t eol = FindByte('\n', pos, "a part header");
      std::string_view raw(window_.data() + start_, eol - start_);
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      pos = eol + 1;
      if (raw.empty()) break;
      HeaderLine(raw);
    }
    partStart_ = pos;
    start_ = pos;
    scan = pos;
    if (!clientName_.empty()) StartFile();
  }

  std::size_t FieldRoom() const { return input_.FieldLimit - std::min(fieldBytes_, input_.FieldLimit); }

  [[noreturn]] void FieldsTooLarge() {
    Refuse("Multipart body refused: its fields exceed " + std::to_string(input_.FieldLimit) + " bytes");
  }

  // Counts client bytes that go into the content against FieldLimit.
  void Charge(std::size_t bytes) {
    if (bytes > FieldRoom()) FieldsTooLarge();
    fieldBytes_ += bytes;
  }

  void HeaderLine(std::string_view raw) {
    std::size_t cut = 0;
    while (cut < raw.size() && static_cast<unsigned char>(raw[cut]) >= 32) ++cut;
    const std::string_view line = raw.substr(0, cut);
    if (const auto at = FindParameter(line, "name=\""); at != std::string_view::npos) {
      fieldName_ = QuotedAfter(line, at, 6);
    }
    if (const auto at = FindParameter(line, "filename=\""); at != std::string_view::npos) {
      clientName_ = QuotedAfter(line, at, 10);
    }
    if (const auto at = FindNoCase(line, "CONTENT-TYPE:"); at != std::string_view::npos) {
      contentType_ = std::string(line.substr(at + 13, line.find(';', at + 13) - (at + 13)));
      Charge(fieldName_.size() + contentType_.size());
      content_ += UrlEncode(fieldName_) + "_CONTENT_TYPE=" + UrlEncode(contentType_) + "&";
    }
  }

  void StartFile() {
    if (files_.size() >= TMultipartInput::kMaxFiles) {
      Refuse("Multipart body refused: more than " + std::to_string(TMultipartInput::kMaxFiles) + " files");
    }
    if (contentType_.empty()) contentType_ = "unknown";
    Charge(fieldName_.size() + clientName_.size());
    content_ += UrlEncode(fieldName_) + "=" + UrlEncode(clientName_) + "&";
    ::mkdir(input_.Folder.c_str(), 0700);
    // Created exclusively: a file that exists (another upload's, or a link
    // planted there) is never written into. The name goes at once.
    std::string path, why;
    platform::UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
      path = input_.Folder + UploadFileName(clientName_, RandomUploadNumber());
      fd = platform::OpenWorkFile(path, O_RDWR | O_CREAT | O_EXCL, 0600, why);
      if (!fd && errno != EEXIST) break;
    }
    if (!fd) Refuse("Cannot create upload file " + path + ": " + why);
    ::unlink(path.c_str());
    tempPath_ = path;
    files_.push_back({"/proc/self/fd/" + std::to_string(fd.get()), std::move(fd)});
    file_ = files_.back().Fd.get();
    content_ += UrlEncode(fieldName_) + "_FILENAME=" + UrlEncode(files_.back().Path) + "&";
  }

  void WriteFile(const char* data, std::size_t count) {
    if (!platform::WriteAll(file_, data, count)) {
      Refuse("Cannot write upload file " + tempPath_ + ": " + std::strerror(errno));
    }
  }

  // Ends the part whose data runs up to the boundary at `at`.
  void FinishPart(std::size_t at) {
    if (!fieldName_.empty()) {
      std::size_t stop = at;
      if (stop > partStart_ && window_[stop - 1] == '\n') --stop;
      if (stop > partStart_ && window_[stop - 1] == '\r') --stop;
      if (file_ >= 0) {
        WriteFile(window_.data() + partStart_, stop - partStart_);
      } else {
        const std::string_view value(window_.data() + partStart_, stop - partStart_);
        Charge(fieldName_.size() + value.size());
        content_ += UrlEncode(fieldName_) + "=" + UrlEncode(value) + "&";
      }
    }
    file_ = -1;
    fieldName_.clear();
    clientName_.clear();
    contentType_.clear();
    tempPath_.clear();
  }

  const TMultipartInput& input_;
  std::vector<TUploadFile>& files_;
  std::vector<char> window_;
  std::size_t start_ = 0;  // first byte that must stay in the window
  std::size_t end_ = 0;    // end of the received bytes
  std::size_t partStart_ = 0;
  std::size_t keepBack_ = TMultipartInput::kKeepBack;
  std::int64_t announced_ = 0;
  std::int64_t expected_ = 0;
  std::size_t fieldBytes_ = 0;
  std::string boundary_;
  std::string fieldName_;
  std::string clientName_;
  std::string contentType_;
  std::string tempPath_;  // the name the current upload file had
  int file_ = -1;  // the current file part's descriptor (owned by files_)
  std::string content_;
  bool finished_ = false;
};

}  // namespace

std::string ReadMultipartBody(const TMultipartInput& input, std::vector<TUploadFile>& files) {
  if (!input.Read) return {};
  return MultipartReader(input, files).Run();
}
