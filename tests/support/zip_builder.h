// Builds zip archives byte by byte for the workbook tests: stored or
// deflated entries, data descriptors, zip64 records, and sizes or CRCs that
// lie, so that every container detail and damage is a row in a table.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

struct ZipEntry {
  std::string name{};
  std::string data{};
  bool deflate = true;
  bool descriptor = false;  // sizes and CRC in a data descriptor after the data
  // Sizes in zip64 extra fields (offsets stay 32-bit: Debian's minizip 1.1
  // misreads a zip64 offset, which only files above 4 GiB need). With a descriptor, as streaming
  // writers make them: the local header's zip64 field zero, the descriptor's
  // sizes 64-bit, the central directory's sizes 32-bit when they fit.
  bool zip64 = false;
  long long sizeDelta = 0;  // added to the declared uncompressed size (a lie)
  std::uint32_t crcXor = 0;  // xored into the declared CRC (a lie)
  std::uint16_t flags = 0;  // more general purpose flags (1: encrypted)
  std::string raw{};  // when not empty: the compressed bytes as they are
  std::uint64_t rawSize = 0;  // and the uncompressed size they inflate to
  std::uint32_t rawCrc = 0;
};

inline void Put16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}
inline void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Put64(std::string& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

// Raw deflate (no zlib header) of `data`.
inline std::string Deflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Raw deflate data that inflates to `copies` x `block` zero bytes without
// ever holding them: one fully flushed block repeated, then an empty final
// block. CRC of the whole result in `crc`.
inline std::string DeflateZeros(std::size_t block, std::size_t copies, std::uint32_t& crc) {
  const std::string zeros(block, '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string chunk(deflateBound(&z, block) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  z.avail_in = static_cast<uInt>(block);
  z.next_out = reinterpret_cast<Bytef*>(chunk.data());
  z.avail_out = static_cast<uInt>(chunk.size());
  deflate(&z, Z_FULL_FLUSH);
  chunk.resize(chunk.size() - z.avail_out);
  std::string tail(64, '\0');
  z.next_out = reinterpret_cast<Bytef*>(tail.data());
  z.avail_out = static_cast<uInt>(tail.size());
  deflate(&z, Z_FINISH);
  tail.resize(tail.size() - z.avail_out);
  deflateEnd(&z);
  std::string out;
  out.reserve(chunk.size() * copies + tail.size());
  for (std::size_t i = 0; i < copies; ++i) out += chunk;
  const uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(block));
  uLong all = crc32(0, nullptr, 0);
  for (std::size_t i = 0; i < copies; ++i) all = crc32_combine(all, one, static_cast<z_off_t>(block));
  crc = static_cast<std::uint32_t>(all);
  return out + tail;
}

// The archive of `entries` in this order (central directory in the same
// order), with zip64 end records when needed or asked for.
inline std::string BuildZip(const std::vector<ZipEntry>& entries, bool end64 = false) {
  std::string out, central;
  for (const auto& e : entries) {
    const bool raw = !e.raw.empty();
    const std::string data = raw ? e.raw : e.deflate ? Deflate(e.data) : e.data;
    const std::uint64_t size = (raw ? e.rawSize : e.data.size()) + static_cast<std::uint64_t>(e.sizeDelta);
    const std::uint32_t crc =
        (raw ? e.rawCrc
             : static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                static_cast<uInt>(e.data.size())))) ^
        e.crcXor;
    const std::uint16_t flags = static_cast<std::uint16_t>(e.flags | (e.descriptor ? 8 : 0) | 0x800);
    const std::uint16_t method = (raw || e.deflate) ? 8 : 0;
    const std::uint64_t offset = out.size();
    const std::uint16_t version = e.zip64 ? 45 : 20;
    const bool central64 = e.zip64 && !e.descriptor;
    // Local file header.
    Put32(out, 0x04034b50);
    Put16(out, version);
    Put16(out, flags);
    Put16(out, method);
    Put32(out, 0);  // time and date
    Put32(out, e.descriptor ? 0 : crc);
    Put32(out, e.zip64 ? 0xFFFFFFFF : e.descriptor ? 0 : static_cast<std::uint32_t>(data.size()));
    Put32(out, e.zip64 ? 0xFFFFFFFF : e.descriptor ? 0 : static_cast<std::uint32_t>(size));
    Put16(out, static_cast<unsigned>(e.name.size()));
    Put16(out, e.zip64 ? 20 : 0);
    out += e.name;
    if (e.zip64) {
      Put16(out, 1);
      Put16(out, 16);
      Put64(out, e.descriptor ? 0 : size);
      Put64(out, e.descriptor ? 0 : data.size());
    }
    out += data;
    if (e.descriptor) {
      Put32(out, 0x08074b50);
      Put32(out, crc);
      if (e.zip64) {
        Put64(out, data.size());
        Put64(out, size);
      } else {
        Put32(out, static_cast<std::uint32_t>(data.size()));
        Put32(out, static_cast<std::uint32_t>(size));
      }
    }
    // Central directory header.
    Put32(central, 0x02014b50);
    Put16(central, version);
    Put16(central, version);
    Put16(central, flags);
    Put16(central, method);
    Put32(central, 0);
    Put32(central, crc);
    Put32(central, central64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(data.size()));
    Put32(central, central64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(size));
    Put16(central, static_cast<unsigned>(e.name.size()));
    Put16(central, central64 ? 20 : 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0);
    Put32(central, static_cast<std::uint32_t>(offset));  // files below 4 GiB
    central += e.name;
    if (central64) {
      Put16(central, 1);
      Put16(central, 16);
      Put64(central, size);
      Put64(central, data.size());
    }
  }
  const std::uint64_t cdOffset = out.size();
  out += central;
  const bool zip64 = end64 || entries.size() >= 0xFFFF ||
                     std::any_of(entries.begin(), entries.end(), [](const ZipEntry& e) { return e.zip64 && !e.descriptor; });
  if (zip64) {
    const std::uint64_t z64 = out.size();
    Put32(out, 0x06064b50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, central.size());
    Put64(out, cdOffset);
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put64(out, z64);
    Put32(out, 1);
  }
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  const unsigned count = zip64 ? 0xFFFF : static_cast<unsigned>(entries.size());
  Put16(out, count);
  Put16(out, count);
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(cdOffset));
  Put16(out, 0);
  return out;
}

}  // namespace ziptest
