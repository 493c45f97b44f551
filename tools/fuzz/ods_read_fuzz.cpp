// libFuzzer target: any bytes read as an ODF package (zip with content.xml)
// and as a flat ODF document, whole and for a chart, end in cells or in the
// reader's Exception. The bytes also go into a well-formed package as its
// content.xml, so that the content parser is reached behind a sound zip.
// Anything else (another exception, a sanitizer report, a hang, a huge
// allocation) is a find.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sysutils.h"
#include "workbook/format_readers.h"
#include "workbook/zip_archive.h"

namespace {

void Attach(TXLSRead& r) {
  r.OnSheet = [](TXLSRead&, const std::string&, int, bool& readIt) { readIt = true; };
  r.OnNumberCell = [](TXLSRead&, int, int, int, double, bool) {};
  r.OnStringCell = [](TXLSRead&, int, int, int, const std::string&, bool) {};
  r.OnBoolCell = [](TXLSRead&, int, int, int, bool, bool) {};
  r.OnErrorCell = [](TXLSRead&, int, int, int, int, bool) {};
  r.OnFormulaCell = [](TXLSRead&, int, int, const std::string&) {};
}

void Put16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A zip holding `data` stored (no CRC check matters: the CRC is computed).
std::string StoredZip(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  crc ^= 0xFFFFFFFF;
  std::string zip;
  Put32(zip, 0x04034b50);
  Put16(zip, 20); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0);
  Put32(zip, crc); Put32(zip, static_cast<std::uint32_t>(size)); Put32(zip, static_cast<std::uint32_t>(size));
  Put16(zip, static_cast<unsigned>(name.size())); Put16(zip, 0);
  zip += name;
  zip.append(reinterpret_cast<const char*>(data), size);
  const std::size_t cd = zip.size();
  Put32(zip, 0x02014b50);
  Put16(zip, 20); Put16(zip, 20); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0);
  Put32(zip, crc); Put32(zip, static_cast<std::uint32_t>(size)); Put32(zip, static_cast<std::uint32_t>(size));
  Put16(zip, static_cast<unsigned>(name.size())); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0);
  Put32(zip, 0); Put32(zip, 0);
  zip += name;
  const std::size_t cdSize = zip.size() - cd;
  Put32(zip, 0x06054b50);
  Put16(zip, 0); Put16(zip, 0); Put16(zip, 1); Put16(zip, 1);
  Put32(zip, static_cast<std::uint32_t>(cdSize)); Put32(zip, static_cast<std::uint32_t>(cd)); Put16(zip, 0);
  return zip;
}

void ReadPackage(std::span<const std::uint8_t> bytes, const workbook::ReadLimits& base) {
  workbook::ReadLimits limits = base;
  TXLSRead events;
  Attach(events);
  try {
    workbook::ZipArchive zip(bytes, limits.budget);
    workbook::ReadOdsPackage(events, zip, limits);
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string wrapped = StoredZip("content.xml", data, size);
  for (const auto& limits : {workbook::ReadLimits::Dump(), workbook::ReadLimits::Chart()}) {
    ReadPackage(bytes, limits);
    ReadPackage({reinterpret_cast<const std::uint8_t*>(wrapped.data()), wrapped.size()}, limits);
    TXLSRead events;
    Attach(events);
    try {
      workbook::ReadFlatOds(events, bytes, limits);
    } catch (const Exception&) {
    }
  }
  return 0;
}
