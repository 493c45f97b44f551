// LZW compression of colour indices into GIF image data, and the byte sink
// the GIF encoder collects its output in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace gif {

// Collects bytes and passes them on to the drain in pieces of at most
// `chunkSize` bytes (a single Put larger than that goes out whole), and on
// Flush. The bytes arrive at the drain in order and unchanged; only the piece
// sizes depend on the chunk size.
class TByteSink {
 public:
  using TDrain = std::function<void(const std::uint8_t* data, std::size_t count)>;

  explicit TByteSink(TDrain drain, std::size_t chunkSize = 64 * 1024);

  void Put(std::uint8_t byte) {
    if (buffer_.size() >= chunkSize_) Flush();
    buffer_.push_back(byte);
  }
  void Put(const void* data, std::size_t count);
  // Little-endian 16-bit number.
  void PutWord(std::uint16_t value) {
    Put(static_cast<std::uint8_t>(value & 0xFF));
    Put(static_cast<std::uint8_t>(value >> 8));
  }
  // Hands everything collected so far to the drain.
  void Flush();

 private:
  TDrain drain_;
  std::size_t chunkSize_;
  std::vector<std::uint8_t> buffer_;
};

// Writes the image data of one GIF image to `out`: the LZW minimum code size
// byte, the compressed codes in data sub-blocks of at most 255 bytes, and the
// zero-length terminating sub-block. The indices may arrive in pieces of any
// size (a row at a time, say): the bytes depend only on the whole sequence.
//
// `minCodeSize` is 2..8 and every index must be below 2^minCodeSize. The
// string table is an open-addressed hash of 5120 slots keyed on
// (pixel << 12) + prefix code; codes grow from minCodeSize + 1 up to 12 bits,
// and a clear code restarts the table once all 4096 codes are in use. The
// output is fully determined by the input: the same indices always give the
// same bytes.
class TLzwEncoder {
 public:
  // Writes the minimum code size and the opening clear code.
  TLzwEncoder(int minCodeSize, TByteSink& out);
  ~TLzwEncoder();
  TLzwEncoder(const TLzwEncoder&) = delete;
  TLzwEncoder& operator=(const TLzwEncoder&) = delete;

  // Encodes the next indices of the image.
  void Add(std::span<const std::uint8_t> indices);
  // Writes the last code, the end code and the terminating sub-block; Add
  // must not be called after it.
  void Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// The whole image data of `indices` at once (TLzwEncoder, one piece).
void LzwEncode(std::span<const std::uint8_t> indices, int minCodeSize, TByteSink& out);

}  // namespace gif
