#include "workbook/workbook_read.h"

#include <algorithm>

#include "platform/compound_file.h"
#include "platform/mapped_file.h"
#include "platform/sysutils.h"
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

// Maps the file, finds its format and hands it to `read` while it is mapped
// (not for kBiff: the BIFF reader maps it itself).
template <typename Read>
Format WithFormat(const std::string& path, const std::string& name, const ReadLimits& limits, const Read& read) {
  if (Blank(path)) throw Exception("Filename is missing");
  platform::MappedFile mapped(path);
  const std::span<const std::uint8_t> file = mapped.Bytes();
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
  if (format != Format::kBiff && mapped.Truncated()) {
    throw Exception("File \"" + path + "\" changed while it was read");
  }
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
