// BIFF formula token format: the token ids ("ptg"), the layout of the data
// behind each and the version-dependent sizes, shared by the formula decoder
// (tokens -> text, xls/formula_decoder) and the formula encoder (text ->
// tokens, xlswrite/encode_formula).
//
// A parsed formula is a sequence of tokens in reverse Polish order: one id
// byte, then the token's data (little-endian). Operand tokens from 0x20 on
// come in three classes that differ only in bits 5-6 of the id: reference
// (0x20-0x3F), value (0x40-0x5F) and array (0x60-0x7F); the ids below are
// the reference-class ids, InClass gives the others.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ptg {

// Token ids. Sizes below include the id byte.
enum Id : std::uint8_t {
  kEnd = 0x00,        // not a token: ends the token bytes early
  kExp = 0x01,        // a cell of a shared or array formula: 16-bit row and column of its first cell
  // Binary operators, size 1: the two topmost operands, operator between them.
  kAdd = 0x03,
  kSub = 0x04,
  kMul = 0x05,
  kDiv = 0x06,
  kPower = 0x07,
  kConcat = 0x08,
  kLt = 0x09,
  kLe = 0x0A,
  kEq = 0x0B,
  kGe = 0x0C,
  kGt = 0x0D,
  kNe = 0x0E,
  kIsect = 0x0F,      // intersection (a blank)
  kUnion = 0x10,      // union (the argument separator)
  kRange = 0x11,      // range (":")
  // Unary operators, size 1.
  kUplus = 0x12,
  kUminus = 0x13,
  kPercent = 0x14,
  kParen = 0x15,      // parentheses the formula had around the top operand
  kMissArg = 0x16,    // an empty function argument
  kStr = 0x17,        // string: length byte, [BIFF8: option byte], characters
  kAttr = 0x19,       // attribute: flags byte, then a 16-bit (BIFF2: 8-bit) field
  kSheet = 0x1A,      // BIFF2-4: external sheet start, size 11
  kEndSheet = 0x1B,   // BIFF2-4: external sheet end, size 5
  kErr = 0x1C,        // error code byte (biff::kErr*), size 2
  kBool = 0x1D,       // boolean byte, size 2
  kInt = 0x1E,        // unsigned 16-bit integer, size 3
  kNum = 0x1F,        // IEEE double, size 9
  // Operand tokens (reference class).
  kArray = 0x20,      // array constant; its values follow the tokens, size 8
  kFunc = 0x21,       // function with a fixed argument count: function id
  kFuncVar = 0x22,    // function with a variable count: count byte, function id
  kName = 0x23,       // defined name: 16-bit 1-based index
  kRef = 0x24,        // cell reference: cell fields
  kArea = 0x25,       // area reference: area fields
  kMemArea = 0x26,    // the tokens behind it have a cached value: 7 bytes
  kMemErr = 0x27,
  kMemNoMem = 0x28,
  kMemFunc = 0x29,    // size 3
  kRefErr = 0x2A,     // deleted cell reference, size of kRef
  kAreaErr = 0x2B,    // deleted area reference, size of kArea
  kRefN = 0x2C,       // cell reference relative to the formula's cell
  kAreaN = 0x2D,      // area reference relative to the formula's cell
  kMemAreaN = 0x2E,
  kMemNoMemN = 0x2F,
  kNameX = 0x39,      // external name
  kRef3d = 0x3A,      // 3D cell reference: sheet part, cell fields
  kArea3d = 0x3B,     // 3D area reference: sheet part, area fields
  kRefErr3d = 0x3C,   // deleted 3D cell reference
  kAreaErr3d = 0x3D,  // deleted 3D area reference
};

// Operand classes: bits 5-6 of an operand token's id.
enum Class : std::uint8_t { kClassReference = 0x20, kClassValue = 0x40, kClassArray = 0x60 };

// The id of operand token `id` in class `c`: InClass(kRef, kClassValue) is 0x44.
constexpr std::uint8_t InClass(Id id, Class c) { return static_cast<std::uint8_t>((id & 0x1F) | c); }

// The reference-class id of operand token `t` (0x20..0x7F): 0x44 and 0x64 give kRef.
constexpr std::uint8_t BaseId(std::uint8_t t) { return static_cast<std::uint8_t>((t & 0x1F) | kClassReference); }

// The texts of the binary operators kAdd..kNe, in id order.
inline constexpr const char* kOperatorTexts[] = {"+", "-", "*", "/", "^", "&", "<", "<=", "=", ">=", ">", "<>"};
constexpr bool IsOperator(std::uint8_t t) { return t >= kAdd && t <= kNe; }
constexpr const char* OperatorText(std::uint8_t t) { return kOperatorTexts[t - kAdd]; }

// kAttr flags.
inline constexpr std::uint8_t kAttrChoose = 0x04;  // a jump table of count + 1 16-bit offsets follows
inline constexpr std::uint8_t kAttrSum = 0x10;     // SUM of the top operand

// kFuncVar: the count byte's argument bits; the function id that calls an
// add-in or macro whose name is the deepest argument.
inline constexpr std::uint8_t kArgCountMask = 0x7F;
inline constexpr std::uint16_t kAddInFunction = 255;

// Cell fields. BIFF2-7: 16-bit row field (row in bits 0-13, flags) and a
// column byte; BIFF8: 16-bit row and a 16-bit column field (column in bits
// 0-13, flags). A flag set means that part is relative.
inline constexpr std::uint16_t kRelativeRow = 0x8000;
inline constexpr std::uint16_t kRelativeCol = 0x4000;
inline constexpr std::uint16_t kCellIndexMask = 0x3FFF;
// Area fields: both rows, then both columns, each as for a cell.

// The sheet part of kRef3d, kArea3d and the link part of kNameX.
// BIFF8: 16-bit EXTERNSHEET index at 1 (kNameX: name index at 3), then the
// cell or area fields at 3.
// BIFF5/BIFF7: signed 16-bit link index at 1 (negative: this workbook),
// 8 reserved bytes, first and last sheet index at 11 and 13 (kNameX: name
// index at 11, 12 reserved bytes after it), then the cell or area fields at 15.
inline constexpr std::size_t kSheetPartAt = 1;
inline constexpr std::size_t kNameXIndexAt8 = 3;
inline constexpr std::size_t kCellAt3d8 = 3;
inline constexpr std::size_t kReserved3d5 = 8;
inline constexpr std::size_t kFirstSheetAt5 = 11;
inline constexpr std::size_t kLastSheetAt5 = 13;
inline constexpr std::size_t kNameXIndexAt5 = 11;
inline constexpr std::size_t kCellAt3d5 = 15;

// Array constant values, behind the tokens: column count (1 byte), row count
// (2 bytes; BIFF8 stores both less one, earlier versions 0 columns for 256),
// then per value a type byte and its data: 8 bytes for kValueEmpty,
// kValueNumber, kValueBool, kValueError; a string's length and characters.
enum ArrayValue : std::uint8_t {
  kValueEmpty = 0x00,
  kValueNumber = 0x01,
  kValueString = 0x02,
  kValueBool = 0x04,
  kValueError = 0x10,
};

inline constexpr std::size_t kArraySize = 8;
inline constexpr std::size_t kSheetSize = 11;
inline constexpr std::size_t kEndSheetSize = 5;
inline constexpr std::size_t kMemSize = 7;
inline constexpr std::size_t kMemFuncSize = 3;

// Sizes of the tokens whose layout changes with the workbook version.
struct Sizes {
  std::uint8_t attr;     // kAttr without a jump table
  std::uint8_t func;     // kFunc: 8-bit id in BIFF2/3, 16-bit later
  std::uint8_t funcVar;  // kFuncVar
  std::uint8_t name;     // kName: index and reserved bytes
  std::uint8_t nameX;
  std::uint8_t ref;      // kRef, kRefN, kRefErr
  std::uint8_t area;     // kArea, kAreaN, kAreaErr
  std::uint8_t ref3d;    // kRef3d, kRefErr3d
  std::uint8_t area3d;   // kArea3d, kAreaErr3d
};

// The sizes for a workbook version code (biff::VersionCode: 1 BIFF2 .. 6
// BIFF8); an unknown version reads as BIFF5.
constexpr Sizes SizesFor(int version) {
  switch (version) {
    case 1: return {3, 2, 3, 11, 25, 4, 7, 18, 21};  // BIFF2
    case 2: return {4, 2, 3, 11, 25, 4, 7, 18, 21};  // BIFF3
    case 3: return {4, 3, 4, 11, 25, 4, 7, 18, 21};  // BIFF4
    default: break;
  }
  if (version >= 6) return {4, 3, 4, 5, 7, 5, 9, 7, 11};  // BIFF8
  return {4, 3, 4, 15, 25, 4, 7, 18, 21};                 // BIFF5/BIFF7
}

}  // namespace ptg
