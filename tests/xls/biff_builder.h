// Test helpers: little-endian byte builders for BIFF records and small
// workbook streams, and a reader run that logs every event and message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "xls/biff_records.h"
#include "xls/xls_dump.h"
#include "xls/xls_read.h"

namespace xlstest {
using Bytes = std::vector<std::uint8_t>;

class B {
 public:
  B& u8(unsigned x) { v_.push_back(static_cast<std::uint8_t>(x)); return *this; }
  B& u16(unsigned x) { return u8(x & 0xFF).u8(x >> 8 & 0xFF); }
  B& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  B& f64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return u32(static_cast<std::uint32_t>(bits)).u32(static_cast<std::uint32_t>(bits >> 32));
  }
  B& raw(const std::string& s) { v_.insert(v_.end(), s.begin(), s.end()); return *this; }
  B& raw(const Bytes& b) { v_.insert(v_.end(), b.begin(), b.end()); return *this; }
  B& zeros(std::size_t n) { v_.insert(v_.end(), n, 0); return *this; }
  operator Bytes() const { return v_; }

 private:
  Bytes v_;
};

inline Bytes Rec(std::uint16_t id, const Bytes& body) {
  return B().u16(id).u16(static_cast<unsigned>(body.size())).raw(body);
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Bof(unsigned version, unsigned type) { return Rec(biff::kBof5, B().u16(version).u16(type).zeros(12)); }
inline Bytes Eof() { return Rec(biff::kEof, {}); }
inline Bytes Number(int row, int col, int xf, double v) { return Rec(biff::kNumber, B().u16(row).u16(col).u16(xf).f64(v)); }

// records: between the sheet's BOF and EOF; type: BOUNDSHEET type, 0 worksheet or 2 chart
struct Sheet { std::string name; Bytes records; std::uint8_t type = 0; };

// A BIFF8 "Workbook" stream: globals (BOF, `globals`, BOUNDSHEETs, EOF) and
// one substream per sheet, BOUNDSHEET offsets pointing at their BOFs unless
// `badOffset` (0 and up) is given for all of them.
inline Bytes Biff8Workbook(const std::vector<Sheet>& sheets, const Bytes& globals = {}, std::int64_t badOffset = -1) {
  std::size_t offset = Bof(0x0600, 5).size() + globals.size() + Eof().size();
  for (const auto& s : sheets) offset += 4 + 8 + s.name.size();
  Bytes boundsheets, substreams;
  for (const auto& s : sheets) {
    boundsheets = Cat({boundsheets, Rec(biff::kBoundSheet, B().u32(static_cast<std::uint32_t>(badOffset < 0 ? offset : badOffset)).u8(0).u8(s.type)
                                                               .u8(static_cast<unsigned>(s.name.size())).u8(0).raw(s.name))});
    const Bytes sub = Cat({Bof(0x0600, s.type == 2 ? 0x20 : 0x10), s.records, Eof()});
    substreams = Cat({substreams, sub});
    offset += sub.size();
  }
  return Cat({Bof(0x0600, 5), globals, boundsheets, Eof(), substreams});
}

// Every event the reader fires, one line each, in order; with `all`, the
// sheet events too (every worksheet read) and rich text as such.
struct EventLog {
  std::vector<std::string> lines;
  void Attach(TXLSRead& r, bool all = false) {
    r.OnNumberCell = [this](TXLSRead&, int c, int row, int xf, double v, bool f) {
      Add("number", c, row, xf, xls::PyFloatRepr(v), f);
    };
    r.OnStringCell = [this](TXLSRead&, int c, int row, int xf, const std::string& v, bool f) { Add("text", c, row, xf, v, f); };
    r.OnBoolCell = [this](TXLSRead&, int c, int row, int xf, bool v, bool f) { Add("bool", c, row, xf, v ? "1" : "0", f); };
    r.OnErrorCell = [this](TXLSRead&, int c, int row, int xf, int code, bool f) {
      Add("error", c, row, xf, std::to_string(code), f);
    };
    r.OnBlankCell = [this](TXLSRead&, int c, int row, int xf) { Add("blank", c, row, xf, "", false); };
    r.OnRow = [this](TXLSRead&, int row, int c1, int c2, int xf, int h) { Print("row %d %d-%d xf%d h%d", row, c1, c2, xf, h); };
    r.OnCol = [this](TXLSRead&, int c1, int c2, int xf, int w) { Print("col %d-%d xf%d w%d", c1, c2, xf, w); };
    r.OnUnhandled = [this](TXLSRead&, std::uint16_t id, int len, const std::uint8_t*) { Print("unhandled %04X %d", id, len); };
    if (!all) return;
    r.OnSheet = [this](TXLSRead&, const std::string& name, int index, bool& readIt) {
      lines.push_back("sheet " + std::to_string(index) + " " + name + (readIt ? " (first)" : ""));
      readIt = true;
    };
    r.OnRichCell = [this](TXLSRead&, int c, int row, int xf, const std::string& v, std::span<const std::uint32_t> runs) {
      std::string text = v + " runs";
      for (auto e : runs) text += " " + std::to_string(e >> 16) + ":" + std::to_string(e & 0xFFFF);
      Add("rich", c, row, xf, text, false);
    };
  }
  void Add(const char* kind, int c, int r, int xf, const std::string& v, bool formula) {
    lines.push_back(std::string(kind) + " " + std::to_string(c) + "," + std::to_string(r) + " xf" + std::to_string(xf) +
                    " " + v + (formula ? " =" : ""));
  }
  template <typename... Args>
  void Print(const char* format, Args... args) {
    char buf[80];
    std::snprintf(buf, sizeof buf, format, args...);
    lines.emplace_back(buf);
  }
};

// messages: of the error policy, each answered Yes
struct Outcome { std::vector<std::string> events; std::vector<std::string> messages; };

// Reads a bare BIFF8 record stream with the event log attached.
inline Outcome ReadBiff8(const Bytes& stream, bool all = false) {
  TXLSRead reader;
  EventLog log;
  log.Attach(reader, all);
  Outcome run;
  reader.OnMessageBox = [&](const std::string& m, bool) {
    run.messages.push_back(m);
    return true;
  };
  reader.ReadRecordStream(stream, true);
  run.events = log.lines;
  return run;
}
}  // namespace xlstest
