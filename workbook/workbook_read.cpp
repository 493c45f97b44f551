#include "workbook/workbook_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/compound_file.h"
#include "platform/mapped_file.h"
#include "platform/sysutils.h"
#include "platform/work_file.h"
#include "workbook/format_readers.h"
#include "workbook/xlsx_read.h"

#if __has_include("workbook/ods_read.h")
#define GRAFOLIO_HAS_ODS 1
#endif
#if __has_include("workbook/csv_read.h")
#define GRAFOLIO_HAS_CSV 1
#endif

namespace workbook {

namespace {

// The first bytes decide the format.
constexpr std::size_t kHeadSize = 4096;
// The ODF mimetype entry is a short text.
constexpr std::size_t kMaxMimetype = 256;

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// An OOXML package encrypted by Office is a compound document holding an
// "EncryptedPackage" stream (and "EncryptionInfo") in place of a workbook.
bool IsEncryptedPackage(std::span<const std::uint8_t> file) {
  try {
    const platform::CompoundFile storage(file);
    return std::any_of(storage.Elements().begin(), storage.Elements().end(),
                       [](const auto& e) { return e.name == "EncryptedPackage"; });
  } catch (const std::exception&) {
    return false;  // damage is the BIFF reader's to report
  }
}

ZipFacts Facts(ZipArchive& zip) {
  ZipFacts facts;
  if (zip.Entries().empty()) return facts;
  const ZipArchive::Entry& first = zip.Entries().front();
  facts.firstEntryName = first.name;
  // ODF wants "mimetype" first and stored; some writers (SheetJS) put it later.
  if (const ZipArchive::Entry* mimetype = zip.Find("mimetype")) {
    std::string text;
    zip.Read(*mimetype, [&](std::span<const std::uint8_t> chunk) {
      text.append(reinterpret_cast<const char*>(chunk.data()), std::min(chunk.size(), kMaxMimetype - text.size()));
      return text.size() < kMaxMimetype;
    });
    facts.mimetype = text;
  }
  if (facts.mimetype.find("spreadsheet") == std::string::npos) {
    facts.workbookContentType = NamesWorkbookPart(zip);
  }
  return facts;
}

// The bytes of a workbook file: read into memory when it has at most
// `readWhole` bytes, else mapped.
class FileBytes {
 public:
  FileBytes(const std::string& path, std::size_t readWhole) : path_(path) {
    if (readWhole > 0) {
      const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
      struct stat st {};
      if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw Exception("Cannot open file \"" + path + "\"");
      }
      if (static_cast<std::uint64_t>(st.st_size) <= readWhole) {
        read_.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < read_.size()) {
          const ssize_t n = ::pread(fd.get(), read_.data() + done, read_.size() - done, static_cast<off_t>(done));
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) throw Exception("Cannot read file \"" + path + "\": " + std::strerror(errno));
          if (n == 0) throw Exception("File \"" + path + "\" changed while it was read");
          done += static_cast<std::size_t>(n);
        }
        bytes_ = read_;
        return;
      }
    }
    mapped_ = platform::MappedFile(path);
    bytes_ = mapped_.Bytes();
  }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  // See platform::MappedFile::Truncated; a file read into memory is read whole.
  void CheckUnchanged() const {
    if (mapped_.Truncated()) throw Exception("File \"" + path_ + "\" changed while it was read");
  }

 private:
  const std::string& path_;
  std::vector<std::uint8_t> read_;
  platform::MappedFile mapped_;
  std::span<const std::uint8_t> bytes_;
};

// Opens the file, finds its format and hands it to `read` while its bytes
// are at hand (not for kBiff: the BIFF reader opens it itself).
template <typename Read>
Format WithFormat(const std::string& path, const std::string& name, const ReadLimits& limits, const Read& read) {
  if (Blank(path)) throw Exception("Filename is missing");
  const FileBytes bytes(path, limits.readWhole);
  const std::span<const std::uint8_t> file = bytes.Bytes();
  const std::span<const std::uint8_t> head = file.first(std::min(file.size(), kHeadSize));
  Format format = Format::kBiff;
  if (LooksLikeZip(head)) {
    ReadLimits own = limits;
    ZipArchive zip(file, own.budget);
    format = ZipFormat(Facts(zip));
    read(format, file, &zip, own);
  } else if (LooksLikeCompound(head) && IsEncryptedPackage(file)) {
    throw Exception("Can not read, file is encrypted");
  } else {
    format = HeadFormat(head, name.empty() ? path : name);
    if (format != Format::kBiff) read(format, file, nullptr, limits);
  }
  if (format != Format::kBiff) bytes.CheckUnchanged();
  return format;
}

}  // namespace

Format ReadWorkbookFileUnlessBiff(TXLSRead& events, const std::string& path, const ReadLimits& limits,
                                  const std::string& name) {
  return WithFormat(path, name, limits, [&](Format f, std::span<const std::uint8_t> file, ZipArchive* zip,
                                            const ReadLimits& own) {
    switch (f) {
      case Format::kXlsx: ReadXlsxPackage(events, *zip, own); break;
#ifdef GRAFOLIO_HAS_ODS
      case Format::kOds: ReadOdsPackage(events, *zip, own); break;
      case Format::kFods: ReadFlatOds(events, file, own); break;
#else
      case Format::kOds:
      case Format::kFods: throw Exception("OpenDocument workbooks are not read yet");
#endif
#ifdef GRAFOLIO_HAS_CSV
      case Format::kCsv: ReadCsvWorkbook(events, file, name.empty() ? path : name, own); break;
#else
      case Format::kCsv: throw Exception("CSV files are not read yet");
#endif
      case Format::kBiff: break;
    }
    (void)file;
  });
}

Format ReadWorkbookFile(TXLSRead& events, const std::string& path, const ReadLimits& limits,
                        const std::string& name) {
  const Format format = ReadWorkbookFileUnlessBiff(events, path, limits, name);
  if (format == Format::kBiff) {
    events.FileName = path;
    events.Read();
  }
  return format;
}

}  // namespace workbook
