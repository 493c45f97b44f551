// The spreadsheet function table: the built-in functions that BIFF formula
// tokens call by number (function ids 0..356), with their argument counts
// and names. Shared by the formula decoder (token -> text) and the formula
// encoder (text -> token).
//
// A function whose minimum and maximum argument counts are equal is stored
// with the fixed-count token (tFunc) and takes exactly that many arguments;
// every other function is stored with the variable-count token (tFuncVar),
// which carries the argument count. The counts of fixed-argument functions
// are those of the published BIFF function table, so a decoder takes exactly
// the operands the file stores.
//
// Entries whose name is a number (202, 203, 217, 218, 249, 250, 255, 333)
// mark ids without a function of their own. Id 255 is the add-in / user
// function call: the function's name is its first operand.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace xls {

struct ExcelFunction {
  std::uint16_t Id;
  std::uint8_t MinArgs;
  std::uint8_t MaxArgs;  // 30 is the largest count
  const char* Name;      // upper case, e.g. "SUM", "GET.CELL"

  // True when files store the function with the fixed-count token.
  constexpr bool FixedArgs() const { return MinArgs == MaxArgs; }
};

// Number of table entries; ids 0..kExcelFunctionCount - 1.
inline constexpr int kExcelFunctionCount = 357;

// The whole table, indexed by id.
std::span<const ExcelFunction> ExcelFunctions();

// The entry of a function id, or nullptr when the id is outside the table.
const ExcelFunction* ExcelFunctionById(int id);

// The entry of a function name, compared without regard to case, or nullptr
// when there is none. Names that are numbers ("255") are not functions and
// are never found.
const ExcelFunction* ExcelFunctionByName(std::string_view name);

}  // namespace xls
