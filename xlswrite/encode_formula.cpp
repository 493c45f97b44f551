#include "xlswrite/encode_formula.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "xls/biff_records.h"
#include "xls/excel_func.h"
#include "xls/formula_tokens.h"

namespace {

constexpr char Q = '"';
constexpr int kMaxDepth = 64;  // nesting of parentheses and function calls
constexpr int kMaxRow = 16384;  // rows of a BIFF4/BIFF5 sheet (14-bit row field)
constexpr int kFirstBiff5Function = 336;

std::string Quote(std::string_view s) { return Q + std::string(s) + Q; }

std::string Upper(std::string_view s) {
  std::string u(s);
  for (auto& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80; }
// Characters that continue a word (names, references, function names).
bool IsWordChar(char c) { return IsLetter(c) || IsDigit(c) || c == '$' || c == '_' || c == ':' || c == '.'; }

// A cell reference: column and row (0-based) with their absolute flags.
struct CellRef {
  int col = 0, row = 0;
  bool colAbs = false, rowAbs = false;
};

// "$"? letters "$"? digits, every column up to IV (255), rows 1..16384.
bool ParseCell(std::string_view s, CellRef& ref) {
  std::size_t i = 0;
  ref.colAbs = i < s.size() && s[i] == '$';
  if (ref.colAbs) ++i;
  std::size_t letters = 0;
  int col = 0;
  while (i < s.size() && s[i] >= 'A' && s[i] <= 'Z' && letters < 3) {
    col = col * 26 + (s[i] - 'A' + 1);
    ++i, ++letters;
  }
  if (letters == 0 || letters > 2 || col - 1 > 255) return false;
  ref.col = col - 1;
  ref.rowAbs = i < s.size() && s[i] == '$';
  if (ref.rowAbs) ++i;
  if (i == s.size() || s.size() - i > 5) return false;
  int row = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return false;
    row = row * 10 + (s[i] - '0');
  }
  if (row < 1 || row > kMaxRow) return false;
  ref.row = row - 1;
  return true;
}

// A cell reference or an area (two cell references joined by ":").
bool ParseRef(std::string_view s, CellRef& first, CellRef& last, bool& area) {
  const std::size_t colon = s.find(':');
  area = colon != std::string_view::npos;
  if (!area) return ParseCell(s, first);
  return ParseCell(s.substr(0, colon), first) && ParseCell(s.substr(colon + 1), last);
}

enum class Tok { Op, LParen, RParen, Function, Name, Number, Error, String, Ref, Sheet, End };

struct Token {
  Tok kind = Tok::End;
  std::uint8_t op = 0;     // operator token, ptg::kAdd ... ptg::kNe
  std::string text;        // the piece as written
  std::string value;       // string contents, sheet name
  CellRef first, last;     // references
  bool area = false;
};

struct ErrorLiteral {
  const char* text;
  std::uint8_t code;
};
constexpr ErrorLiteral kErrors[] = {{"#NULL!", biff::kErrNull}, {"#DIV/0!", biff::kErrDiv0}, {"#VALUE!", biff::kErrValue},
                                    {"#REF!", biff::kErrRef},   {"#NAME?", biff::kErrName},  {"#NUM!", biff::kErrNum},
                                    {"#N/A", biff::kErrNA}};

}  // namespace

class TEncodeFormula::Parser {
 public:
  Parser(const TEncodeFormula& owner, std::string_view formula, std::uint8_t* buffer, int capacity)
      : o_(owner), formula_(formula), text_(formula), buffer_(buffer), capacity_(capacity) {}

  int Run() {
    Next();
    if (tok_.kind == Tok::End) return 0;
    Comparison();
    if (tok_.kind != Tok::End) Unexpected();
    return size_;
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const { throw EncodeFormulaError(message); }
  std::string InFormula() const { return " in formula " + Quote(formula_); }
  [[noreturn]] void Unexpected() const {
    if (tok_.kind == Tok::End) Fail("Missing operand" + InFormula());
    Fail("Unexpected " + Quote(tok_.text) + InFormula());
  }

  // ---- output

  void Emit(std::uint8_t token, std::initializer_list<std::uint8_t> data = {}) {
    Reserve(1 + data.size());
    buffer_[size_++] = token;
    for (auto b : data) buffer_[size_++] = b;
  }
  void Reserve(std::size_t n) {
    if (static_cast<std::size_t>(size_) + n > static_cast<std::size_t>(capacity_)) Fail("Formula buffer owerflow");
  }
  void Put8(unsigned v) {
    Reserve(1);
    buffer_[size_++] = static_cast<std::uint8_t>(v);
  }
  void Put16(unsigned v) {
    Put8(v & 0xFF);
    Put8((v >> 8) & 0xFF);
  }
  void Zeros(int n) {
    for (int i = 0; i < n; ++i) Put8(0);
  }
  bool Biff8() const { return o_.VersionCode >= biff::kVersionBiff8; }
  // Token layouts: BIFF8's, or below it BIFF5's for every version.
  static constexpr ptg::Sizes kSizes8 = ptg::SizesFor(biff::kVersionBiff8);
  static constexpr ptg::Sizes kSizes5 = ptg::SizesFor(biff::kVersionBiff5);
  const ptg::Sizes& Sizes() const { return Biff8() ? kSizes8 : kSizes5; }

  // The relative flags of a reference; BIFF2-7 keep them in the row field,
  // BIFF8 in the column field.
  static unsigned RelativeFlags(const CellRef& r) {
    return (r.rowAbs ? 0u : ptg::kRelativeRow) | (r.colAbs ? 0u : ptg::kRelativeCol);
  }
  static unsigned RowField(const CellRef& r) { return static_cast<unsigned>(r.row) | RelativeFlags(r); }
  static unsigned ColField(const CellRef& r) { return static_cast<unsigned>(r.col) | RelativeFlags(r); }
  void PutCell(const CellRef& r) {
    if (Biff8()) {
      Put16(static_cast<unsigned>(r.row));
      Put16(ColField(r));
    } else {
      Put16(RowField(r));
      Put8(static_cast<unsigned>(r.col));
    }
  }
  void PutArea(const CellRef& a, const CellRef& b) {
    if (Biff8()) {
      Put16(static_cast<unsigned>(a.row));
      Put16(static_cast<unsigned>(b.row));
      Put16(ColField(a));
      Put16(ColField(b));
    } else {
      Put16(RowField(a));
      Put16(RowField(b));
      Put8(static_cast<unsigned>(a.col));
      Put8(static_cast<unsigned>(b.col));
    }
  }

  // ---- scanner: one token from the front of the remaining text

  char At(std::size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

  void Next() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    tok_ = Token{};
    if (pos_ >= text_.size()) return;
    const std::size_t start = pos_;
    const char c = text_[pos_];
    auto single = [&](Tok kind, std::uint8_t op, std::size_t len) {
      tok_.kind = kind;
      tok_.op = op;
      pos_ += len;
      tok_.text = std::string(text_.substr(start, len));
    };
    switch (c) {
      case '"': return ScanString();
      case '\'': return ScanQuotedSheet();
      case '(': return single(Tok::LParen, 0, 1);
      case ')': return single(Tok::RParen, 0, 1);
      case '+': return single(Tok::Op, ptg::kAdd, 1);
      case '-': return single(Tok::Op, ptg::kSub, 1);
      case '*': return single(Tok::Op, ptg::kMul, 1);
      case '/': return single(Tok::Op, ptg::kDiv, 1);
      case '^': return single(Tok::Op, ptg::kPower, 1);
      case '&': return single(Tok::Op, ptg::kConcat, 1);
      case '=': return single(Tok::Op, ptg::kEq, 1);
      case '<':
        if (At(pos_ + 1) == '=') return single(Tok::Op, ptg::kLe, 2);
        if (At(pos_ + 1) == '>') return single(Tok::Op, ptg::kNe, 2);
        return single(Tok::Op, ptg::kLt, 1);
      case '>':
        if (At(pos_ + 1) == '=') return single(Tok::Op, ptg::kGe, 2);
        return single(Tok::Op, ptg::kGt, 1);
      case '#': {
        ++pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                       std::strchr("/!?", text_[pos_]) != nullptr)) {
          ++pos_;
        }
        tok_.kind = Tok::Error;
        tok_.text = std::string(text_.substr(start, pos_ - start));
        return;
      }
      default: break;
    }
    if (IsDigit(c) || c == '.') return ScanNumber();
    if (IsLetter(c) || c == '$' || c == '_') return ScanWord();
    Fail("Invalid character " + Quote(std::string(1, c)) + InFormula());
  }

  // The text between the quote at pos_ and its closing quote, a doubled
  // quote standing for one; pos_ ends behind the closing quote.
  std::string ScanQuoted(char quote) {
    ++pos_;
    std::string text;
    for (;;) {
      if (pos_ >= text_.size()) Fail("Missing right quote");
      if (text_[pos_] == quote) {
        if (At(pos_ + 1) != quote) break;
        ++pos_;
      }
      text += text_[pos_++];
    }
    ++pos_;
    return text;
  }

  // A string constant; a doubled double quote stands for one.
  void ScanString() {
    const std::size_t start = pos_;
    std::string value = ScanQuoted('"');
    tok_.kind = Tok::String;
    tok_.value = std::move(value);
    tok_.text = std::string(text_.substr(start, pos_ - start));
  }

  std::string_view ScanWordChars() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsWordChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  void ScanNumber() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && (IsDigit(text_[pos_]) || text_[pos_] == '.')) ++pos_;
    if (At(pos_) == 'E' || At(pos_) == 'e') {
      ++pos_;
      if (At(pos_) == '+' || At(pos_) == '-') ++pos_;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    tok_.kind = Tok::Number;
    tok_.text = std::string(text_.substr(start, pos_ - start));
  }

  void ScanWord() {
    const std::size_t start = pos_;
    const std::string_view word = ScanWordChars();
    tok_.text = std::string(word);
    if (ParseRef(word, tok_.first, tok_.last, tok_.area)) {
      tok_.kind = Tok::Ref;
      return;
    }
    const char next = At(pos_);
    if (next == '!') {
      ++pos_;
      const std::string_view ref = ScanWordChars();
      tok_.text = std::string(text_.substr(start, pos_ - start));
      if (!ParseRef(ref, tok_.first, tok_.last, tok_.area)) Fail("Invalid reference " + Quote(tok_.text));
      tok_.kind = Tok::Sheet;
      tok_.value = std::string(word);
      return;
    }
    if (next == '(') {
      tok_.kind = Tok::Function;
      return;
    }
    if (next == '\0' || IsBlank(next) || std::strchr("&)*+-/<=>^", next) != nullptr) {
      tok_.kind = Tok::Name;
      return;
    }
    Fail("Invalid symbol " + Quote(word) + InFormula());
  }

  // 'Sheet name'!A1 ('' stands for one quote inside the name).
  void ScanQuotedSheet() {
    const std::size_t start = pos_;
    std::string name = ScanQuoted('\'');
    const std::string tail = InFormula();
    if (At(pos_) != '!') Fail("Bad Sheet Reference " + Quote(text_.substr(start, pos_ - start)) + tail);
    ++pos_;
    const std::string_view ref = ScanWordChars();
    tok_.text = std::string(text_.substr(start, pos_ - start));
    if (!ParseRef(ref, tok_.first, tok_.last, tok_.area)) Fail("Invalid Reference " + Quote(tok_.text) + tail);
    tok_.kind = Tok::Sheet;
    tok_.value = std::move(name);
  }

  // ---- grammar

  // comparison := additive { ("<" | "<=" | "=" | ">=" | ">" | "<>") additive }
  void Comparison() {
    Additive();
    while (tok_.kind == Tok::Op && tok_.op >= ptg::kLt) Binary(&Parser::Additive);
  }
  // additive := multiplicative { ("+" | "-" | "&") multiplicative }
  void Additive() {
    Multiplicative();
    while (tok_.kind == Tok::Op && (tok_.op == ptg::kAdd || tok_.op == ptg::kSub || tok_.op == ptg::kConcat)) {
      Binary(&Parser::Multiplicative);
    }
  }
  // multiplicative := power { ("*" | "/") power }
  void Multiplicative() {
    Power();
    while (tok_.kind == Tok::Op && (tok_.op == ptg::kMul || tok_.op == ptg::kDiv)) Binary(&Parser::Power);
  }
  // power := primary { "^" primary }
  void Power() {
    Primary();
    while (tok_.kind == Tok::Op && tok_.op == ptg::kPower) Binary(&Parser::Primary);
  }
  // One operator and its right operand; the operator token follows the operand.
  void Binary(void (Parser::*operand)()) {
    const std::uint8_t op = tok_.op;
    Next();
    (this->*operand)();
    Emit(op);
  }
  // primary := ["-"] operand
  void Primary() {
    const bool minus = tok_.kind == Tok::Op && tok_.op == ptg::kSub;
    if (minus) Next();
    Operand();
    if (minus) Emit(ptg::kUminus);
  }

  void Operand() {
    const Token t = tok_;
    switch (t.kind) {
      case Tok::LParen: {
        Enter();
        Next();
        Comparison();
        if (tok_.kind != Tok::RParen) {
          if (tok_.kind == Tok::End) Fail("Right paranthese is missing " + Quote(formula_));
          Unexpected();
        }
        --depth_;
        Emit(ptg::kParen);
        break;
      }
      case Tok::Number: Number(t.text); break;
      case Tok::String: String(t.value); break;
      case Tok::Error: ErrorConstant(t.text); break;
      case Tok::Ref:
        if (t.area) {
          Emit(ptg::kArea);
          PutArea(t.first, t.last);
        } else {
          Emit(ptg::InClass(ptg::kRef, ptg::kClassValue));
          PutCell(t.first);
        }
        break;
      case Tok::Sheet: SheetRef(t); break;
      case Tok::Name: Name(t.text); break;
      case Tok::Function: Function(t.text); return;  // moves past its ")" itself
      default: Unexpected();
    }
    Next();
  }

  void Enter() {
    if (++depth_ > kMaxDepth) Fail("Formula nested too deeply" + InFormula());
  }

  void Number(const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) Fail("Invalid number " + Quote(text) + InFormula());
    if (value == static_cast<double>(static_cast<int>(value)) && value >= 0 && value <= 32767) {
      Emit(ptg::kInt);
      Put16(static_cast<unsigned>(value));
    } else {
      Emit(ptg::kNum);
      std::uint8_t bytes[8];
      std::memcpy(bytes, &value, 8);
      for (auto b : bytes) Put8(b);
    }
  }

  void String(const std::string& utf8) {
    std::string bytes, bad;
    if (!platform::Utf8ToCp1252(utf8, bytes, bad)) {
      Fail("Character " + Quote(bad) + " is not in code page 1252" + InFormula());
    }
    if (bytes.size() > 255) Fail("String constant longer than 255 bytes" + InFormula());
    Emit(ptg::kStr);
    Put8(static_cast<unsigned>(bytes.size()));
    if (Biff8()) Put8(0);  // option byte: 8-bit characters
    for (char c : bytes) Put8(static_cast<unsigned char>(c));
  }

  void ErrorConstant(const std::string& text) {
    for (const auto& e : kErrors) {
      if (text == e.text) return Emit(ptg::kErr, {e.code});
    }
    Fail("Unknown error value " + Quote(text) + InFormula());
  }

  void SheetRef(const Token& t) {
    const std::string tail = InFormula();
    if (t.text.find('!') == std::string::npos) Fail("Bad Sheet Reference " + Quote(t.text) + tail);
    const int sheet = o_.OnSheet ? o_.OnSheet(t.value) : -1;
    if (sheet < 0) Fail("Unknown Sheet " + Quote(t.text) + tail);
    Emit(ptg::InClass(t.area ? ptg::kArea3d : ptg::kRef3d, ptg::kClassValue));
    if (Biff8()) {
      Put16(static_cast<unsigned>(sheet));
    } else {
      // Link index -(n + 1): the n-th entry of the sheet's EXTERNSHEET list,
      // which names every sheet of the workbook in order; then the sheet
      // range (one sheet).
      Put16(static_cast<unsigned>(-(sheet + 1)) & 0xFFFF);
      Zeros(ptg::kReserved3d5);
      Put16(static_cast<unsigned>(sheet));
      Put16(static_cast<unsigned>(sheet));
    }
    if (t.area) PutArea(t.first, t.last);
    else PutCell(t.first);
  }

  void Name(const std::string& name) {
    const std::string upper = Upper(name);
    if (upper == Upper(o_.StrTRUE) || upper == Upper(o_.StrFALSE)) {
      return Emit(ptg::kBool, {upper == Upper(o_.StrTRUE)});
    }
    const int index = o_.OnDefinedName ? o_.OnDefinedName(name) : -1;
    if (index < 0) Fail("Unknown Name " + Quote(name) + " in function " + Quote(formula_));
    Emit(ptg::InClass(ptg::kName, ptg::kClassValue));
    Put16(static_cast<unsigned>(index));
    Zeros(Sizes().name - 3);
  }

  // NAME "(" arguments ")": the arguments are split at separators outside
  // parentheses and string constants, each parsed on its own.
  void Function(const std::string& name) {
    Enter();
    const std::size_t open = pos_;  // at "("
    std::vector<std::pair<std::size_t, std::size_t>> args;  // begin, end in text_
    std::size_t close = std::string_view::npos, argStart = open + 1;
    int level = 0;
    for (std::size_t i = open; i < text_.size() && close == std::string_view::npos; ++i) {
      const char c = text_[i];
      if (c == '"' || c == '\'') {  // skip a string constant or quoted sheet name
        for (++i; i < text_.size(); ++i) {
          if (text_[i] == c && At(i + 1) == c) ++i;
          else if (text_[i] == c) break;
        }
        if (i >= text_.size()) break;
      } else if (c == '(') {
        ++level;
      } else if (c == ')') {
        if (--level == 0) close = i;
      } else if (c == o_.FuncArgSeparator && level == 1) {
        args.emplace_back(argStart, i);
        argStart = i + 1;
      }
    }
    if (close == std::string_view::npos) Fail("Right paranthese is missing " + Quote(formula_));
    args.emplace_back(argStart, close);
    auto blank = [&](std::pair<std::size_t, std::size_t> a) {
      for (std::size_t i = a.first; i < a.second; ++i)
        if (!IsBlank(text_[i])) return false;
      return true;
    };
    if (args.size() == 1 && blank(args[0])) args.clear();

    const std::string upper = Upper(name);
    const xls::ExcelFunction* f = xls::ExcelFunctionByName(upper);
    // Functions from id 336 on (CONCATENATE, POWER, SUMIF, ...) came with
    // BIFF5: a BIFF4 file cannot call them.
    if (f != nullptr && o_.VersionCode < biff::kVersionBiff5Plain && f->Id >= kFirstBiff5Function) f = nullptr;
    int external = -1;
    if (f == nullptr) {
      if (o_.VersionCode >= biff::kVersionBiff5Plain && o_.OnExternalFunction) external = o_.OnExternalFunction(name);
      if (external < 0) Fail("Unknown function " + Quote(name) + " in formula");
      // The add-in's name is the call's first operand.
      Emit(ptg::kNameX);
      Put16(static_cast<unsigned>(o_.AddInLinkIndex));
      const std::size_t indexAt = Biff8() ? ptg::kNameXIndexAt8 : ptg::kNameXIndexAt5;
      Zeros(indexAt - ptg::kSheetPartAt - 2);
      Put16(static_cast<unsigned>(external + 1));
      Zeros(Sizes().nameX - indexAt - 2);
    }

    // Each argument is parsed in its own region of the text.
    const std::string_view saved = text_;
    for (const auto& a : args) {
      if (blank(a)) {
        Emit(ptg::kMissArg);
        continue;
      }
      text_ = saved.substr(0, a.second);
      pos_ = a.first;
      Next();
      Comparison();
      if (tok_.kind != Tok::End) Unexpected();
    }
    text_ = saved;
    pos_ = close + 1;
    --depth_;

    const auto count = static_cast<int>(args.size());
    if (f == nullptr) {
      Emit(ptg::InClass(ptg::kFuncVar, ptg::kClassValue), {static_cast<std::uint8_t>(count + 1)});
      Put16(ptg::kAddInFunction);
    } else {
      if (count < f->MinArgs) Fail("To few arguments to function " + Quote(upper));
      if (count > f->MaxArgs) Fail("To many arguments to function " + Quote(upper));
      if (f->FixedArgs()) {
        Emit(ptg::InClass(ptg::kFunc, ptg::kClassValue));
      } else {
        Emit(ptg::InClass(ptg::kFuncVar, ptg::kClassValue));
        Put8(static_cast<unsigned>(count));
      }
      Put16(f->Id);
    }
    Next();
  }

  const TEncodeFormula& o_;
  std::string_view formula_;  // the whole formula, for messages
  std::string_view text_;     // the region being scanned (an argument's text ends at its end)
  std::size_t pos_ = 0;
  Token tok_;
  std::uint8_t* buffer_;
  int capacity_;
  int size_ = 0;
  int depth_ = 0;
};

int TEncodeFormula::Encode(std::string_view text, std::uint8_t* buffer, int capacity) {
  return Parser(*this, text, buffer, capacity).Run();
}
