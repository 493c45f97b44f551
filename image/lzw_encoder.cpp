#include "image/lzw_encoder.h"

#include <array>
#include <cassert>
#include <cstring>
#include <utility>

#include "image/gif_format.h"

namespace gif {

TByteSink::TByteSink(TDrain drain, std::size_t chunkSize)
    : drain_(std::move(drain)), chunkSize_(chunkSize == 0 ? 1 : chunkSize) {
  buffer_.reserve(chunkSize_);
}

void TByteSink::Put(const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + count > chunkSize_) Flush();
  buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void TByteSink::Flush() {
  if (buffer_.empty()) return;
  drain_(buffer_.data(), buffer_.size());
  buffer_.clear();
}

namespace {

// The string table: 5120 slots are allocated, 5119 (a prime, so that the
// secondary probe visits every slot) take part in the probe arithmetic.
constexpr int kHashSlots = 5120;
constexpr int kHashModulus = 5119;

// Packs codes least significant bit first into data sub-blocks.
class TCodePacker {
 public:
  TCodePacker(int minCodeSize, TByteSink& out)
      : out_(out),
        initialBits_(minCodeSize + 1),
        bits_(initialBits_),
        maxCode_((1 << bits_) - 1),
        clearCode_(1 << minCodeSize),
        endCode_(clearCode_ + 1),
        freeCode_(clearCode_ + 2) {}

  int ClearCode() const { return clearCode_; }
  int EndCode() const { return endCode_; }
  int FreeCode() const { return freeCode_; }
  int TakeFreeCode() { return freeCode_++; }

  // Emits the clear code at the current width; the codes after it start
  // again at the initial width with an empty table.
  void EmitClear() {
    freeCode_ = clearCode_ + 2;
    clearPending_ = true;
    Emit(clearCode_);
  }

  void Emit(int code) {
    accumulator_ &= (1u << accumulatorBits_) - 1;
    accumulator_ |= static_cast<std::uint32_t>(code) << accumulatorBits_;
    accumulatorBits_ += bits_;
    while (accumulatorBits_ >= 8) {
      PutByte(static_cast<std::uint8_t>(accumulator_));
      accumulator_ >>= 8;
      accumulatorBits_ -= 8;
    }

    // The width changes after the code that made it necessary went out.
    if (clearPending_) {
      clearPending_ = false;
      bits_ = initialBits_;
      maxCode_ = (1 << bits_) - 1;
    } else if (freeCode_ > maxCode_) {
      ++bits_;
      maxCode_ = bits_ == kMaxCodeBits ? kMaxCodes : (1 << bits_) - 1;
    }

    if (code == endCode_) {
      while (accumulatorBits_ > 0) {
        PutByte(static_cast<std::uint8_t>(accumulator_));
        accumulator_ >>= 8;
        accumulatorBits_ -= 8;
      }
      accumulator_ = 0;
      accumulatorBits_ = 0;
      FlushBlock();
    }
  }

 private:
  void PutByte(std::uint8_t byte) {
    if (blockLength_ == kMaxSubBlock) FlushBlock();
    block_[1 + blockLength_++] = byte;
  }

  // Data sub-block: length byte, then the bytes.
  void FlushBlock() {
    if (blockLength_ == 0) return;
    block_[0] = static_cast<std::uint8_t>(blockLength_);
    out_.Put(block_.data(), static_cast<std::size_t>(blockLength_) + 1);
    blockLength_ = 0;
  }

  TByteSink& out_;
  const int initialBits_;
  int bits_;
  int maxCode_;
  const int clearCode_;
  const int endCode_;
  int freeCode_;
  bool clearPending_ = false;
  std::uint32_t accumulator_ = 0;
  int accumulatorBits_ = 0;
  std::array<std::uint8_t, 1 + kMaxSubBlock> block_{};
  int blockLength_ = 0;
};

}  // namespace

// One slot of the string table holds the string's key, (pixel << 12) +
// prefix code, in its low 20 bits and the string's code in its high 12 bits,
// so that a lookup is a single load. kEmptySlot marks a free slot; no string
// is ever stored with it (its key would need the prefix code 4095, and no
// string gets a code after 4095).
constexpr std::uint32_t kKeyMask = 0xFFFFF;
constexpr int kCodeShift = 20;
constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;

void LzwEncode(std::span<const std::uint8_t> indices, int minCodeSize, TByteSink& out) {
  assert(minCodeSize >= 2 && minCodeSize <= 8);
  out.Put(static_cast<std::uint8_t>(minCodeSize));

  TCodePacker packer(minCodeSize, out);
  std::vector<std::uint32_t> table(kHashSlots, kEmptySlot);
  std::uint32_t* const slots = table.data();
  auto holds = [](std::uint32_t slot, std::uint32_t key) { return (slot & kKeyMask) == key && slot != kEmptySlot; };

  packer.Emit(packer.ClearCode());
  if (!indices.empty()) {
    std::uint32_t ent = indices[0];
    const std::uint8_t* pixel = indices.data() + 1;
    const std::uint8_t* const end = indices.data() + indices.size();
    for (; pixel != end; ++pixel) {
      const std::uint32_t c = *pixel;
      assert(static_cast<int>(c) < packer.ClearCode());
      const std::uint32_t key = (c << 12) + ent;
      int i = static_cast<int>((c << 4) ^ ent);
      std::uint32_t slot = slots[i];
      if (holds(slot, key)) {
        ent = slot >> kCodeShift;
        continue;
      }
      if (slot != kEmptySlot) {
        // Secondary probe: step back by 5119 - i (modulo 5119) until the key
        // turns up or a slot that is free or holds the key 0.
        const int step = i == 0 ? 1 : kHashModulus - i;
        bool found = false;
        do {
          i -= step;
          if (i < 0) i += kHashModulus;
          slot = slots[i];
          if (holds(slot, key)) {
            found = true;
            break;
          }
        } while (slot != kEmptySlot && (slot & kKeyMask) != 0);
        if (found) {
          ent = slot >> kCodeShift;
          continue;
        }
      }
      // The string ent + c is new: send ent, start over from c and give the
      // new string the next code while there is one. (A slot that stopped
      // the probe because it holds the key 0 is taken over.)
      packer.Emit(static_cast<int>(ent));
      ent = c;
      if (packer.FreeCode() < kMaxCodes) {
        slots[i] = key | (static_cast<std::uint32_t>(packer.TakeFreeCode()) << kCodeShift);
      } else {
        std::fill(table.begin(), table.end(), kEmptySlot);
        packer.EmitClear();
      }
    }
    packer.Emit(static_cast<int>(ent));
  }
  packer.Emit(packer.EndCode());
  out.Put(kBlockTerminator);
}

}  // namespace gif
