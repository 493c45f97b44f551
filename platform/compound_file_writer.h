// Writer of the Compound File Binary Format (version 3, 512-byte sectors):
// a root storage holding named streams, as BIFF5 workbooks need ("Book").
// Streams below 4096 bytes go into the mini stream (64-byte mini sectors),
// larger ones into regular sectors; the FAT grows through DIFAT sectors when
// it needs more than the header's 109 entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class CompoundFileWriter {
 public:
  // Adds a stream to the root storage. Names are UTF-8, at most 31 UTF-16
  // units, unique without regard to case; a bad or repeated name raises
  // CompoundFileError.
  void AddStream(const std::string& name, std::vector<std::uint8_t> data);

  // The whole container.
  std::vector<std::uint8_t> Build() const;

 private:
  struct Stream {
    std::u16string name;
    std::vector<std::uint8_t> data;
  };
  std::vector<Stream> streams_;
};

}  // namespace platform
