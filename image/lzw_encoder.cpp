#include "image/lzw_encoder.h"

#include <array>
#include <cassert>
#include <cstring>
#include <memory>
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

// Number of bytes equal to `value` at the start of [from, to).
std::size_t RunLength(const std::uint8_t* from, const std::uint8_t* to, std::uint8_t value) {
  const std::uint8_t* p = from;
  const std::uint64_t pattern = 0x0101010101010101ull * value;
  while (to - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t diff = word ^ pattern;
    if (diff != 0) return static_cast<std::size_t>(p - from) + static_cast<std::size_t>(__builtin_ctzll(diff) / 8);
    p += 8;
  }
  while (p != to && *p == value) ++p;
  return static_cast<std::size_t>(p - from);
}

// The encoder's whole state between two pieces of input.
struct TLzwEncoder::TState {
  TState(int minCodeSize, TByteSink& sink) : out(sink), packer(minCodeSize, sink), table(kHashSlots, kEmptySlot) {}

  TByteSink& out;
  TCodePacker packer;
  std::vector<std::uint32_t> table;
  // Charts are mostly long runs of one index. runs[v][k - 1] is the code of
  // the string of k times v for every such string in the table (k = 1 is the
  // root code v). While the current string is such a run and the run goes
  // on, the table lookups would all succeed, so they are skipped and the
  // string grows by as many pixels at once as the table allows. Lookups have
  // no effect on the table, so the output stays the same.
  //
  // Strings leave the table only at a clear, and in one more case: the
  // string "0 0" has the key 0, and a later probe that stops at its slot
  // takes the slot over; runs[0] is then cut back to the root.
  std::array<std::vector<std::uint16_t>, 256> runs;
  // The current string's code (meaningful once a pixel has arrived), and
  // whether it is runLength times runValue (runLength 0: it is not a run of
  // one index).
  std::uint32_t ent = 0;
  std::uint32_t runValue = 0;
  std::size_t runLength = 0;
  bool started = false;
  bool finished = false;

  void ResetRuns() {
    for (int v = 0; v < packer.ClearCode(); ++v) runs[static_cast<std::size_t>(v)].resize(1);
  }
  void Add(const std::uint8_t* pixel, const std::uint8_t* end);
};

TLzwEncoder::TLzwEncoder(int minCodeSize, TByteSink& out) {
  assert(minCodeSize >= 2 && minCodeSize <= 8);
  out.Put(static_cast<std::uint8_t>(minCodeSize));
  state_ = std::make_unique<TState>(minCodeSize, out);
  const int roots = state_->packer.ClearCode();
  for (int v = 0; v < roots; ++v) {
    state_->runs[static_cast<std::size_t>(v)].reserve(64);
    state_->runs[static_cast<std::size_t>(v)].push_back(static_cast<std::uint16_t>(v));
  }
  state_->packer.Emit(state_->packer.ClearCode());
}

TLzwEncoder::~TLzwEncoder() = default;

void TLzwEncoder::Add(std::span<const std::uint8_t> indices) {
  assert(!state_->finished);
  if (indices.empty()) return;
  const std::uint8_t* pixel = indices.data();
  if (!state_->started) {
    state_->started = true;
    state_->ent = *pixel;
    state_->runValue = *pixel;
    state_->runLength = 1;
    ++pixel;
  }
  state_->Add(pixel, indices.data() + indices.size());
}

void TLzwEncoder::TState::Add(const std::uint8_t* pixel, const std::uint8_t* const end) {
  std::uint32_t* const slots = table.data();
  auto holds = [](std::uint32_t slot, std::uint32_t key) { return (slot & kKeyMask) == key && slot != kEmptySlot; };
  while (pixel != end) {
    const std::uint32_t c = *pixel;
    assert(static_cast<int>(c) < packer.ClearCode());

    if (c == runValue && runLength != 0) {
      const std::vector<std::uint16_t>& chain = runs[c];
      if (runLength < chain.size()) {
        const std::size_t room = std::min<std::size_t>(chain.size() - runLength, static_cast<std::size_t>(end - pixel));
        const std::size_t taken = RunLength(pixel, pixel + room, static_cast<std::uint8_t>(c));
        runLength += taken;
        ent = chain[runLength - 1];
        pixel += taken;
        continue;
      }
    }

    ++pixel;
    const std::uint32_t key = (c << 12) + ent;
    int i = static_cast<int>((c << 4) ^ ent);
    std::uint32_t slot = slots[i];
    bool found = holds(slot, key);
    if (!found && slot != kEmptySlot) {
      // Secondary probe: step back by 5119 - i (modulo 5119) until the key
      // turns up or a slot that is free or holds the key 0.
      const int step = i == 0 ? 1 : kHashModulus - i;
      do {
        i -= step;
        if (i < 0) i += kHashModulus;
        slot = slots[i];
        found = holds(slot, key);
      } while (!found && slot != kEmptySlot && (slot & kKeyMask) != 0);
    }
    if (found) {
      ent = slot >> kCodeShift;
      runLength = c == runValue && runLength != 0 ? runLength + 1 : 0;
      continue;
    }

    // The string ent + c is new: send ent, start over from c and give the
    // new string the next code while there is one. (A slot that stopped
    // the probe because it holds the key 0 is taken over.)
    packer.Emit(static_cast<int>(ent));
    if (packer.FreeCode() < kMaxCodes) {
      const auto code = static_cast<std::uint16_t>(packer.TakeFreeCode());
      std::vector<std::uint16_t>& chain = runs[c];
      if (c == runValue && runLength == chain.size()) chain.push_back(code);
      if (slot != kEmptySlot) runs[0].resize(1);  // the string "0 0" is gone
      slots[i] = key | (static_cast<std::uint32_t>(code) << kCodeShift);
    } else {
      std::fill(table.begin(), table.end(), kEmptySlot);
      ResetRuns();
      packer.EmitClear();
    }
    ent = c;
    runValue = c;
    runLength = 1;
  }
}

void TLzwEncoder::Finish() {
  if (state_->finished) return;
  state_->finished = true;
  if (state_->started) state_->packer.Emit(static_cast<int>(state_->ent));
  state_->packer.Emit(state_->packer.EndCode());
  state_->out.Put(kBlockTerminator);
}

void LzwEncode(std::span<const std::uint8_t> indices, int minCodeSize, TByteSink& out) {
  TLzwEncoder encoder(minCodeSize, out);
  encoder.Add(indices);
  encoder.Finish();
}

}  // namespace gif
