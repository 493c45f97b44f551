#include "xls/formula_decoder.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "xls/biff_records.h"
#include "xls/excel_func.h"
#include "xls/formula_tokens.h"
#include "xls/xls_read.h"

namespace xls {

namespace {

// Names of the functions Excel 97 added behind the shared table (ids 357 on).
const char* LaterFunctionName(int id) {
  switch (id) {
    case 358: return "GETPIVOTDATA";
    case 359: return "HYPERLINK";
    case 360: return "PHONETIC";
    case 361: return "AVERAGEA";
    case 362: return "MAXA";
    case 363: return "MINA";
    case 364: return "STDEVPA";
    case 365: return "VARPA";
    case 366: return "STDEVA";
    case 367: return "VARA";
    default: return nullptr;
  }
}

[[noreturn]] void IndexError(long index) {
  throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

std::string Hex2(unsigned v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%.2X", v & 0xFFu);
  return buf;
}

// General format with 15 significant digits: 0.1, 40960.5, 1E+20.
std::string NumberText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  return buf;
}

// Appends text between double quotes, an embedded quote doubled.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t at = 0;;) {
    const std::size_t quote = text.find('"', at);
    if (quote == std::string_view::npos) {
      out.append(text, at);
      break;
    }
    out.append(text, at, quote + 1 - at).push_back('"');
    at = quote + 1;
  }
  out += '"';
}

// AppendQuoted for n UTF-16LE characters; ASCII text is copied directly.
void AppendQuotedUtf16(std::string& out, const std::uint8_t* p, std::size_t n) {
  std::size_t quotes = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[2 * i] >= 0x80 || p[2 * i + 1] != 0) {
      AppendQuoted(out, platform::Utf16LeToUtf8(p, n));
      return;
    }
    quotes += p[2 * i] == '"';
  }
  std::size_t at = out.size();
  out.resize(at + n + quotes + 2);
  out[at++] = '"';
  for (std::size_t i = 0; i < n; ++i) {
    out[at++] = static_cast<char>(p[2 * i]);
    if (p[2 * i] == '"') out[at++] = '"';
  }
  out[at] = '"';
}

bool IsAscii(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x80) return false;
  }
  return true;
}

// UTF-8 of n 8-bit characters: BIFF8's compressed form is ISO-8859-1,
// earlier versions use the workbook's code page.
std::string EightBit(const std::uint8_t* p, std::size_t n, bool latin1, int codepage) {
  if (IsAscii(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
  const std::string_view bytes(reinterpret_cast<const char*>(p), n);
  return latin1 ? platform::Latin1ToUtf8(bytes) : platform::CodepageToUtf8(bytes, codepage);
}

bool IsWordChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         c >= 0x80;
}

// Letters then digits, like A1 or XFD65536: a name the encoder would read
// as a cell reference.
bool LooksLikeCell(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
  if (i == 0 || i > 3 || i == s.size()) return false;
  for (std::size_t j = i; j < s.size(); ++j) {
    if (!std::isdigit(static_cast<unsigned char>(s[j]))) return false;
  }
  return true;
}

bool IsPlainSheetName(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) || LooksLikeCell(s)) return false;
  for (char c : s) {
    if (!IsWordChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string QuoteAlways(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The decoder's stack holds texts as chains of pieces: every piece of text
// is written once into one buffer, and joining two stack entries (an
// operator, a function's arguments) links their chains instead of copying
// them. The formula text is put together once at the end.
struct Scratch {
  struct Piece {
    std::uint32_t offset, length;
    std::int32_t next;  // -1 at the end of a chain
    std::int32_t hole = -1;  // when building a template: token position of a relative reference
    bool area = false;
  };
  struct Entry {
    std::int32_t head, tail;
  };
  std::string text;
  std::vector<Piece> pieces;
  std::vector<Entry> stack;
};

class Decoder {
 public:
  Decoder(std::span<const std::uint8_t> data, std::size_t tokenCount, int baseCol, int baseRow,
          const FormulaContext& c, Scratch& scratch)
      : data_(data),
        end_(std::min(tokenCount, data.size())),
        arrayPos_(end_),
        baseCol_(baseCol),
        baseRow_(baseRow),
        c_(c),
        biff8_(c.Version >= 6),
        biff24_(c.Version >= 1 && c.Version <= 3),
        biff23_(c.Version >= 1 && c.Version <= 2),
        biff2_(c.Version == 1),
        sizes_(ptg::SizesFor(c.Version)),
        text_(scratch.text),
        pieces_(scratch.pieces),
        stack_(scratch.stack) {
    text_.clear();
    pieces_.clear();
    stack_.clear();
  }

  std::string Run() {
    while (pos_ < end_ && Step()) {
    }
    if (stack_.empty()) return "[ERROR]";
    std::string out;
    out.reserve(text_.size());  // every piece is in the buffer once
    for (std::int32_t p = stack_.back().head; p >= 0; p = pieces_[static_cast<std::size_t>(p)].next) {
      out.append(text_.data() + pieces_[static_cast<std::size_t>(p)].offset, pieces_[static_cast<std::size_t>(p)].length);
    }
    return out;
  }

  // Decodes the tokens into `t`: the text, with a hole for every reference
  // relative to the cell.
  void Build(FormulaTemplate& t) {
    templating_ = true;
    while (pos_ < end_ && Step()) {
    }
    t.text.clear();
    t.segments.clear();
    FormulaTemplate::Segment segment;
    if (stack_.empty()) {
      t.text = "[ERROR]";
      segment.length = static_cast<std::uint32_t>(t.text.size());
    }
    for (std::int32_t p = stack_.empty() ? -1 : stack_.back().head; p >= 0;
         p = pieces_[static_cast<std::size_t>(p)].next) {
      const Scratch::Piece& piece = pieces_[static_cast<std::size_t>(p)];
      if (piece.hole < 0) {
        t.text.append(text_.data() + piece.offset, piece.length);
        segment.length += piece.length;
      } else {
        segment.hole = piece.hole;
        segment.area = piece.area;
        t.segments.push_back(segment);
        segment = {};
      }
    }
    t.segments.push_back(segment);
    t.reusable = stable_;
  }

  // The text of `t` for this decoder's cell.
  std::string Fill(const FormulaTemplate& t) {
    std::string out;
    out.reserve(t.text.size() + 8 * t.segments.size());
    std::size_t at = 0;
    for (const FormulaTemplate::Segment& segment : t.segments) {
      out.append(t.text, at, segment.length);
      at += segment.length;
      if (segment.hole < 0) continue;
      pos_ = static_cast<std::size_t>(segment.hole);
      segment.area ? WriteArea(out, 1, true) : WriteRef(out, 1, true);
    }
    return out;
  }

 private:
  using Entry = Scratch::Entry;

  // Decodes the token at pos_ and moves past it; false ends decoding.
  bool Step() {
    const std::uint8_t t = data_[pos_];
    if (ptg::IsOperator(t)) {
      Binary(ptg::OperatorText(t));
      ++pos_;
      return true;
    }
    switch (t) {
      case ptg::kEnd: return false;
      case ptg::kExp:  // part of a shared or array formula
        Push("<Shared>");
        return false;
      case ptg::kIsect: Binary(" "); ++pos_; return true;
      case ptg::kUnion: Binary({&c_.FuncArgSeparator, 1}); ++pos_; return true;
      case ptg::kRange: Binary(":"); ++pos_; return true;
      case ptg::kUplus: ++pos_; return true;
      case ptg::kUminus: Wrap("-", ""); ++pos_; return true;
      case ptg::kPercent: Wrap("", "%"); ++pos_; return true;
      case ptg::kParen:
        if (stack_.empty()) IndexError(-1);
        Wrap("(", ")");
        ++pos_;
        return true;
      case ptg::kMissArg: Push(""); ++pos_; return true;
      case ptg::kStr: return String();
      case ptg::kAttr: return Attribute();
      case ptg::kSheet:  // BIFF2-4: names are external names until kEndSheet
        if (!Need(t, ptg::kSheetSize)) return false;
        sheetContext_ = true;
        pos_ += ptg::kSheetSize;
        return true;
      case ptg::kEndSheet:
        if (!Need(t, ptg::kEndSheetSize)) return false;
        sheetContext_ = false;
        pos_ += ptg::kEndSheetSize;
        return true;
      case ptg::kErr:
        if (!Need(t, 2)) return false;
        Push(TXLSRead::ErrorText(At(1)));
        pos_ += 2;
        return true;
      case ptg::kBool:
        if (!Need(t, 2)) return false;
        Push(At(1) != 0 ? c_.StrTRUE : c_.StrFALSE);
        pos_ += 2;
        return true;
      case ptg::kInt:
        if (!Need(t, 3)) return false;
        Push(std::to_string(U16(1)));
        pos_ += 3;
        return true;
      case ptg::kNum: {
        if (!Need(t, 9)) return false;
        double v;
        std::memcpy(&v, &data_[pos_ + 1], sizeof v);
        Push(NumberText(v));
        pos_ += 9;
        return true;
      }
      default: break;
    }
    // Operand tokens of the three classes are written alike.
    if (t < ptg::kClassReference || t >= 0x80) return Unknown(t);
    switch (ptg::BaseId(t)) {
      case ptg::kArray: return Array(t);
      case ptg::kFunc: return Function(t);
      case ptg::kFuncVar: return FunctionVar(t);
      case ptg::kName: return Name(t);
      case ptg::kRef:
      case ptg::kRefN: return Ref(t, ptg::BaseId(t) == ptg::kRefN);
      case ptg::kArea:
      case ptg::kAreaN: return Area(t, ptg::BaseId(t) == ptg::kAreaN);
      case ptg::kMemArea:
      case ptg::kMemErr:
      case ptg::kMemNoMem:
      case ptg::kMemAreaN:
      case ptg::kMemNoMemN: return Memory(t, ptg::kMemSize);
      case ptg::kMemFunc: return Memory(t, ptg::kMemFuncSize);
      case ptg::kRefErr: return Deleted(t, sizes_.ref);
      case ptg::kAreaErr: return Deleted(t, sizes_.area);
      case ptg::kNameX: return NameX(t);
      case ptg::kRef3d:
      case ptg::kArea3d:
      case ptg::kRefErr3d:
      case ptg::kAreaErr3d: return Ref3d(t);
      default: return Unknown(t);
    }
  }

  // --- reading -------------------------------------------------------------

  std::uint8_t At(std::size_t off) const { return data_[pos_ + off]; }
  std::uint16_t U16(std::size_t off) const { return static_cast<std::uint16_t>(At(off) | At(off + 1) << 8); }

  // True when the token's `size` bytes lie within the token bytes; otherwise
  // writes the truncation marker (decoding stops).
  bool Need(std::uint8_t t, std::size_t size) {
    if (size <= end_ - pos_) return true;
    Push("Truncated ptg[" + Hex2(t) + "]");
    return false;
  }

  bool Unknown(std::uint8_t t) {
    Push("Unknown ptg[" + Hex2(t) + "]");
    return false;
  }

  // --- stack ---------------------------------------------------------------

  // A piece holding the text written to the buffer since `offset`.
  std::int32_t PieceFrom(std::size_t offset) {
    pieces_.push_back({static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text_.size() - offset), -1, -1, false});
    return static_cast<std::int32_t>(pieces_.size() - 1);
  }
  std::int32_t Piece(std::string_view s) {
    const std::size_t offset = text_.size();
    text_.append(s);
    return PieceFrom(offset);
  }
  std::int32_t Piece(char c) {
    text_ += c;
    return PieceFrom(text_.size() - 1);
  }
  void Append(Entry& e, std::int32_t piece) {
    pieces_[static_cast<std::size_t>(e.tail)].next = piece;
    e.tail = piece;
  }
  // Appends text to an entry; when the entry's last piece is the last text
  // written, that piece just grows.
  void Append(Entry& e, std::string_view s) {
    Scratch::Piece& tail = pieces_[static_cast<std::size_t>(e.tail)];
    if (tail.offset + tail.length == text_.size() && tail.hole < 0) {
      text_.append(s);
      tail.length += static_cast<std::uint32_t>(s.size());
    } else {
      Append(e, Piece(s));
    }
  }
  void Join(Entry& a, const Entry& b) {
    pieces_[static_cast<std::size_t>(a.tail)].next = b.head;
    a.tail = b.tail;
  }
  void Prepend(Entry& e, std::int32_t piece) {
    pieces_[static_cast<std::size_t>(piece)].next = e.head;
    e.head = piece;
  }

  void Push(std::string_view s) {
    const std::int32_t p = Piece(s);
    stack_.push_back({p, p});
  }
  // Pushes the text written to the buffer since `offset`.
  void PushFrom(std::size_t offset) {
    const std::int32_t p = PieceFrom(offset);
    stack_.push_back({p, p});
  }

  void Binary(std::string_view op) {
    if (stack_.size() < 2) {
      Push("<Val missing>");
      return;
    }
    const Entry b = stack_.back();
    stack_.pop_back();
    Append(stack_.back(), Piece(op));
    Join(stack_.back(), b);
  }

  // Puts `before` and `after` around the top entry; an empty stack gets
  // "<Val missing>".
  void Wrap(std::string_view before, std::string_view after) {
    if (stack_.empty()) {
      Push("<Val missing>");
      return;
    }
    if (!before.empty()) Prepend(stack_.back(), Piece(before));
    if (!after.empty()) Append(stack_.back(), after);
  }

  // Replaces the n topmost entries, deepest first, by `call` + "(" + the
  // entries joined by the argument separator + ")".
  void Call(Entry call, std::size_t n) {
    Append(call, "(");
    for (std::size_t i = stack_.size() - n; i < stack_.size(); ++i) {
      if (i > stack_.size() - n) Append(call, Piece(c_.FuncArgSeparator));
      Join(call, stack_[i]);
    }
    Append(call, ")");
    stack_.resize(stack_.size() - n);
    stack_.push_back(call);
  }
  void Call(std::string_view name, std::size_t n) {
    if (n > stack_.size()) IndexError(static_cast<long>(stack_.size()) - static_cast<long>(n));
    const std::int32_t p = Piece(name);
    Call(Entry{p, p}, n);
  }

  // --- operands ------------------------------------------------------------

  bool String() {
    if (!Need(ptg::kStr, 2)) return false;
    const std::size_t n = At(1);
    std::size_t size = 2 + n;
    bool wide = false;
    if (biff8_) {
      if (!Need(ptg::kStr, 3)) return false;
      wide = (At(2) & biff::kStrHighByte) != 0;
      size = 3 + (wide ? 2 * n : n);
    }
    if (!Need(ptg::kStr, size)) return false;
    const std::uint8_t* p = &data_[pos_ + size - (wide ? 2 * n : n)];
    const std::size_t offset = text_.size();
    if (wide) {
      AppendQuotedUtf16(text_, p, n);
    } else if (IsAscii(p, n)) {
      AppendQuoted(text_, std::string_view(reinterpret_cast<const char*>(p), n));
    } else {
      AppendQuoted(text_, EightBit(p, n, biff8_, c_.Codepage));
    }
    PushFrom(offset);
    pos_ += size;
    return true;
  }

  bool Attribute() {
    const std::size_t size = sizes_.attr;
    if (!Need(ptg::kAttr, size)) return false;
    const std::uint8_t flags = At(1);
    if (flags & ptg::kAttrChoose) {
      const std::size_t n = biff2_ ? At(2) : U16(2);
      const std::size_t total = size + 2 * (n + 1);
      if (!Need(ptg::kAttr, total)) return false;
      pos_ += total;
      return true;
    }
    if (flags & ptg::kAttrSum) Wrap("SUM(", ")");
    pos_ += size;
    return true;
  }

  bool Function(std::uint8_t t) {
    const std::size_t size = sizes_.func;
    if (!Need(t, size)) return false;
    const int id = biff23_ ? At(1) : U16(1);
    pos_ += size;
    if (const ExcelFunction* f = ExcelFunctionById(id)) {
      Call(f->Name, f->MinArgs);
    } else {
      const char* later = LaterFunctionName(id);
      Call(later ? std::string(later) : "?<" + std::to_string(id) + ">?", 1);
    }
    return true;
  }

  bool FunctionVar(std::uint8_t t) {
    const std::size_t size = sizes_.funcVar;
    if (!Need(t, size)) return false;
    std::size_t n = At(1) & ptg::kArgCountMask;
    int id;
    if (biff23_) {
      id = At(2);
    } else if (biff24_) {
      // BIFF4 stores a 16-bit id like later versions (AVEDEV is 269); its
      // command-equivalent bit is dropped, as the low byte alone always did.
      id = U16(2) & 0x7FFF;
    } else {
      id = U16(2);  // bit 15: a command equivalent, which has no entry
    }
    pos_ += size;
    std::string name;
    const ExcelFunction* f = ExcelFunctionById(id);
    if (f != nullptr) {
      name = f->Name;
    } else if (const char* later = LaterFunctionName(id)) {
      name = later;
    } else {
      name = "?<" + std::to_string(id) + ">?";
    }
    // Add-in and macro calls (id 255): the deepest operand names the function.
    if (f != nullptr && std::isdigit(static_cast<unsigned char>(name[0])) && n > 0) {
      if (n > stack_.size()) IndexError(static_cast<long>(stack_.size()) - static_cast<long>(n));
      const Entry callee = stack_[stack_.size() - n];
      stack_.erase(stack_.end() - static_cast<std::ptrdiff_t>(n));
      Call(callee, n - 1);
      return true;
    }
    Call(name, n);
    return true;
  }

  static const std::string& ListEntry(const std::vector<std::string>& list, long index) {
    if (index < 0 || index >= static_cast<long>(list.size())) IndexError(index);
    return list[static_cast<std::size_t>(index)];
  }

  bool Name(std::uint8_t t) {
    const std::size_t size = sizes_.name;
    if (!Need(t, size)) return false;
    const long index = U16(1);
    pos_ += size;
    Push(ListEntry(biff24_ && sheetContext_ ? c_.ExternNames : c_.Names, index));
    return true;
  }

  bool NameX(std::uint8_t t) {
    const std::size_t size = sizes_.nameX;
    if (!Need(t, size)) return false;
    if (!biff8_) {
      // A negative link index refers to this workbook, whose names are the
      // defined names; otherwise the name is an external name.
      const bool own = static_cast<std::int16_t>(U16(ptg::kSheetPartAt)) < 0;
      const long index = U16(ptg::kNameXIndexAt5);
      pos_ += size;
      Push(ListEntry(own ? c_.Names : c_.ExternNames, index));
      return true;
    }
    const std::size_t sheet = U16(ptg::kSheetPartAt);
    const long index = U16(ptg::kNameXIndexAt8);
    pos_ += size;
    // The name belongs to the SUPBOOK that the EXTERNSHEET entry names.
    if (sheet < c_.ExternSheets.size() && c_.ExternSheets[sheet].SupBook < c_.SupBooks.size()) {
      const SupBook& book = c_.SupBooks[c_.ExternSheets[sheet].SupBook];
      if (book.Type == SupBook::sbInternal) {
        Push(ListEntry(c_.Names, index));
      } else if (book.Type == SupBook::sbAddIn) {
        Push(ListEntry(book.Names, index - 1));
      } else {
        Push(QuoteSheetName(book.Book) + "!" + ListEntry(book.Names, index - 1));
      }
      return true;
    }
    stable_ = false;
    Push(ListEntry(c_.ExternNames, index));
    return true;
  }

  // Cell fields at data offset `off`: BIFF8 row (16 bits) and column field
  // with the relative flags; BIFF2-7 row field with the flags and column byte.
  struct Cell {
    int col, row;
    bool colAbs, rowAbs;
  };

  Cell ReadCell(std::size_t rowOff, std::size_t colOff, bool relative) const {
    Cell cell{};
    if (biff8_) {
      const std::uint16_t row = U16(rowOff), field = U16(colOff);
      cell.colAbs = (field & ptg::kRelativeCol) == 0;
      cell.rowAbs = (field & ptg::kRelativeRow) == 0;
      cell.col = relative ? field & 0xFF : field & ptg::kCellIndexMask;
      cell.row = row;
      if (relative && !cell.colAbs) cell.col = (baseCol_ + static_cast<std::int8_t>(field & 0xFF)) & 0xFF;
      if (relative && !cell.rowAbs) cell.row = (baseRow_ + static_cast<std::int16_t>(row)) & 0xFFFF;
    } else {
      const std::uint16_t field = U16(rowOff);
      const std::uint8_t col = At(colOff);
      cell.colAbs = (field & ptg::kRelativeCol) == 0;
      cell.rowAbs = (field & ptg::kRelativeRow) == 0;
      cell.col = col;
      cell.row = field & ptg::kCellIndexMask;
      if (relative && !cell.colAbs) cell.col = (baseCol_ + static_cast<std::int8_t>(col)) & 0xFF;
      if (relative && !cell.rowAbs) cell.row = (baseRow_ + ((cell.row ^ 0x2000) - 0x2000)) & ptg::kCellIndexMask;
    }
    return cell;
  }

  static void Write(std::string& out, const Cell& c) { AppendCellRef(out, c.col, c.row, c.colAbs, c.rowAbs); }

  // Writes the reference at data offset `off` (after the token byte).
  void WriteRef(std::string& out, std::size_t off, bool relative) const { Write(out, ReadCell(off, off + 2, relative)); }
  void WriteArea(std::string& out, std::size_t off, bool relative) const {
    Write(out, ReadCell(off, off + 4, relative));
    out += ':';
    Write(out, biff8_ ? ReadCell(off + 2, off + 6, relative) : ReadCell(off + 2, off + 5, relative));
  }

  bool Ref(std::uint8_t t, bool relative) { return Reference(t, relative, false); }
  bool Area(std::uint8_t t, bool relative) { return Reference(t, relative, true); }

  // A cell or area reference token at pos_: its text pushed, and under a
  // shared formula's template a relative one marked as a hole.
  bool Reference(std::uint8_t t, bool relative, bool area) {
    const std::size_t size = area ? sizes_.area : sizes_.ref;
    if (!Need(t, size)) return false;
    const std::size_t offset = text_.size();
    if (area) {
      WriteArea(text_, 1, relative);
    } else {
      WriteRef(text_, 1, relative);
    }
    PushFrom(offset);
    if (relative && templating_) MarkHole(area);
    pos_ += size;
    return true;
  }

  // Makes the piece just pushed, the reference at pos_, a template's hole.
  void MarkHole(bool area) {
    pieces_.back().hole = static_cast<std::int32_t>(pos_);
    pieces_.back().area = area;
  }

  bool Deleted(std::uint8_t t, std::size_t size) {
    if (!Need(t, size)) return false;
    Push("#REF!");
    pos_ += size;
    return true;
  }

  // tMem* tokens only announce the cached value of the tokens behind them.
  // BIFF8 keeps the cached rectangles of tMemArea behind the tokens, where
  // array constants are read as well.
  bool Memory(std::uint8_t t, std::size_t size) {
    if (biff24_) return Unknown(t);
    if (!Need(t, size)) return false;
    if (biff8_ && ptg::BaseId(t) == ptg::kMemArea) {
      if (arrayPos_ + 2 > data_.size()) {
        Push("Truncated ptg[" + Hex2(t) + "]");
        return false;
      }
      const std::size_t count = static_cast<std::size_t>(data_[arrayPos_] | data_[arrayPos_ + 1] << 8);
      arrayPos_ = std::min(data_.size(), arrayPos_ + 2 + 8 * count);
    }
    pos_ += size;
    return true;
  }

  // The sheet prefix of a 3D reference whose list entry is missing.
  std::string Missing() {
    stable_ = false;
    return "<??? Ref3d>";
  }

  // Sheet prefix of a 3D reference (without the "!"), or empty text for the
  // workbook itself; `deleted` when the sheet no longer exists.
  std::string SheetPrefix(bool& deleted) {
    deleted = false;
    if (!biff8_) {
      const auto link = static_cast<std::int16_t>(U16(ptg::kSheetPartAt));
      const std::uint16_t first = U16(ptg::kFirstSheetAt5), last = U16(ptg::kLastSheetAt5);
      std::string prefix = link >= 0 ? "[EXTERN ???]:" : "";
      if (first == 0xFFFF || last == 0xFFFF) return prefix + "[DELETED]";
      if (first == last) return prefix + QuoteSheetName(ListEntry(c_.Sheets, first));
      const std::string& a = ListEntry(c_.Sheets, first);
      const std::string& b = ListEntry(c_.Sheets, last);
      return prefix + (IsPlainSheetName(a) && IsPlainSheetName(b) ? a + ":" + b : QuoteAlways(a + ":" + b));
    }
    const std::size_t index = U16(ptg::kSheetPartAt);
    if (index >= c_.ExternSheets.size()) return Missing();
    const ExternSheetEntry& e = c_.ExternSheets[index];
    if (e.SupBook >= c_.SupBooks.size()) return Missing();
    const SupBook& book = c_.SupBooks[e.SupBook];
    if (e.FirstSheet == 0xFFFF || e.LastSheet == 0xFFFF) {
      deleted = true;
      return {};
    }
    if (book.Type == SupBook::sbAddIn) return "<??? Ref3d>";
    if (e.FirstSheet == 0xFFFE) return book.Type == SupBook::sbExternal ? QuoteAlways(book.Book) : std::string();
    const std::vector<std::string>& sheets = book.Type == SupBook::sbInternal ? c_.Sheets : book.Sheets;
    if (e.FirstSheet >= sheets.size() || e.LastSheet >= sheets.size()) return Missing();
    const std::string bookPart = book.Type == SupBook::sbExternal ? "[" + book.Book + "]" : std::string();
    const std::string& first = sheets[e.FirstSheet];
    const std::string& last = sheets[e.LastSheet];
    const bool plain = IsPlainBook(bookPart) && IsPlainSheetName(first) && IsPlainSheetName(last);
    const std::string text = bookPart + (e.FirstSheet == e.LastSheet ? first : first + ":" + last);
    return plain ? text : QuoteAlways(text);
  }

  static bool IsPlainBook(const std::string& book) {
    for (char c : book) {
      if (c != '[' && c != ']' && !IsWordChar(static_cast<unsigned char>(c))) return false;
    }
    return true;
  }

  bool Ref3d(std::uint8_t t) {
    const std::uint8_t base = ptg::BaseId(t);
    const bool area = base == ptg::kArea3d || base == ptg::kAreaErr3d;
    const bool deletedRef = base == ptg::kRefErr3d || base == ptg::kAreaErr3d;
    const std::size_t size = area ? sizes_.area3d : sizes_.ref3d;
    if (!Need(t, size)) return false;
    bool deleted = false;
    const std::string prefix = SheetPrefix(deleted);
    const std::size_t off = biff8_ ? ptg::kCellAt3d8 : ptg::kCellAt3d5;
    std::string ref = "#REF!";
    if (!deletedRef) {
      ref.clear();
      area ? WriteArea(ref, off, false) : WriteRef(ref, off, false);
    }
    if (deleted) {
      Push("#REF!");
    } else if (prefix.empty()) {
      Push(ref);
    } else {
      Push(prefix + "!" + ref);
    }
    pos_ += size;
    return true;
  }

  // Array constant: its values lie behind the tokens: column count (1 byte),
  // row count (2 bytes), then the values row by row.
  bool Array(std::uint8_t t) {
    if (!Need(t, ptg::kArraySize)) return false;
    pos_ += ptg::kArraySize;
    auto truncated = [&] {
      Push("Truncated ptg[" + Hex2(t) + "]");
      return false;
    };
    if (arrayPos_ + 3 > data_.size()) return truncated();
    // BIFF8 stores the counts less one; earlier versions the counts
    // themselves, with 0 columns meaning 256.
    std::size_t cols = data_[arrayPos_];
    std::size_t rows = static_cast<std::size_t>(data_[arrayPos_ + 1] | data_[arrayPos_ + 2] << 8);
    if (biff8_) {
      ++cols;
      ++rows;
    } else if (cols == 0) {
      cols = 256;
    }
    arrayPos_ += 3;
    std::string text = "{";
    for (std::size_t r = 0; r < rows; ++r) {
      if (r > 0) text += ';';
      for (std::size_t c = 0; c < cols; ++c) {
        if (c > 0) text += c_.FuncArgSeparator;
        if (arrayPos_ >= data_.size()) return truncated();
        const std::uint8_t type = data_[arrayPos_];
        const std::size_t left = data_.size() - arrayPos_ - 1;
        const std::uint8_t* p = &data_[arrayPos_ + 1];
        switch (type) {
          case ptg::kValueEmpty:
          case ptg::kValueNumber:
          case ptg::kValueBool:
          case ptg::kValueError:
            if (left < 8) return truncated();
            if (type == ptg::kValueNumber) {
              double v;
              std::memcpy(&v, p, sizeof v);
              text += NumberText(v);
            } else if (type == ptg::kValueBool) {
              text += p[0] != 0 ? c_.StrTRUE : c_.StrFALSE;
            } else if (type == ptg::kValueError) {
              text += TXLSRead::ErrorText(p[0]);
            }
            arrayPos_ += 9;
            break;
          case ptg::kValueString: {  // BIFF8 16-bit length and option byte, else 8-bit length
            if (biff8_) {
              if (left < 3) return truncated();
              const std::size_t n = static_cast<std::size_t>(p[0] | p[1] << 8);
              const bool wide = (p[2] & biff::kStrHighByte) != 0;
              const std::size_t bytes = wide ? 2 * n : n;
              if (left - 3 < bytes) return truncated();
              AppendQuoted(text, wide ? platform::Utf16LeToUtf8(p + 3, n) : EightBit(p + 3, n, true, c_.Codepage));
              arrayPos_ += 4 + bytes;
            } else {
              if (left < 1) return truncated();
              const std::size_t n = p[0];
              if (left - 1 < n) return truncated();
              AppendQuoted(text, EightBit(p + 1, n, false, c_.Codepage));
              arrayPos_ += 2 + n;
            }
            break;
          }
          default:
            text += "Bad element ID#" + std::to_string(type) + " in array}";
            Push(text);
            return true;
        }
      }
    }
    text += '}';
    Push(text);
    return true;
  }

  std::span<const std::uint8_t> data_;
  std::size_t end_;
  std::size_t pos_ = 0;
  std::size_t arrayPos_;
  int baseCol_, baseRow_;
  const FormulaContext& c_;
  bool biff8_, biff24_, biff23_, biff2_;
  ptg::Sizes sizes_;
  bool sheetContext_ = false;
  bool templating_ = false;   // relative references become holes
  // False when the text came from a list entry that was missing: the
  // reader's lists only grow, so an entry found stays the same.
  bool stable_ = true;
  std::string& text_;
  std::vector<Scratch::Piece>& pieces_;
  std::vector<Entry>& stack_;
};

// One set of buffers per thread, reused by every formula.
Scratch& ThreadScratch() {
  thread_local Scratch scratch;
  return scratch;
}

}  // namespace

void AppendCellRef(std::string& out, int col, int row, bool colAbsolute, bool rowAbsolute) {
  if (colAbsolute) out += '$';
  char letters[8];
  int n = 0;
  for (int c = col; c >= 0 && n < 8; c = c / 26 - 1) letters[n++] = static_cast<char>('A' + c % 26);
  while (n > 0) out += letters[--n];
  if (rowAbsolute) out += '$';
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, row + 1).ptr;
  out.append(digits, end);
}

std::string CellRefText(int col, int row, bool colAbsolute, bool rowAbsolute) {
  std::string out;
  AppendCellRef(out, col, row, colAbsolute, rowAbsolute);
  return out;
}

std::string QuoteSheetName(const std::string& name) { return IsPlainSheetName(name) ? name : QuoteAlways(name); }

std::string DecodeFormula(std::span<const std::uint8_t> data, std::size_t tokenCount, int baseCol, int baseRow,
                          const FormulaContext& context) {
  return Decoder(data, tokenCount, baseCol, baseRow, context, ThreadScratch()).Run();
}

std::string DecodeSharedFormula(std::span<const std::uint8_t> data, std::size_t tokenCount, int baseCol, int baseRow,
                                const FormulaContext& context, FormulaTemplate& cache) {
  Scratch& scratch = ThreadScratch();
  if (cache.built && (cache.version != context.Version || cache.codepage != context.Codepage)) cache = {};
  if (!cache.built) {
    Decoder(data, tokenCount, baseCol, baseRow, context, scratch).Build(cache);
    cache.built = true;
    cache.version = context.Version;
    cache.codepage = context.Codepage;
  }
  if (!cache.reusable) return Decoder(data, tokenCount, baseCol, baseRow, context, scratch).Run();
  return Decoder(data, tokenCount, baseCol, baseRow, context, scratch).Fill(cache);
}

}  // namespace xls
