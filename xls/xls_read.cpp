#include "xls/xls_read.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "platform/compound_file.h"
#include "platform/sysutils.h"
#include "xls/biff_records.h"
#include "xls/formula_tokens.h"

namespace {

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

constexpr std::array<std::uint8_t, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Pages of a mapped workbook the record loop has passed are let go in steps
// of this size.
constexpr std::size_t kReleaseStep = std::size_t{8} << 20;

bool IsCompound(std::span<const std::uint8_t> file) {
  return file.size() >= kCompoundSignature.size() &&
         std::equal(kCompoundSignature.begin(), kCompoundSignature.end(), file.begin());
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// BOF records of BIFF2, BIFF3, BIFF4 and BIFF5-BIFF8. Other ids with the
// same low byte (0x1009 and the like) are chart records.
bool IsBof(std::uint16_t id) {
  return id == biff::kBof2 || id == biff::kBof3 || id == biff::kBof4 || id == biff::kBof5;
}

}  // namespace

// The whole file; its size bounds what is allocated.
std::vector<std::uint8_t> TXLSRead::ReadWholeFile(const std::string& path) {
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, ec)) in.open(path, std::ios::binary | std::ios::ate);
  if (!in.is_open() || !in) throw Exception("Cannot open file \"" + path + "\"");
  const std::streamoff size = in.tellg();
  if (size < 0) throw Exception("Cannot read file \"" + path + "\"");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) throw Exception("Cannot read file \"" + path + "\"");
  return bytes;
}

namespace {

// Marks a read in progress for as long as it lives.
class ReadingFlag {
 public:
  explicit ReadingFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ReadingFlag() { flag_ = false; }
  ReadingFlag(const ReadingFlag&) = delete;
  ReadingFlag& operator=(const ReadingFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

// The body of the record being handled. Fields the record layout needs must
// be there: a body too short for them raises an error (through the error
// policy) instead of reading past it.
class TXLSRead::Record {
 public:
  Record(std::uint16_t id, const std::uint8_t* data, std::size_t length) : id_(id), data_(data), length_(length) {}

  std::uint16_t Id() const { return id_; }
  std::size_t Length() const { return length_; }
  const std::uint8_t* Data() const { return data_; }
  std::span<const std::uint8_t> Body() const { return {data_, length_}; }

  std::uint8_t U8(std::size_t off) const {
    Need(off, 1);
    return data_[off];
  }
  std::uint16_t U16(std::size_t off) const {
    Need(off, 2);
    return static_cast<std::uint16_t>(data_[off] | data_[off + 1] << 8);
  }
  std::uint32_t U32(std::size_t off) const {
    Need(off, 4);
    return data_[off] | data_[off + 1] << 8 | data_[off + 2] << 16 | static_cast<std::uint32_t>(data_[off + 3]) << 24;
  }
  double F64(std::size_t off) const {
    Need(off, 8);
    double v;
    std::memcpy(&v, data_ + off, 8);
    return v;
  }
  // Fields of records whose missing tail is harmless read as 0.
  std::uint8_t Opt8(std::size_t off) const { return off < length_ ? data_[off] : 0; }
  std::uint16_t Opt16(std::size_t off) const { return static_cast<std::uint16_t>(Opt8(off) | Opt8(off + 1) << 8); }
  std::uint32_t Opt32(std::size_t off) const { return Opt16(off) | static_cast<std::uint32_t>(Opt16(off + 2)) << 16; }

 private:
  void Need(std::size_t off, std::size_t n) const {
    if (off + n > length_) {
      throw Exception("Record 0x" + Hex4(id_) + " is too short (" + std::to_string(length_) + " bytes)");
    }
  }

  std::uint16_t id_;
  const std::uint8_t* data_;
  std::size_t length_;
};

TXLSRead::TXLSRead() = default;

double TXLSRead::RkValue(std::uint32_t rk) {
  double value;
  if (rk & 2) {
    value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = static_cast<std::uint64_t>(rk & ~3u) << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  if (rk & 1) value /= 100;
  return value;
}

std::string TXLSRead::ErrorText(int code) {
  switch (code) {
    case biff::kErrNull: return "#NULL!";
    case biff::kErrDiv0: return "#DIV/0!";
    case biff::kErrValue: return "#VALUE!";
    case biff::kErrRef: return "#REF!";
    case biff::kErrName: return "#NAME?";
    case biff::kErrNum: return "#NUM!";
    case biff::kErrNA: return "#N/A";
    default: return "#???";
  }
}

int TXLSRead::Version() const { return currentVersion_ <= biff::kVersionBiff8 ? currentVersion_ : 0; }

TColor TXLSRead::GetCellColor(int FormatIndex) const { return formats_.CellColor(FormatIndex, Version()); }

// ---------------------------------------------------------------------------
// Opening

void TXLSRead::Read() {
  if (reading_) return;
  if (Trim(FileName).empty()) throw Exception("Filename is missing");
  ReadingFlag flag(reading_);
  stream_ = {};
  ownedFile_.clear();
  ownedStream_.clear();
  mapped_ = platform::MappedFile(FileName);
  OpenFile(mapped_.Bytes());
  Run();
  CheckNotTruncated();
}

// A workbook cut short while it was read (rewritten in place by someone
// else) read as zeros where its pages had gone: what came of it is damaged.
void TXLSRead::CheckNotTruncated() const {
  if (mapped_.Truncated()) throw Exception("File \"" + FileName + "\" changed while it was read");
}

void TXLSRead::BeginEventRead() {
  stream_ = {};
  mapped_ = {};
  ownedFile_.clear();
  ownedStream_.clear();
  detectedVersion_ = currentVersion_ = biff::kVersionUnknown;
  ResetState();
}

void TXLSRead::ReadMemory(std::vector<std::uint8_t> file) {
  if (reading_) return;
  ReadingFlag flag(reading_);
  stream_ = {};
  mapped_ = {};
  ownedStream_.clear();
  ownedFile_ = std::move(file);
  OpenFile(ownedFile_);
  Run();
}

void TXLSRead::ReadRecordStream(std::vector<std::uint8_t> stream, bool biff8) {
  if (reading_) return;
  ReadingFlag flag(reading_);
  mapped_ = {};
  ownedFile_.clear();
  ownedStream_ = std::move(stream);
  stream_ = ownedStream_;
  pos_ = 0;
  released_ = 0;
  plain_ = false;
  detectedVersion_ = biff8 ? biff::kVersionBiff8 : biff::kVersionBiff5;
  currentVersion_ = detectedVersion_;
  maxRecordSize_ = biff8 ? biff::kMaxRecordSizeBiff8 : biff::kMaxRecordSize;
  Run();
}

void TXLSRead::OpenFile(std::span<const std::uint8_t> file) {
  stream_ = {};
  pos_ = 0;
  released_ = 0;
  detectedVersion_ = currentVersion_ = biff::kVersionUnknown;
  if (IsCompound(file)) {
    OpenCompound(file);
    return;
  }
  // Plain record file: the first record must be a BIFF2-BIFF5 BOF, whose
  // body is passed over.
  if (file.size() < biff::kHeaderSize || file[0] != biff::kBofLowByte) throw Exception("File is not a Excel file");
  std::uint8_t version;
  switch (file[1]) {
    case 0x00: version = biff::kVersionBiff2; break;
    case 0x02: version = biff::kVersionBiff3; break;
    case 0x04: version = biff::kVersionBiff4; break;
    case 0x08: version = biff::kVersionBiff5Plain; break;
    default: throw Exception("File is not a Excel file");
  }
  const std::size_t bofLength = static_cast<std::size_t>(file[2] | file[3] << 8);
  stream_ = file;
  pos_ = std::min(stream_.size(), biff::kHeaderSize + bofLength);
  plain_ = true;
  detectedVersion_ = currentVersion_ = version;
  maxRecordSize_ = biff::kMaxRecordSize;
}

// The stream goes to the scratch file a sector at a time; the container's
// pages read so far are let go as it goes. The scratch file's mapping then
// takes the container's place, and the record loop lets go of its pages
// behind it as for any mapped workbook.
std::span<const std::uint8_t> TXLSRead::SpillStream(const platform::CompoundFile& storage, const std::string& name,
                                                    std::span<const std::uint8_t> file) {
  platform::ScratchFile scratch;
  std::size_t sinceRelease = 0;
  storage.ReadStream(name, [&](const std::uint8_t* data, std::size_t count) {
    scratch.Append(data, count);
    sinceRelease += count;
    if (sinceRelease >= kReleaseStep) {
      mapped_.Release(file.data(), file.data() + file.size());
      sinceRelease = 0;
    }
  });
  CheckNotTruncated();
  mapped_ = scratch.Map();
  return mapped_.Bytes();
}

void TXLSRead::OpenCompound(std::span<const std::uint8_t> file) {
  const platform::CompoundFile storage(file);
  // "Workbook" (BIFF8) before "Book" (BIFF5/BIFF7): a dual-stream file is
  // read in its newer form. Some writers spell the names in capitals.
  const auto& elements = storage.Elements();
  const platform::CompoundFile::Element* found = nullptr;
  bool biff8 = false;
  for (const char* wanted : {"Workbook", "Book"}) {
    for (const bool exact : {true, false}) {
      for (const auto& e : elements) {
        if (found == nullptr && e.type == 2 && (exact ? e.name == wanted : SameNoCase(e.name, wanted))) {
          found = &e;
          biff8 = std::string(wanted) == "Workbook";
        }
      }
    }
  }
  if (found == nullptr) throw Exception("File is not a Excel Workbook");
  stream_ = storage.StreamView(found->name);
  if (stream_.empty()) {
    if (found->size > SpillAbove) {
      stream_ = SpillStream(storage, found->name, file);
    } else {
      ownedStream_ = storage.ReadStream(found->name);
      stream_ = ownedStream_;
    }
  }
  pos_ = 0;
  plain_ = false;
  detectedVersion_ = currentVersion_ = biff8 ? biff::kVersionBiff8 : biff::kVersionBiff5;
  maxRecordSize_ = biff8 ? biff::kMaxRecordSizeBiff8 : biff::kMaxRecordSize;
}

// ---------------------------------------------------------------------------
// Record loop

void TXLSRead::ResetState() {
  names_.assign(1, "<Np0>");
  nameFlags_.assign(1, 0);
  externNames_.assign(1, "<Ep0>");
  sheets_.clear();
  sheetCounter_ = -1;
  sheetEntry_ = -1;
  codepage_ = 0;
  formats_.Clear();
  sst_.Clear();
  pendingString_ = {};
  stop_ = false;
  formula_ = {};
  formula_.FuncArgSeparator = FuncArgSeparator;
  formula_.StrTRUE = StrTRUE;
  formula_.StrFALSE = StrFALSE;
  formula_.Codepage = platform::kDefaultCodepage;
  shared_.clear();
}

void TXLSRead::Run() {
  ResetState();
  RecordLoop();
}

bool TXLSRead::ReadHeader(std::uint16_t& id, std::uint16_t& length) {
  if (stream_.size() - pos_ < biff::kHeaderSize) {
    pos_ = stream_.size();
    return false;
  }
  id = static_cast<std::uint16_t>(stream_[pos_] | stream_[pos_ + 1] << 8);
  length = static_cast<std::uint16_t>(stream_[pos_ + 2] | stream_[pos_ + 3] << 8);
  pos_ += biff::kHeaderSize;
  return true;
}

bool TXLSRead::HandleError(const std::string& message) {
  switch (ErrorLevel) {
    case xelException:
      if (OnMessageBox) OnMessageBox(message, false);
      return false;
    case xelMessage:
      return OnMessageBox ? OnMessageBox(message + "\rContinue?", true) : false;
    case xelIgnore:
      return true;
  }
  return false;
}

void TXLSRead::RecordLoop() {
  const std::size_t size = stream_.size();
  const std::size_t step = size / 100;
  std::size_t threshold = step;
  while (!stop_) {
    try {
      std::uint16_t id = 0, length = 0;
      if (!ReadHeader(id, length)) break;
      // A plain file's last record is not handled when it has no body.
      if (plain_ && pos_ >= size) break;
      if (length > maxRecordSize_) {
        pos_ = std::min(size, pos_ + length);
      } else {
        if (length > size - pos_) {
          const std::size_t at = pos_ - biff::kHeaderSize;
          pos_ = size;
          throw Exception("Record 0x" + Hex4(id) + " at offset " + std::to_string(at) +
                          " runs past the end of the stream");
        }
        const Record record(id, stream_.data() + pos_, length);
        const std::size_t start = pos_ - biff::kHeaderSize;
        pos_ += length;
        if (OnRecord) OnRecord(*this, id, length, record.Data());
        if (pendingString_.active && id != biff::kString && id != biff::kString2 && id != biff::kShrFmla &&
            id != biff::kShrFmla5 && id != biff::kArray && id != biff::kArray2 && id != biff::kTable) {
          pendingString_.active = false;
        }
        if (IsBof(id)) {
          OnBof(start, record);
        } else {
          Dispatch(id, record);
        }
      }
      if (pos_ > released_ && pos_ - released_ >= kReleaseStep) {
        // Nothing before the current record is read again (the loop only
        // moves forward): a large mapped workbook stays out of memory.
        mapped_.Release(stream_.data() + released_, stream_.data() + pos_);
        released_ = pos_;
      }
      if (step > 0 && OnProgress && pos_ >= threshold) {
        OnProgress(*this, static_cast<int>(pos_ / step));
        threshold += step;
      }
    } catch (const std::exception& e) {
      if (!HandleError(e.what())) break;
    }
  }
  sst_.Clear();
  pendingString_ = {};
  if (OnProgress) {
    try {
      OnProgress(*this, 100);
    } catch (const std::exception& e) {
      HandleError(e.what());
    }
  }
  formats_.ConvertFontColors(Version());
}

void TXLSRead::Dispatch(std::uint16_t id, const Record& r) {
  switch (id) {
    // Cells of BIFF2 sheets (no XF index).
    case biff::kBlank2:
      if (OnBlankCell) OnBlankCell(*this, r.U16(2), r.U16(0), -1);
      break;
    case biff::kInteger2:
      if (OnNumberCell) OnNumberCell(*this, r.U16(2), r.U16(0), -1, r.U16(7), false);
      break;
    case biff::kNumber2:
      if (OnNumberCell) OnNumberCell(*this, r.U16(2), r.U16(0), -1, r.F64(7), false);
      break;
    case biff::kLabel2:
      if (OnStringCell) OnStringCell(*this, r.U16(2), r.U16(0), -1, DecodeString(r, 8, r.U8(7)), false);
      break;
    case biff::kBoolErr2:
      if (r.U8(8) == 0) {
        if (OnBoolCell) OnBoolCell(*this, r.U16(2), r.U16(0), -1, r.U8(7) != 0, false);
      } else {
        FireError(r.U16(2), r.U16(0), -1, r.U8(7), false);
      }
      break;

    case biff::kFormula:
    case biff::kFormula3:
    case biff::kFormula4:
      HandleFormula(id, r);
      break;
    case biff::kString:
    case biff::kString2:
      if (pendingString_.active) {
        HandleFormulaString(r, id == biff::kString2);
      } else if (OnUnhandled) {
        OnUnhandled(*this, id, static_cast<int>(r.Length()), r.Data());
      }
      break;

    case biff::kEof: {
      if (sheetCounter_ < 0) break;
      bool more = false;
      for (std::size_t i = static_cast<std::size_t>(std::max(sheetEntry_ + 1, 0)); i < sheets_.size(); ++i) {
        more = more || sheets_[i].Type == biff::kSheetTypeWorksheet;
      }
      if (!more) stop_ = true;
      break;
    }

    case biff::kFormat2:
    case biff::kDimensions:
      break;
    case biff::kExternSheet:
      HandleExternSheet(r);
      break;
    case biff::kShrFmla:
    case biff::kShrFmla5:
      // Kept for the cells that refer to it; their formula texts are
      // reported with their own FORMULA records.
      if (OnFormulaCell) StoreShared(id, r);
      break;

    case biff::kName:
    case biff::kName3:
      HandleName(r);
      break;
    case biff::kExternName:
    case biff::kExternName3:
      if (currentVersion_ < biff::kVersionBiff5Plain) {
        externNames_.push_back(DecodeString(r, 3, r.Opt8(2)));
      } else {
        externNames_.push_back(DecodeString(r, 7, r.Opt8(6)));
      }
      formula_.ExternNames.push_back(externNames_.back());
      if (currentVersion_ == biff::kVersionBiff8 && !formula_.SupBooks.empty()) {
        formula_.SupBooks.back().Names.push_back(externNames_.back());
      }
      break;
    case biff::kSupBook:
      // Kept for formula references to other sheets, and still reported.
      HandleSupBook(r);
      if (OnUnhandled) OnUnhandled(*this, id, static_cast<int>(r.Length()), r.Data());
      break;

    case biff::kFilePass:
      throw Exception("Can not read, file is encrypted");

    case biff::kFont:
    case biff::kFont3:
      HandleFont(id, r);
      break;

    case biff::kCodepage:
      // Kept for decoding 8-bit text, and still reported to the host.
      codepage_ = r.Opt16(0);
      formula_.Codepage = codepage_ != 0 ? codepage_ : platform::kDefaultCodepage;
      if (OnUnhandled) OnUnhandled(*this, id, static_cast<int>(r.Length()), r.Data());
      break;

    case biff::kColInfo:
      if (OnCol) OnCol(*this, r.U16(0), r.U16(2), r.U16(6), r.U16(4));
      break;

    case biff::kRk:
    case biff::kRk3:
      if (OnNumberCell) OnNumberCell(*this, r.U16(2), r.U16(0), r.U16(4), RkValue(r.U32(6)), false);
      break;

    case biff::kBoundSheet:
      HandleBoundSheet(r);
      break;

    case biff::kPalette:
      formats_.SetPalette(r.Body());
      break;

    case biff::kMulRk:
      if (OnNumberCell && r.Length() >= 6) {
        const int row = r.U16(0), first = r.U16(2);
        const std::size_t n = (r.Length() - 6) / 6;
        for (std::size_t i = 0; i < n; ++i) {
          OnNumberCell(*this, first + static_cast<int>(i), row, r.U16(4 + 6 * i), RkValue(r.U32(6 + 6 * i)), false);
        }
      }
      break;
    case biff::kMulBlank:
      if (OnBlankCell && r.Length() >= 6) {
        const int row = r.U16(0), first = r.U16(2);
        const std::size_t n = (r.Length() - 6) / 2;
        for (std::size_t i = 0; i < n; ++i) OnBlankCell(*this, first + static_cast<int>(i), row, r.U16(4 + 2 * i));
      }
      break;

    case biff::kRString:
      HandleRString(r);
      break;

    case biff::kXf:
      formats_.AddXf(r.Body(), currentVersion_);
      break;

    case biff::kSst:
      HandleSst(r);
      break;

    case biff::kLabelSst: {
      const int row = r.U16(0), col = r.U16(2), xf = r.U16(4);
      const xls::SstEntry& e = sst_.At(static_cast<std::int32_t>(r.U32(6)));
      if (!e.runs.empty() && OnRichCell) {
        OnRichCell(*this, col, row, xf, e.text, e.runs);
      } else if (OnStringCell) {
        OnStringCell(*this, col, row, xf, e.text, false);
      }
      break;
    }

    case biff::kBlank:
      if (OnBlankCell) OnBlankCell(*this, r.U16(2), r.U16(0), r.U16(4));
      break;
    case biff::kNumber:
      if (OnNumberCell) OnNumberCell(*this, r.U16(2), r.U16(0), r.U16(4), r.F64(6), false);
      break;
    case biff::kLabel:
      if (OnStringCell) OnStringCell(*this, r.U16(2), r.U16(0), r.U16(4), DecodeString(r, 8, r.U16(6)), false);
      break;
    case biff::kBoolErr:
      if (r.U8(7) == 0) {
        if (OnBoolCell) OnBoolCell(*this, r.U16(2), r.U16(0), r.U16(4), r.U8(6) != 0, false);
      } else {
        FireError(r.U16(2), r.U16(0), r.U16(4), r.U8(6), false);
      }
      break;

    case biff::kRow:
      if (OnRow) {
        const std::uint16_t height = r.U16(6);
        OnRow(*this, r.U16(0), r.U16(2), r.U16(4) - 1, r.Opt16(14), (height & 0x8000) ? -1 : height);
      }
      break;

    case biff::kArray:
    case biff::kArray2:
      // Kept for the cells of the array formula, and still reported.
      if (OnFormulaCell) StoreShared(id, r);
      if (OnUnhandled) OnUnhandled(*this, id, static_cast<int>(r.Length()), r.Data());
      break;

    default:
      if (OnUnhandled) OnUnhandled(*this, id, static_cast<int>(r.Length()), r.Data());
      break;
  }
}

// ---------------------------------------------------------------------------
// Sheets

void TXLSRead::OnBof(std::size_t bofPos, const Record& r) {
  const std::uint16_t version = r.U16(0);
  const std::uint16_t type = r.U16(2);
  if (version == biff::kBofVersionBiff5) {
    detectedVersion_ = biff::kVersionBiff5;
    maxRecordSize_ = biff::kMaxRecordSize;
  } else if (version == biff::kBofVersionBiff8) {
    detectedVersion_ = biff::kVersionBiff8;
    maxRecordSize_ = biff::kMaxRecordSizeBiff8;
  } else if (version < biff::kBofVersionBiff5) {
    throw Exception("File is not a Excel 95/97 Workbook");
  }

  if (type == biff::kBofWorkbookGlobals) {
    currentVersion_ = detectedVersion_;
    return;
  }
  if (type != biff::kBofWorksheet) {
    // Chart, macro sheet or module: not read.
    SkipSubstream();
    return;
  }

  ++sheetCounter_;
  shared_.clear();
  // The sheet list holds every BOUNDSHEET (chart and macro sheets too) while
  // the counter counts worksheets only: find this worksheet's own entry by
  // its BOF offset, else take the counter-th worksheet entry.
  sheetEntry_ = -1;
  for (std::size_t i = 0; i < sheets_.size() && sheetEntry_ < 0; ++i) {
    if (sheets_[i].BofOffset == bofPos) sheetEntry_ = static_cast<int>(i);
  }
  if (sheetEntry_ < 0) {
    int seen = 0;
    for (std::size_t i = 0; i < sheets_.size() && sheetEntry_ < 0; ++i) {
      if (sheets_[i].Type == biff::kSheetTypeWorksheet && seen++ == sheetCounter_) sheetEntry_ = static_cast<int>(i);
    }
  }

  bool readIt = sheetCounter_ == 0;
  if (OnSheet) {
    const std::string name = sheetEntry_ >= 0 ? sheets_[static_cast<std::size_t>(sheetEntry_)].Name : std::string();
    OnSheet(*this, name, sheetCounter_, readIt);
  }
  if (readIt) return;

  // Not wanted: go on at the next worksheet's BOF, or stop after the last.
  const SheetEntry* next = nullptr;
  for (std::size_t i = static_cast<std::size_t>(std::max(sheetEntry_ + 1, 0)); i < sheets_.size() && !next; ++i) {
    if (sheets_[i].Type == biff::kSheetTypeWorksheet) next = &sheets_[i];
  }
  if (sheetEntry_ < 0 || next == nullptr) {
    stop_ = true;
    return;
  }
  const std::size_t target = next->BofOffset;
  if (target > bofPos && target + biff::kHeaderSize <= stream_.size() && IsBof(static_cast<std::uint16_t>(stream_[target] | stream_[target + 1] << 8))) {
    pos_ = target;
  } else {
    SkipSubstream();  // offset not usable: walk to the next BOF instead
  }
}

void TXLSRead::SkipSubstream() {
  // The BOF of the substream has been read: pass over records up to and
  // including its own EOF (embedded substreams nest).
  int depth = 1;
  std::uint16_t id = 0, length = 0;
  while (depth > 0 && ReadHeader(id, length)) {
    if (IsBof(id)) ++depth;
    if (id == biff::kEof) --depth;
    pos_ = std::min(stream_.size(), pos_ + length);
  }
}

void TXLSRead::HandleBoundSheet(const Record& r) {
  SheetEntry entry;
  entry.BofOffset = r.U32(0);
  entry.Type = r.Opt8(5);
  const std::size_t length = r.Opt8(6);
  if (detectedVersion_ == biff::kVersionBiff8) {
    entry.Name = DecodeString(r, 7, length);
  } else if (r.Length() > 7) {
    entry.Name = Decode8Bit(r.Data() + 7, std::min(length, r.Length() - 7));
  }
  formula_.Sheets.push_back(entry.Name);
  sheets_.push_back(std::move(entry));
}

// ---------------------------------------------------------------------------
// Cells

void TXLSRead::FireError(int col, int row, int xf, int code, bool isFormula) {
  if (OnErrorCell) OnErrorCell(*this, col, row, xf, code, isFormula);
  if (OnStringCell) OnStringCell(*this, col, row, xf, ErrorText(code), isFormula);
}

void TXLSRead::HandleFormula(std::uint16_t id, const Record& r) {
  // Result (8 bytes) position and the test for a non-number result differ
  // by version.
  const bool biff2 = id == biff::kFormula && detectedVersion_ == biff::kVersionBiff2;
  const int row = r.U16(0), col = r.U16(2);
  const int xf = biff2 ? -1 : r.U16(4);
  const std::size_t result = biff2 ? 7 : 6;
  (void)r.U8(result + 7);
  // The formula text comes first. A formula that cannot be decoded still
  // gives its cached result before its error goes to the error policy.
  std::exception_ptr failure;
  if (OnFormulaCell) {
    try {
      FireFormula(id, r, col, row, biff2);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  const std::uint8_t* res = r.Data() + result;
  const bool marked = id == biff::kFormula && !biff2 ? (res[6] == 0xFF && res[7] == 0xFF) : res[6] == 0xFF;
  if (!marked) {
    if (OnNumberCell) OnNumberCell(*this, col, row, xf, r.F64(result), true);
  } else {
    switch (res[0]) {
      case 0: {
        // Text result: in the STRING record that follows (after a shared
        // formula, array or table record that belongs to this cell, if any).
        pendingString_ = {true, col, row, xf};
        std::uint16_t nextId = 0, nextLength = 0;
        const std::size_t here = pos_;
        if (!ReadHeader(nextId, nextLength)) {
          pendingString_.active = false;
          break;
        }
        pos_ = here;
        if (nextId == biff::kString || nextId == biff::kString2) {
          ReadHeader(nextId, nextLength);
          const std::size_t avail = std::min<std::size_t>(nextLength, stream_.size() - pos_);
          const Record string(nextId, stream_.data() + pos_, avail);
          pos_ += avail;
          HandleFormulaString(string, nextId == biff::kString2);
        } else if (nextId != biff::kShrFmla && nextId != biff::kShrFmla5 && nextId != biff::kArray &&
                   nextId != biff::kArray2 && nextId != biff::kTable) {
          pendingString_.active = false;
        }
        break;
      }
      case 1:
        if (OnBoolCell) OnBoolCell(*this, col, row, xf, res[2] != 0, true);
        break;
      case 2:
        FireError(col, row, xf, res[2], true);
        break;
      default:
        // Empty text result (BIFF8 type 3) and unknown types.
        if (OnStringCell) OnStringCell(*this, col, row, xf, std::string(), true);
        break;
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TXLSRead::FireFormula(std::uint16_t id, const Record& r, int col, int row, bool biff2) {
  // Token count and first token: BIFF2 FORMULA, BIFF3/BIFF4 FORMULA, and the
  // FORMULA record of BIFF5 and later.
  std::size_t count, at;
  if (biff2) {
    count = r.U8(16);
    at = 17;
  } else if (id == biff::kFormula) {
    count = r.U16(20);
    at = 22;
  } else {
    count = r.U16(16);
    at = 18;
  }
  formula_.Version = currentVersion_;
  const std::span<const std::uint8_t> tokens = r.Body().subspan(std::min(at, r.Length()));
  // A cell of a shared or array formula holds only a reference (tExp) to
  // the range's first cell; the formula is decoded for this cell.
  if (count >= 4 && tokens.size() >= 4 && tokens[0] == ptg::kExp) {
    const int anchorRow = tokens[1] | tokens[2] << 8, anchorCol = tokens[3];
    if (SharedFormula* shared = FindShared(anchorRow, anchorCol)) {
      OnFormulaCell(*this, col, row,
                    xls::DecodeSharedFormula(shared->data, shared->tokenCount, col, row, formula_, shared->text));
      return;
    }
  }
  OnFormulaCell(*this, col, row, xls::DecodeFormula(tokens, count, 0, 0, formula_));
}

TXLSRead::SharedFormula* TXLSRead::FindShared(int anchorRow, int anchorCol) {
  auto it = shared_.find({anchorRow, anchorCol});
  if (it != shared_.end()) return &it->second;
  // The range's first cell comes before its SHRFMLA or ARRAY record, which
  // follows right behind (a TABLE record has no tokens).
  std::uint16_t id = 0, length = 0;
  const std::size_t here = pos_;
  if (!ReadHeader(id, length)) return nullptr;
  const std::size_t body = pos_;
  pos_ = here;
  if ((id == biff::kShrFmla || id == biff::kShrFmla5 || id == biff::kArray || id == biff::kArray2) &&
      length <= maxRecordSize_ && length <= stream_.size() - body) {
    StoreShared(id, Record(id, stream_.data() + body, length));
    it = shared_.find({anchorRow, anchorCol});
    if (it != shared_.end()) return &it->second;
  }
  return nullptr;
}

void TXLSRead::StoreShared(std::uint16_t id, const Record& r) {
  // Range: first row 0, last row 2, first column 4 (1 byte), last column 5;
  // then the token count and tokens, at an offset that depends on the record.
  std::size_t count, at;
  if (id == biff::kShrFmla || id == biff::kShrFmla5) {
    count = r.U16(8);
    at = 10;
  } else if (id == biff::kArray2) {
    count = r.U8(7);
    at = 8;
  } else if (currentVersion_ >= biff::kVersionBiff5Plain) {
    count = r.U16(12);
    at = 14;
  } else {
    count = r.U16(8);
    at = 10;
  }
  SharedFormula& shared = shared_[{r.U16(0), r.U8(4)}];
  const std::span<const std::uint8_t> tail = r.Body().subspan(std::min(at, r.Length()));
  shared.data.assign(tail.begin(), tail.end());
  shared.tokenCount = count;
  shared.text = {};
}

void TXLSRead::HandleName(const Record& r) {
  const std::size_t at = currentVersion_ < biff::kVersionBiff5Plain ? 6 : 14;
  names_.push_back(r.Length() > 3 ? DecodeString(r, at, r.Opt8(3)) : std::string());
  const std::uint16_t flags = r.Opt16(0);
  nameFlags_.push_back(flags);
  // A built-in name (BIFF5 and later) is stored as a one-character code.
  static const char* const kBuiltIn[] = {"Consolidate_Area", "Auto_Open",     "Auto_Close",      "Extract",
                                         "Database",         "Criteria",      "Print_Area",      "Print_Titles",
                                         "Recorder",         "Data_Form",     "Auto_Activate",   "Auto_Deactivate",
                                         "Sheet_Title",      "_FilterDatabase"};
  const std::string& name = names_.back();
  if (currentVersion_ >= biff::kVersionBiff5Plain && (flags & 0x0020) != 0 && name.size() == 1 &&
      static_cast<unsigned char>(name[0]) < std::size(kBuiltIn)) {
    formula_.Names.push_back(kBuiltIn[static_cast<unsigned char>(name[0])]);
  } else {
    formula_.Names.push_back(name);
  }
}

void TXLSRead::HandleExternSheet(const Record& r) {
  // BIFF8: entry count, then (SUPBOOK index, first sheet, last sheet) per
  // entry. Earlier versions keep one encoded sheet name per record, which
  // formulas do not need.
  if (currentVersion_ != biff::kVersionBiff8) return;
  const std::size_t n = std::min<std::size_t>(r.Opt16(0), r.Length() >= 2 ? (r.Length() - 2) / 6 : 0);
  for (std::size_t i = 0; i < n; ++i) {
    formula_.ExternSheets.push_back({r.U16(2 + 6 * i), r.U16(4 + 6 * i), r.U16(6 + 6 * i)});
  }
}

void TXLSRead::HandleSupBook(const Record& r) {
  if (currentVersion_ != biff::kVersionBiff8) return;
  xls::SupBook book;
  if (r.Length() == 4 && r.U16(2) == 0x0401) {
    book.Type = xls::SupBook::sbInternal;
  } else if (r.Length() == 4 && r.U16(2) == 0x3A01) {
    book.Type = xls::SupBook::sbAddIn;
  } else {
    // Another workbook: sheet count, its encoded file name, its sheet names
    // (each a 16-bit length, an option byte and the characters).
    book.Type = xls::SupBook::sbExternal;
    const std::size_t sheets = r.Opt16(0);
    std::size_t at = 2;
    auto next = [&]() {
      const std::size_t n = r.U16(at);
      const bool wide = (r.U8(at + 2) & biff::kStrHighByte) != 0;
      std::string text = DecodeString(r, at + 2, n);
      at += 3 + (wide ? 2 * n : n);
      return text;
    };
    const std::string url = next();
    // The file name is the part behind the path's control characters.
    std::size_t start = 0;
    for (std::size_t i = 0; i < url.size(); ++i) {
      if (static_cast<unsigned char>(url[i]) < 0x20) start = i + 1;
    }
    book.Book = url.substr(start);
    for (std::size_t i = 0; i < sheets && at < r.Length(); ++i) book.Sheets.push_back(next());
  }
  formula_.SupBooks.push_back(std::move(book));
}

void TXLSRead::HandleFormulaString(const Record& r, bool biff2) {
  const PendingString cell = pendingString_;
  pendingString_.active = false;
  if (biff2) {
    if (OnStringCell) OnStringCell(*this, cell.col, cell.row, cell.xf, DecodeString(r, 1, r.U8(0)), true);
    return;
  }
  const std::size_t n = r.U16(0);
  if (currentVersion_ != biff::kVersionBiff8) {
    // 8-bit characters; a long text goes on in CONTINUE records.
    std::string bytes;
    std::size_t at = 2;
    if (r.Length() > 2 && r.Data()[2] == 0) at = 3;
    const std::size_t first = std::min(n, r.Length() > at ? r.Length() - at : 0);
    bytes.append(reinterpret_cast<const char*>(r.Data()) + at, first);
    std::uint16_t id = 0, length = 0;
    while (bytes.size() < n && ReadHeader(id, length)) {
      if (id != biff::kContinue) {
        pos_ -= biff::kHeaderSize;
        break;
      }
      const std::size_t avail = std::min<std::size_t>(length, stream_.size() - pos_);
      bytes.append(reinterpret_cast<const char*>(stream_.data() + pos_), std::min(avail, n - bytes.size()));
      pos_ += avail;
    }
    if (OnStringCell) {
      OnStringCell(*this, cell.col, cell.row, cell.xf,
                   Decode8Bit(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), true);
    }
    return;
  }
  // BIFF8: option byte and characters; each CONTINUE that carries the rest
  // starts with an option byte of its own.
  std::vector<std::uint8_t> utf16;
  std::size_t got = 0;
  auto take = [&](const std::uint8_t* p, std::size_t avail) {
    if (avail == 0) return;
    const bool wide = (p[0] & biff::kStrHighByte) != 0;
    const std::size_t k = std::min(n - got, (avail - 1) / (wide ? 2 : 1));
    for (std::size_t i = 0; i < k; ++i) {
      utf16.push_back(wide ? p[1 + 2 * i] : p[1 + i]);
      utf16.push_back(wide ? p[2 + 2 * i] : 0);
    }
    got += k;
  };
  if (r.Length() > 2) take(r.Data() + 2, r.Length() - 2);
  std::uint16_t id = 0, length = 0;
  while (got < n && ReadHeader(id, length)) {
    if (id != biff::kContinue) {
      pos_ -= biff::kHeaderSize;
      break;
    }
    const std::size_t avail = std::min<std::size_t>(length, stream_.size() - pos_);
    take(stream_.data() + pos_, avail);
    pos_ += avail;
  }
  if (OnStringCell) OnStringCell(*this, cell.col, cell.row, cell.xf, platform::Utf16LeToUtf8(utf16.data(), got), true);
}

void TXLSRead::HandleRString(const Record& r) {
  const int row = r.U16(0), col = r.U16(2), xf = r.U16(4);
  const std::size_t length = r.U16(6);
  const std::string text = DecodeString(r, 8, length);
  if (!OnRichCell) {
    if (OnStringCell) OnStringCell(*this, col, row, xf, text, false);
    return;
  }
  xls::RunBlock runs;
  if (currentVersion_ == biff::kVersionBiff8) {
    // BIFF8: option byte, characters, 16-bit run count, 4-byte runs.
    const std::size_t unit = (r.Opt8(8) & biff::kStrHighByte) ? 2 : 1;
    const std::size_t at = 9 + unit * length;
    const std::size_t n = std::min<std::size_t>(r.Opt16(at), r.Length() > at + 2 ? (r.Length() - at - 2) / 4 : 0);
    runs.push_back(static_cast<std::uint32_t>(n) << 16);
    for (std::size_t i = 0; i < n; ++i) runs.push_back(r.U32(at + 2 + 4 * i));
  } else {
    // BIFF5: characters, 8-bit run count, runs of (first character, font).
    const std::size_t at = 8 + length;
    const std::size_t n = std::min<std::size_t>(r.Opt8(at), r.Length() > at + 1 ? (r.Length() - at - 1) / 2 : 0);
    runs.push_back(static_cast<std::uint32_t>(n) << 16);
    for (std::size_t i = 0; i < n; ++i) {
      runs.push_back(r.U8(at + 1 + 2 * i) | static_cast<std::uint32_t>(r.U8(at + 2 + 2 * i)) << 16);
    }
  }
  OnRichCell(*this, col, row, xf, text, runs);
}

void TXLSRead::HandleSst(const Record& r) {
  // The SST body and the CONTINUE records right behind it form one table.
  std::vector<std::span<const std::uint8_t>> segments{r.Body()};
  std::uint16_t id = 0, length = 0;
  while (ReadHeader(id, length)) {
    if (id != biff::kContinue) {
      pos_ -= biff::kHeaderSize;
      break;
    }
    const std::size_t avail = std::min<std::size_t>(length, stream_.size() - pos_);
    segments.emplace_back(stream_.data() + pos_, avail);
    pos_ += avail;
  }
  sst_.Parse(segments);
}

void TXLSRead::HandleFont(std::uint16_t id, const Record& r) {
  xls::XlsFont font;
  font.Size = r.Opt16(0) / 20;
  const std::uint16_t options = r.Opt16(2);
  font.Italic = (options & 0x02) != 0;
  font.StrikeOut = (options & 0x08) != 0;
  if (id == biff::kFont && currentVersion_ >= biff::kVersionBiff5Plain) {
    font.ColorIndex = r.Opt16(4);
    font.Bold = r.Opt16(6) >= 700;
    font.Underline = r.Opt8(10) != 0;
    font.Charset = r.Opt8(12);
    font.Name = DecodeString(r, 15, r.Opt8(14));
  } else if (id == biff::kFont) {
    // BIFF2: height, options, name.
    font.ColorIndex = 0x7FFF;
    font.Bold = (options & 0x01) != 0;
    font.Underline = (options & 0x04) != 0;
    font.Name = DecodeString(r, 5, r.Opt8(4));
  } else {
    // BIFF3/BIFF4: height, options, colour index, name.
    font.ColorIndex = r.Opt16(4);
    font.Bold = (options & 0x01) != 0;
    font.Underline = (options & 0x04) != 0;
    font.Name = DecodeString(r, 7, r.Opt8(6));
  }
  formats_.AddFont(std::move(font));
}

// ---------------------------------------------------------------------------
// Text

std::string TXLSRead::Decode8Bit(const std::uint8_t* p, std::size_t n) const {
  return platform::CodepageToUtf8(std::string_view(reinterpret_cast<const char*>(p), n),
                                  codepage_ != 0 ? codepage_ : platform::kDefaultCodepage);
}

std::string TXLSRead::DecodeString(const Record& r, std::size_t offset, std::size_t n) const {
  // Characters that the record does not hold are left out.
  if (n == 0 || offset >= r.Length()) return {};
  const std::uint8_t* p = r.Data() + offset;
  const std::size_t avail = r.Length() - offset;
  if (currentVersion_ == biff::kVersionBiff8) {
    // Option byte, then 8-bit (the low bytes of UTF-16) or UTF-16LE characters.
    if (p[0] & biff::kStrHighByte) return platform::Utf16LeToUtf8(p + 1, std::min(n, (avail - 1) / 2));
    return platform::Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(p + 1), std::min(n, avail - 1)));
  }
  // Earlier versions: an option byte of 0 may precede the characters.
  if (p[0] == 0) return Decode8Bit(p + 1, std::min(n, avail - 1));
  return Decode8Bit(p, std::min(n, avail));
}
