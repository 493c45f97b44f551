// BIFF record stream format: record ids, version codes and limits shared by
// the workbook reader (and usable by a writer).
//
// A record stream is a sequence of records, each a 4-byte header (16-bit id,
// 16-bit body length, little-endian) followed by the body. BIFF2-BIFF4 and
// single-sheet BIFF5 workbooks are plain record files; BIFF5/BIFF7 and BIFF8
// workbooks live in the "Book" or "Workbook" stream of a compound document.
#pragma once

#include <cstdint>

namespace biff {

// Record header: id (2 bytes) and body length (2 bytes).
inline constexpr int kHeaderSize = 4;

// Largest record body the reader loads: BIFF2-BIFF7 and BIFF8.
inline constexpr int kMaxRecordSize = 0x0820;      // 2080
inline constexpr int kMaxRecordSizeBiff8 = 0x2020;  // 8224

// Workbook version codes (one byte) as the reader reports them.
enum VersionCode : std::uint8_t {
  kVersionUnknown = 0,
  kVersionBiff2 = 1,
  kVersionBiff3 = 2,
  kVersionBiff4 = 3,
  kVersionBiff5Plain = 4,  // BIFF5 as a plain record file
  kVersionBiff5 = 5,       // BIFF5/BIFF7 in a compound document ("Book")
  kVersionBiff8 = 6,       // BIFF8 ("Workbook")
};

// Version field of a BIFF5+ BOF record.
inline constexpr std::uint16_t kBofVersionBiff5 = 0x0500;
inline constexpr std::uint16_t kBofVersionBiff8 = 0x0600;

// Substream type field of a BIFF5+ BOF record.
inline constexpr std::uint16_t kBofWorkbookGlobals = 0x0005;
inline constexpr std::uint16_t kBofWorksheet = 0x0010;

// Sheet type byte of a BOUNDSHEET record (offset 5).
inline constexpr std::uint8_t kSheetTypeWorksheet = 0x00;

// The low byte every BOF record id carries (0x0009, 0x0209, 0x0409, 0x0809).
inline constexpr std::uint8_t kBofLowByte = 0x09;

// Record ids.
enum RecordId : std::uint16_t {
  kBlank2 = 0x0001,        // BIFF2 BLANK
  kInteger2 = 0x0002,      // BIFF2 INTEGER
  kNumber2 = 0x0003,       // BIFF2 NUMBER
  kLabel2 = 0x0004,        // BIFF2 LABEL
  kBoolErr2 = 0x0005,      // BIFF2 BOOLERR
  kFormula = 0x0006,       // FORMULA (BIFF2, BIFF5-BIFF8)
  kString2 = 0x0007,       // BIFF2 STRING (formula text result)
  kBof2 = 0x0009,
  kEof = 0x000A,
  kExternSheet = 0x0017,
  kName = 0x0018,
  kFormat2 = 0x001E,       // FORMAT (BIFF2-BIFF4)
  kExternName = 0x0023,
  kArray2 = 0x0021,        // ARRAY (BIFF2)
  kFilePass = 0x002F,
  kFont = 0x0031,
  kContinue = 0x003C,
  kCodepage = 0x0042,
  kColInfo = 0x007D,
  kRk = 0x007E,            // RK (early BIFF3 id)
  kBoundSheet = 0x0085,
  kPalette = 0x0092,
  kShrFmla5 = 0x00BC,      // SHRFMLA (BIFF5/BIFF7 id)
  kMulRk = 0x00BD,
  kMulBlank = 0x00BE,
  kRString = 0x00D6,
  kSupBook = 0x01AE,       // SUPBOOK (BIFF8)
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kDimensions = 0x0200,
  kBlank = 0x0201,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kFormula3 = 0x0206,      // FORMULA (BIFF3)
  kString = 0x0207,        // STRING (formula text result)
  kRow = 0x0208,
  kBof3 = 0x0209,
  kName3 = 0x0218,
  kArray = 0x0221,
  kExternName3 = 0x0223,
  kFont3 = 0x0231,
  kTable = 0x0236,
  kRk3 = 0x027E,
  kFormula4 = 0x0406,      // FORMULA (BIFF4)
  kBof4 = 0x0409,
  kShrFmla = 0x04BC,
  kBof5 = 0x0809,
};

// Further records of the workbook writer's fixed parts.
enum WriterRecordId : std::uint16_t {
  kCalcCount = 0x000C,
  kCalcMode = 0x000D,
  kPrecision = 0x000E,
  kRefMode = 0x000F,
  kDelta = 0x0010,
  kIteration = 0x0011,
  kProtect = 0x0012,
  kPassword = 0x0013,
  kHeader = 0x0014,
  kFooter = 0x0015,
  kExternCount = 0x0016,
  kWindowProtect = 0x0019,
  kSelection = 0x001D,
  kDate1904 = 0x0022,
  kPrintHeaders = 0x002A,
  kPrintGridlines = 0x002B,
  kWindow1 = 0x003D,
  kBackup = 0x0040,
  kDefColWidth = 0x0055,
  kWriteAccess = 0x005C,
  kUncalced = 0x005E,
  kSaveRecalc = 0x005F,
  kGuts = 0x0080,
  kWsBool = 0x0081,
  kGridSet = 0x0082,
  kHCenter = 0x0083,
  kVCenter = 0x0084,
  kCountry = 0x008C,
  kHideObj = 0x008D,
  kFnGroupCount = 0x009C,
  kSetup = 0x00A1,
  kBookBool = 0x00DA,
  kRefreshAll = 0x01B7,
  kDefaultRowHeight = 0x0225,
  kWindow2 = 0x023E,
  kStyle = 0x0293,
  kFormat = 0x041E,
  kXf4 = 0x0443,
};

// BOOLERR / formula error codes.
inline constexpr std::uint8_t kErrNull = 0x00;
inline constexpr std::uint8_t kErrDiv0 = 0x07;
inline constexpr std::uint8_t kErrValue = 0x0F;
inline constexpr std::uint8_t kErrRef = 0x17;
inline constexpr std::uint8_t kErrName = 0x1D;
inline constexpr std::uint8_t kErrNum = 0x24;
inline constexpr std::uint8_t kErrNA = 0x2A;

// SST string option flags.
inline constexpr std::uint8_t kStrHighByte = 0x01;  // 16-bit characters
inline constexpr std::uint8_t kStrExtended = 0x04;  // phonetic data follows
inline constexpr std::uint8_t kStrRich = 0x08;      // formatting runs follow

}  // namespace biff
