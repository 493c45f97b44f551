// TEncodeFormula: turns formula text (without the leading "=") into BIFF
// formula tokens in reverse Polish order, written straight into a record
// buffer. A hand-written scanner and one parse function per grammar level:
//
//   comparison     := additive { ("<" | "<=" | "=" | ">=" | ">" | "<>") additive }
//   additive       := multiplicative { ("+" | "-" | "&") multiplicative }
//   multiplicative := power { ("*" | "/") power }
//   power          := primary { "^" primary }
//   primary        := ["-"] operand
//   operand        := "(" comparison ")" | number | string | error | boolean
//                   | reference | area | sheet "!" reference | name
//                   | function "(" [ comparison { separator comparison } ] ")"
//
// Function names and argument counts come from the shared function table
// (xls/excel_func.h); external functions, defined names and sheets are
// looked up through the owner's callbacks. Every refusal is an
// EncodeFormulaError whose text quotes the offending piece and the formula.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/sysutils.h"

class EncodeFormulaError : public Exception {
 public:
  using Exception::Exception;
};

class TEncodeFormula {
 public:
  // Name -> index, or a negative value when not found. An unassigned
  // callback counts as "not found".
  using TLookupEvent = std::function<int(const std::string& Name)>;

  // Encodes `text` into `buffer` (at most `capacity` bytes) and returns the
  // number of token bytes (0 for an empty text: nothing to write). Raises
  // EncodeFormulaError.
  int Encode(std::string_view text, std::uint8_t* buffer, int capacity);

  // 3 BIFF4, 4 and 5 BIFF5; 6 selects the BIFF8 reference layouts.
  int VersionCode = 4;
  char FuncArgSeparator = ',';
  std::string StrTRUE = "TRUE";
  std::string StrFALSE = "FALSE";
  // Link index written into external-name tokens: the 1-based position of
  // the add-in entry in the sheet's EXTERNSHEET list.
  int AddInLinkIndex = 1;

  // External function name -> 0-based index in the owner's external names.
  TLookupEvent OnExternalFunction;
  // Defined name -> 1-based index in the owner's names list.
  TLookupEvent OnDefinedName;
  // Sheet name -> 0-based sheet index.
  TLookupEvent OnSheet;

 private:
  class Parser;
};
