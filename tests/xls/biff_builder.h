// Test helpers: little-endian byte builders for BIFF records and small
// workbook streams, and an event log that records what TXLSRead reports.
#pragma once

#include <cstdint>
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
  B() = default;
  B(std::initializer_list<std::uint8_t> bytes) : v_(bytes) {}
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
  const Bytes& bytes() const { return v_; }

 private:
  Bytes v_;
};

// One record: header and body.
inline Bytes Rec(std::uint16_t id, const Bytes& body) {
  B b;
  b.u16(id).u16(static_cast<unsigned>(body.size())).raw(body);
  return b;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Bof(unsigned version, unsigned type) { return Rec(biff::kBof5, B().u16(version).u16(type).zeros(12)); }
inline Bytes Eof() { return Rec(biff::kEof, {}); }
inline Bytes Number(int row, int col, int xf, double v) { return Rec(biff::kNumber, B().u16(row).u16(col).u16(xf).f64(v)); }
// BIFF8 LABEL with 8-bit ("compressed") characters.
inline Bytes Label8(int row, int col, const std::string& latin1) {
  return Rec(biff::kLabel, B().u16(row).u16(col).u16(15).u16(static_cast<unsigned>(latin1.size())).u8(0).raw(latin1));
}

struct Sheet {
  std::string name;
  Bytes records;      // between the sheet's BOF and EOF
  std::uint8_t type = 0;  // BOUNDSHEET type: 0 worksheet, 2 chart
};

// A BIFF8 "Workbook" stream: globals (BOF, `globals`, BOUNDSHEETs, EOF) and
// one substream per sheet, BOUNDSHEET offsets pointing at their BOFs.
inline Bytes Biff8Workbook(const std::vector<Sheet>& sheets, const Bytes& globals = {}) {
  std::size_t globalsSize = Bof(0x0600, 5).size() + globals.size() + Eof().size();
  for (const auto& s : sheets) globalsSize += 4 + 8 + s.name.size();
  Bytes boundsheets, substreams;
  std::size_t offset = globalsSize;
  for (const auto& s : sheets) {
    boundsheets = Cat({boundsheets, Rec(biff::kBoundSheet, B().u32(static_cast<std::uint32_t>(offset)).u8(0).u8(s.type)
                                                               .u8(static_cast<unsigned>(s.name.size())).u8(0).raw(s.name))});
    const Bytes sub = Cat({Bof(0x0600, s.type == 2 ? 0x20 : 0x10), s.records, Eof()});
    substreams = Cat({substreams, sub});
    offset += sub.size();
  }
  return Cat({Bof(0x0600, 5), globals, boundsheets, Eof(), substreams});
}

// Every event the reader fires, one line each, in order.
struct EventLog {
  std::vector<std::string> lines;

  void Attach(TXLSRead& r, bool withSheet = false, bool withRich = false) {
    r.OnNumberCell = [this](TXLSRead&, int c, int row, int xf, double v, bool f) {
      Add("number", c, row, xf, xls::PyFloatRepr(v), f);
    };
    r.OnStringCell = [this](TXLSRead&, int c, int row, int xf, const std::string& v, bool f) {
      Add("text", c, row, xf, v, f);
    };
    r.OnBoolCell = [this](TXLSRead&, int c, int row, int xf, bool v, bool f) { Add("bool", c, row, xf, v ? "1" : "0", f); };
    r.OnErrorCell = [this](TXLSRead&, int c, int row, int xf, int code, bool f) {
      Add("error", c, row, xf, std::to_string(code), f);
    };
    r.OnBlankCell = [this](TXLSRead&, int c, int row, int xf) { Add("blank", c, row, xf, "", false); };
    r.OnRow = [this](TXLSRead&, int row, int c1, int c2, int xf, int h) {
      lines.push_back("row " + std::to_string(row) + " " + std::to_string(c1) + "-" + std::to_string(c2) + " xf" +
                      std::to_string(xf) + " h" + std::to_string(h));
    };
    r.OnCol = [this](TXLSRead&, int c1, int c2, int xf, int w) {
      lines.push_back("col " + std::to_string(c1) + "-" + std::to_string(c2) + " xf" + std::to_string(xf) + " w" +
                      std::to_string(w));
    };
    r.OnUnhandled = [this](TXLSRead&, std::uint16_t id, int len, const std::uint8_t*) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "unhandled %04X %d", id, len);
      lines.push_back(buf);
    };
    if (withSheet) {
      r.OnSheet = [this](TXLSRead&, const std::string& name, int index, bool& readIt) {
        lines.push_back("sheet " + std::to_string(index) + " " + name + (readIt ? " (first)" : ""));
        readIt = true;
      };
    }
    if (withRich) {
      r.OnRichCell = [this](TXLSRead&, int c, int row, int xf, const std::string& v, std::span<const std::uint32_t> runs) {
        std::string text = v + " runs";
        for (auto e : runs) text += " " + std::to_string(e >> 16) + ":" + std::to_string(e & 0xFFFF);
        Add("rich", c, row, xf, text, false);
      };
    }
  }
  void Add(const char* kind, int c, int r, int xf, const std::string& v, bool formula) {
    lines.push_back(std::string(kind) + " " + std::to_string(c) + "," + std::to_string(r) + " xf" + std::to_string(xf) +
                    " " + v + (formula ? " =" : ""));
  }
};

}  // namespace xlstest
