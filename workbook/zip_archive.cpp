#include "workbook/zip_archive.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/sysutils.h"

namespace workbook {

void InflateBudget::Charge(std::string_view entry, std::uint64_t bytes, std::uint64_t entryTotal) {
  used_ += bytes;
  if (entryTotal > perEntry_) {
    throw Exception("Workbook part " + std::string(entry) + " inflates to more than " + std::to_string(perEntry_) +
                    " bytes");
  }
  if (used_ > perRequest_) throw Exception("Workbook inflates to more than " + std::to_string(perRequest_) + " bytes");
}

// minizip's view of the mapped bytes: a read position over them.
struct ZipArchive::Source {
  std::span<const std::uint8_t> bytes;
  std::uint64_t pos = 0;
};

namespace {

template <typename S>
S& State(voidpf stream) {
  return *static_cast<S*>(stream);
}

voidpf ZCALLBACK OpenSource(voidpf opaque, const void*, int) { return opaque; }

int ZCALLBACK CloseSource(voidpf, voidpf) { return 0; }

int ZCALLBACK SourceError(voidpf, voidpf) { return 0; }

constexpr unsigned kChunk = 64 * 1024;

std::string UnzError(int code) {
  switch (code) {
    case UNZ_BADZIPFILE: return "bad zip structure";
    case UNZ_CRCERROR: return "CRC mismatch";
    case UNZ_ERRNO: return "read beyond the end of the file";
    case Z_DATA_ERROR: return "bad deflate data";
    case Z_MEM_ERROR: return "out of memory";
    case Z_BUF_ERROR: return "deflate data cut short";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace

// The callbacks minizip reads the archive through.
struct ZipCallbacks {
  static uLong ZCALLBACK Read(voidpf, voidpf stream, void* buf, uLong size) {
    auto& s = State<ZipArchive::Source>(stream);
    if (s.pos >= s.bytes.size()) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(size, s.bytes.size() - s.pos);
    std::memcpy(buf, s.bytes.data() + s.pos, n);
    s.pos += n;
    return static_cast<uLong>(n);
  }
  static ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) { return State<ZipArchive::Source>(stream).pos; }
  static long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& s = State<ZipArchive::Source>(stream);
    std::uint64_t base = 0;
    switch (origin) {
      case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
      case ZLIB_FILEFUNC_SEEK_CUR: base = s.pos; break;
      case ZLIB_FILEFUNC_SEEK_END: base = s.bytes.size(); break;
      default: return -1;
    }
    if (offset > s.bytes.size() || base + offset > s.bytes.size()) return -1;
    s.pos = base + offset;
    return 0;
  }
};

bool ZipArchive::LooksLikeZip(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4 || bytes[0] != 'P' || bytes[1] != 'K') return false;
  return (bytes[2] == 3 && bytes[3] == 4) || (bytes[2] == 5 && bytes[3] == 6);
}

std::string ZipArchive::NormalName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    out.push_back(c);
  }
  if (!out.empty() && out[0] == '/') out.erase(0, 1);
  return out;
}

ZipArchive::ZipArchive(std::span<const std::uint8_t> bytes, InflateBudget& budget)
    : source_(std::make_unique<Source>()), budget_(budget) {
  source_->bytes = bytes;
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenSource;
  functions.zread_file = ZipCallbacks::Read;
  functions.zwrite_file = nullptr;
  functions.ztell64_file = ZipCallbacks::Tell;
  functions.zseek64_file = ZipCallbacks::Seek;
  functions.zclose_file = CloseSource;
  functions.zerror_file = SourceError;
  functions.opaque = source_.get();
  unz_ = unzOpen2_64("workbook", &functions);
  if (!unz_) throw Exception("Damaged zip archive: no central directory");
  try {
    int rc = unzGoToFirstFile(unz_);
    std::vector<char> name(kMaxNameLength + 1);
    while (rc == UNZ_OK) {
      if (entries_.size() >= kMaxEntries) {
        throw Exception("Workbook has more than " + std::to_string(kMaxEntries) + " zip entries");
      }
      unz_file_info64 info{};
      rc = unzGetCurrentFileInfo64(unz_, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
      if (rc != UNZ_OK) break;
      if (info.size_filename > kMaxNameLength) {
        throw Exception("Damaged zip archive: an entry name is longer than " + std::to_string(kMaxNameLength) +
                        " bytes");
      }
      unz64_file_pos pos{};
      unzGetFilePos64(unz_, &pos);
      entries_.push_back({std::string(name.data(), info.size_filename), info.uncompressed_size,
                          pos.pos_in_zip_directory, pos.num_of_file});
      rc = unzGoToNextFile(unz_);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) throw Exception("Damaged zip archive: central directory " + UnzError(rc));
    index_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace_back(NormalName(entries_[i].name), i);
    // The first of equal names wins, as a reader walking the directory would find it.
    std::stable_sort(index_.begin(), index_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  } catch (...) {
    unzClose(unz_);
    throw;
  }
}

ZipArchive::~ZipArchive() {
  if (unz_) unzClose(unz_);
}

const ZipArchive::Entry* ZipArchive::Find(std::string_view name) const {
  const std::string key = NormalName(name);
  const auto it = std::lower_bound(index_.begin(), index_.end(), key,
                                   [](const auto& e, const std::string& k) { return e.first < k; });
  if (it == index_.end() || it->first != key) return nullptr;
  return &entries_[it->second];
}

bool ZipArchive::Read(const Entry& entry, const Sink& sink) {
  const auto fail = [&](const std::string& why) {
    return Exception("Damaged zip entry " + entry.name + ": " + why);
  };
  unz64_file_pos pos{entry.position, entry.fileNumber};
  if (unzGoToFilePos64(unz_, &pos) != UNZ_OK) throw fail("not found in the central directory");
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(unz_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    throw fail("bad central directory entry");
  }
  if (info.flag & 1) throw fail("encrypted");
  // Sizes kept in a zip64 field of the central directory (0xFFFFFFFF in the
  // header) are misread by minizip 1.1; only entries above 4 GiB need
  // them, far above any inflate budget.
  const auto bytes = source_->bytes;
  if (entry.position + 28 <= bytes.size() && bytes[entry.position] == 'P' && bytes[entry.position + 1] == 'K' &&
      bytes[entry.position + 2] == 1 && bytes[entry.position + 3] == 2) {
    const std::uint8_t* sizes = bytes.data() + entry.position + 20;
    if (std::all_of(sizes, sizes + 8, [](std::uint8_t b) { return b == 0xFF; }) ||
        std::all_of(sizes, sizes + 4, [](std::uint8_t b) { return b == 0xFF; }) ||
        std::all_of(sizes + 4, sizes + 8, [](std::uint8_t b) { return b == 0xFF; })) {
      throw fail("zip64 sizes (an entry above 4 GiB) are not supported");
    }
  }
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
    throw fail("compression method " + std::to_string(info.compression_method) + " is not supported");
  }
  int rc = unzOpenCurrentFile(unz_);
  if (rc != UNZ_OK) throw fail(UnzError(rc));
  // Not zero-filled: only what was inflated into it is ever read.
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
  std::uint64_t total = 0;
  bool complete = false;
  try {
    for (;;) {
      const int n = unzReadCurrentFile(unz_, buffer.get(), kChunk);
      if (n < 0) throw fail(UnzError(n));
      if (n == 0) {
        complete = true;
        break;
      }
      total += static_cast<unsigned>(n);
      budget_.Charge(entry.name, static_cast<unsigned>(n), total);
      if (!sink(std::span<const std::uint8_t>(buffer.get(), static_cast<std::size_t>(n)))) break;
    }
  } catch (...) {
    unzCloseCurrentFile(unz_);
    throw;
  }
  // minizip keeps the checksum of what it inflated and compares it with the
  // central directory's once the declared size has been read.
  const int closed = unzCloseCurrentFile(unz_);
  if (!complete) return false;
  // minizip stops at the declared size and at the end of the deflate data;
  // both must agree with what the entry really held.
  if (total != info.uncompressed_size) {
    throw fail("declares " + std::to_string(info.uncompressed_size) + " bytes but holds " + std::to_string(total));
  }
  if (closed == UNZ_CRCERROR) throw fail(UnzError(UNZ_CRCERROR));
  return true;
}

std::string ZipArchive::ReadSmall(const Entry& entry, std::size_t limit) {
  std::string out;
  Read(entry, [&](std::span<const std::uint8_t> chunk) {
    if (out.size() + chunk.size() > limit) {
      throw Exception("Workbook part " + entry.name + " is larger than " + std::to_string(limit) + " bytes");
    }
    out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return true;
  });
  return out;
}

}  // namespace workbook
