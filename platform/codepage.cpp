#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <unordered_map>

namespace platform {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The iconv name of a Windows code page number; empty for UTF-16LE, which is
// decoded without iconv. Only a fixed set of numbers is passed on to iconv,
// so the per-thread descriptor cache below stays small whatever numbers
// damaged workbooks carry; every other number reads as cp1252.
std::string IconvName(int codepage) {
  switch (codepage) {
    case 1200: return {};
    case 367:
    case 20127: return "ASCII";
    case 10000:
    case 32768: return "MACINTOSH";
    case 65001: return "UTF-8";
    case 437: case 720: case 737: case 775: case 850: case 852: case 855: case 857: case 858:
    case 860: case 861: case 862: case 863: case 864: case 865: case 866: case 869:
    case 874: case 932: case 936: case 949: case 950: case 1361:
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
      return "CP" + std::to_string(codepage);
    default: return "CP1252";  // 32769 and anything unknown
  }
}

class IconvHandle {
 public:
  explicit IconvHandle(iconv_t cd) : cd_(cd) {}
  ~IconvHandle() { iconv_close(cd_); }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

std::unique_ptr<IconvHandle> OpenToUtf8(const std::string& name) {
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<IconvHandle>(cd);
}

// iconv descriptors carry conversion state, so each thread keeps its own set,
// opened on first use of a code page. A code page iconv cannot open falls
// back to cp1252; (iconv_t)-1 only when even that is missing.
iconv_t HandleFor(int codepage) {
  thread_local std::unordered_map<std::string, std::unique_ptr<IconvHandle>> cache;
  std::string name = IconvName(codepage);
  auto it = cache.find(name);
  if (it == cache.end()) {
    auto handle = OpenToUtf8(name);
    if (!handle) handle = OpenToUtf8("CP1252");
    if (!handle) return reinterpret_cast<iconv_t>(-1);
    it = cache.emplace(std::move(name), std::move(handle)).first;
  }
  return it->second->get();
}

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) AppendUtf8(out, c);
  return out;
}

std::string Utf16LeToUtf8(const std::uint8_t* p, std::size_t units) {
  std::string out;
  out.reserve(units * 3);
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      std::uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string CodepageToUtf8(std::string_view bytes, int codepage) {
  if (codepage == 1200) {
    std::string out = Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() / 2);
    if (bytes.size() % 2 != 0) out += kReplacement;
    return out;
  }
  if (bytes.empty()) return {};
  iconv_t cd = HandleFor(codepage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return Latin1ToUtf8(bytes);

  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  std::string out;
  out.reserve(bytes.size() * 2);
  char chunk[1024];
  // Emits what a stateful code page (1255, 1258 compose combining marks)
  // still holds back.
  auto flush = [&] {
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
  };
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = errno;
    out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
    if (rc != static_cast<std::size_t>(-1) || err == E2BIG) continue;
    // An undecodable byte (EILSEQ) or a multi-byte sequence cut off at the
    // end (EINVAL): mark it and go on behind it.
    flush();
    out += kReplacement;
    ++in;
    --inLeft;
  }
  flush();
  return out;
}

}  // namespace platform

namespace platform {
namespace {

// Characters of cp1252's bytes 0x80-0x9F (0 where the byte is undefined).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int Cp1252Byte(std::uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return 0x80 + i;
  return -1;
}

}  // namespace

bool Utf8ToCp1252(std::string_view utf8, std::string& out, std::string& offending) {
  out.clear();
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
    bool valid = len != 0 && i + len <= utf8.size();
    for (std::size_t k = 1; valid && k < len; ++k) {
      const auto d = static_cast<unsigned char>(utf8[i + k]);
      valid = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3Fu);
    }
    const int byte = valid ? Cp1252Byte(cp) : -1;
    if (byte < 0) {
      offending.assign(utf8.substr(i, valid ? len : 1));
      return false;
    }
    out.push_back(static_cast<char>(byte));
    i += len;
  }
  return true;
}

}  // namespace platform
