#include "image/gif_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "image/gif_format.h"
#include "image/lzw_encoder.h"

void TMemoryGifOutput::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  Bytes.insert(Bytes.end(), bytes, bytes + count);
  ++WriteCount;
}

namespace {

constexpr char kCreditText[] =
    "grafolio chart image\r\n"
    "GIF89a encoder with exact colours\r\n"
    "LZW compressed image data\r\n"
    "made by the grafolio web gateway";
static_assert(sizeof(kCreditText) - 1 < gif::kMaxSubBlock, "the credit comment must fit into one sub-block");

}  // namespace

const std::string_view CreditComment = kCreditText;

namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFFu;

// A colour table in first-seen order. Colours are kept as Cairo stores
// them, 0x00RRGGBB.
class TPalette {
 public:
  int Count() const { return count_; }
  bool Full() const { return count_ == gif::kMaxColors; }
  std::uint32_t Color(int entry) const { return colors_[static_cast<std::size_t>(entry)]; }
  int Add(std::uint32_t rgb) {
    colors_[static_cast<std::size_t>(count_)] = rgb;
    return count_++;
  }

  // The colour table as written: R, G, B per entry, 2^bits entries, the ones
  // beyond Count() black.
  void WriteTable(gif::TByteSink& out, int bits) const {
    std::array<std::uint8_t, 3 * gif::kMaxColors> table{};
    for (std::size_t i = 0; i < static_cast<std::size_t>(count_); ++i) {
      table[3 * i] = static_cast<std::uint8_t>(colors_[i] >> 16);
      table[3 * i + 1] = static_cast<std::uint8_t>(colors_[i] >> 8);
      table[3 * i + 2] = static_cast<std::uint8_t>(colors_[i]);
    }
    out.Put(table.data(), 3u << bits);
  }

 private:
  std::array<std::uint32_t, gif::kMaxColors> colors_{};
  int count_ = 0;
};

// Finds a colour's palette entry without scanning the palette: an
// open-addressed hash (linear probing) from colour to entry. 1024 slots for
// at most 256 colours stay at most a quarter full, which keeps nearly every
// colour in its home slot or the next (and the table within two pages).
class TColorIndex {
 public:
  TColorIndex() { Reset(); }
  void Reset() { keys_.fill(kEmpty); }
  // Holds exactly the colours of `palette`, at their entries.
  void Load(const TPalette& palette) {
    Reset();
    TPalette copy;
    for (int i = 0; i < palette.Count(); ++i) IndexOf(palette.Color(i), copy);
  }

  // Entry of `rgb` in `palette`, appended when new; -1 when the palette is
  // full already.
  int IndexOf(std::uint32_t rgb, TPalette& palette) {
    std::uint32_t slot = Home(rgb);
    if (keys_[slot] == rgb) return entries_[slot];
    while (keys_[slot] != kEmpty) {
      if (keys_[slot] == rgb) return entries_[slot];
      slot = (slot + 1) & (kSlots - 1);
    }
    if (palette.Full()) return -1;
    const int index = palette.Add(rgb);
    keys_[slot] = rgb;
    entries_[slot] = static_cast<std::uint8_t>(index);
    return index;
  }

 private:
  static constexpr int kSlotBits = 10;
  static constexpr std::uint32_t kSlots = 1u << kSlotBits;
  // A colour never has a high byte, so all ones marks an empty slot.
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static std::uint32_t Home(std::uint32_t rgb) { return (rgb * 0x9E3779B1u) >> (32 - kSlotBits); }

  std::array<std::uint32_t, kSlots> keys_;
  std::array<std::uint8_t, kSlots> entries_{};
};

// What the preparation learns of a frame before anything is written.
struct TFrameColors {
  int TransparentIndex = -1;  // -1: the transparent colour does not occur
  int PaletteIndex = 0;       // which palette the frame's indices refer to
};

// Source rows in the order they are sent: top to bottom, or the four
// interlace passes (a pass whose first row lies below the image is empty).
std::vector<int> TransmissionRows(int height, bool interlaced) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  for (int pass = 0; pass < gif::kInterlacePasses; ++pass) {
    for (int y = gif::kInterlaceStart[pass]; y < height; y += gif::kInterlaceStep[pass]) rows.push_back(y);
  }
  return rows;
}

// Turns rows of a frame into palette indices, adding new colours to the
// palette in first-seen order. Charts are runs of equal colours: a pixel
// like the one before it takes its index without a lookup (no colour has the
// high byte set, so the first pixel always looks up), and a run of one pixel
// value is found two pixels per comparison.
class TRowIndexer {
 public:
  TRowIndexer(TPalette& palette, TColorIndex& colorIndex) : palette_(palette), colorIndex_(colorIndex) {}

  // Indexes one row into `out` (Width bytes), or only collects its colours
  // when `out` is null. `seen(rgb, index)` is called at every colour change.
  // False as soon as a colour does not fit into the palette.
  template <typename Seen>
  bool Row(const std::uint32_t* row, int width, std::uint8_t* out, Seen&& seen) {
    for (int x = 0; x < width;) {
      const std::uint32_t pixel = row[x];
      const std::uint32_t rgb = pixel & kRgbMask;
      if (rgb != previous_) {
        const int index = colorIndex_.IndexOf(rgb, palette_);
        if (index < 0) return false;
        seen(rgb, index);
        previous_ = rgb;
        previousIndex_ = static_cast<std::uint8_t>(index);
      }
      int end = x + 1;
      const std::uint64_t pair = (std::uint64_t{pixel} << 32) | pixel;
      for (std::uint64_t two; end + 2 <= width; end += 2) {
        std::memcpy(&two, row + end, sizeof two);
        if (two != pair) break;
      }
      while (end < width && row[end] == pixel) ++end;
      if (out != nullptr) std::memset(out + x, previousIndex_, static_cast<std::size_t>(end - x));
      x = end;
    }
    return true;
  }

 private:
  TPalette& palette_;
  TColorIndex& colorIndex_;
  std::uint32_t previous_ = ~kRgbMask;
  std::uint8_t previousIndex_ = 0;
};

// Adds the frame's new colours to `palette` in first-seen order (rows in
// transmission order) and finds the transparent colour's entry. Fails as soon
// as a 257th colour turns up. Nothing is stored per pixel: the indices are
// made again, a row at a time, as the image data is written.
bool CollectColors(const TFrameInfo& frame, TPalette& palette, TColorIndex& colorIndex, TFrameColors& out) {
  const platform::Bitmap& bitmap = *frame.Bitmap;
  out.TransparentIndex = -1;
  // The transparent colour as Cairo stores it (0x00RRGGBB).
  const std::uint32_t transparent = (static_cast<std::uint32_t>(GetRValue(frame.TransparentColor)) << 16) |
                                    (static_cast<std::uint32_t>(GetGValue(frame.TransparentColor)) << 8) |
                                    GetBValue(frame.TransparentColor);
  bool lookForTransparent = frame.Transparent;
  auto seen = [&](std::uint32_t rgb, int index) {
    if (lookForTransparent && rgb == transparent) {
      out.TransparentIndex = index;
      lookForTransparent = false;
    }
  };
  TRowIndexer indexer(palette, colorIndex);
  for (const int y : TransmissionRows(bitmap.Height(), frame.Interlaced)) {
    if (!indexer.Row(bitmap.Row(y), bitmap.Width(), nullptr, seen)) return false;
  }
  return true;
}

// The frame's image data: its rows as indices of `palette`, which holds all
// of the frame's colours, LZW-compressed a row at a time.
void WriteImageData(const TFrameInfo& frame, TPalette& palette, TColorIndex& colorIndex, int minCodeSize,
                    gif::TByteSink& out) {
  const platform::Bitmap& bitmap = *frame.Bitmap;
  colorIndex.Load(palette);
  TRowIndexer indexer(palette, colorIndex);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(bitmap.Width()));
  gif::TLzwEncoder lzw(minCodeSize, out);
  for (const int y : TransmissionRows(bitmap.Height(), frame.Interlaced)) {
    indexer.Row(bitmap.Row(y), bitmap.Width(), line.data(), [](std::uint32_t, int) {});
    lzw.Add(line);
  }
  lzw.Finish();
}

// Comment extension: 0x21 0xFE, the text in sub-blocks of at most 255 bytes,
// 0x00. Nothing for an empty text.
void WriteComment(gif::TByteSink& out, std::string_view text) {
  if (text.empty()) return;
  out.Put(gif::kExtensionIntroducer);
  out.Put(gif::kCommentLabel);
  while (!text.empty()) {
    const std::size_t length = std::min<std::size_t>(text.size(), gif::kMaxSubBlock);
    out.Put(static_cast<std::uint8_t>(length));
    out.Put(text.data(), length);
    text.remove_prefix(length);
  }
  out.Put(gif::kBlockTerminator);
}

bool FrameIsUsable(const TFrameInfo* frame) {
  if (frame == nullptr || frame->Bitmap == nullptr || frame->Bitmap->Empty()) return false;
  // Positions and the screen size are 16-bit numbers in the file.
  const std::int64_t right = std::int64_t{frame->Left} + frame->Bitmap->Width();
  const std::int64_t bottom = std::int64_t{frame->Top} + frame->Bitmap->Height();
  return frame->Left >= 0 && frame->Top >= 0 && right <= 0xFFFF && bottom <= 0xFFFF;
}

// Delay in hundredths of a second, as the graphic control extension holds it.
std::uint16_t DelayField(std::int32_t milliseconds) {
  return static_cast<std::uint16_t>(std::clamp(milliseconds / 10, 0, 0xFFFF));
}

}  // namespace

bool WriteGIF(TGifOutput& stream, TFrameList& list) {
  if (list.Count < 1 || list.Count > kMaxGifFrames) return false;
  const auto frames = std::span(list.Frames).first(static_cast<std::size_t>(list.Count));
  if (!std::all_of(frames.begin(), frames.end(), FrameIsUsable)) return false;

  int screenWidth = 0;
  int screenHeight = 0;
  for (const TFrameInfo* frame : frames) {
    screenWidth = std::max(screenWidth, frame->Left + frame->Bitmap->Width());
    screenHeight = std::max(screenHeight, frame->Top + frame->Bitmap->Height());
  }

  // Preparation: the colours of every frame are known before anything is
  // written. A shared table collects the colours of all frames; when they do
  // not fit, each frame gets its own table after all.
  std::vector<TFrameColors> indexed(frames.size());
  std::vector<TPalette> palettes;
  bool shared = list.Count == 1 || list.GlobalColorMap;
  std::unique_ptr<TColorIndex> colorIndex;
  try {
    colorIndex = std::make_unique<TColorIndex>();
    if (shared) {
      palettes.resize(1);
      for (std::size_t i = 0; i < frames.size(); ++i) {
        if (CollectColors(*frames[i], palettes[0], *colorIndex, indexed[i])) continue;
        if (!list.GlobalColorMap || i == 0) return false;
        list.GlobalColorMap = false;
        shared = false;
        break;
      }
    }
    if (!shared) {
      palettes.assign(frames.size(), TPalette());
      for (std::size_t i = 0; i < frames.size(); ++i) {
        colorIndex->Reset();
        if (!CollectColors(*frames[i], palettes[i], *colorIndex, indexed[i])) return false;
        indexed[i].PaletteIndex = static_cast<int>(i);
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  gif::TByteSink out([&stream](const std::uint8_t* data, std::size_t count) { stream.Write(data, count); });

  // Header.
  out.Put(gif::kSignature, 3);
  out.Put(gif::kVersion89a, 3);

  // Logical screen descriptor: width, height, flags (global table and its
  // size; colour resolution and sort flag 0), background index 0, aspect 0.
  out.PutWord(static_cast<std::uint16_t>(screenWidth));
  out.PutWord(static_cast<std::uint16_t>(screenHeight));
  const int globalBits = shared ? gif::BitsForColorCount(palettes[0].Count()) : 0;
  out.Put(shared ? static_cast<std::uint8_t>(gif::kScreenGlobalTable | (globalBits - 1)) : std::uint8_t{0});
  out.Put(std::uint8_t{0});
  out.Put(std::uint8_t{0});

  // Global colour table.
  if (shared) palettes[0].WriteTable(out, globalBits);

  // Application extension with the loop count, for animations only.
  if (list.Count > 1) {
    out.Put(gif::kExtensionIntroducer);
    out.Put(gif::kApplicationLabel);
    out.Put(gif::kApplicationBlockSize);
    out.Put(gif::kLoopApplicationId, gif::kApplicationBlockSize);
    out.Put(gif::kLoopSubBlockSize);
    out.Put(gif::kLoopSubBlockId);
    out.PutWord(list.LoopCount);
    out.Put(gif::kBlockTerminator);
  }

  for (std::size_t i = 0; i < frames.size(); ++i) {
    const TFrameInfo& frame = *frames[i];
    const TFrameColors& pixels = indexed[i];
    TPalette& palette = palettes[static_cast<std::size_t>(pixels.PaletteIndex)];
    const int bits = gif::BitsForColorCount(palette.Count());

    WriteComment(out, frame.Comment);

    // Graphic control extension: flags (disposal in bits 2..4, transparent
    // flag in bit 0), delay, transparent index, terminator.
    const int disposal = frame.Disposal <= gif::kMaxDisposal ? frame.Disposal : 0;
    const bool transparent = frame.Transparent && pixels.TransparentIndex >= 0;
    out.Put(gif::kExtensionIntroducer);
    out.Put(gif::kGraphicControlLabel);
    out.Put(gif::kGraphicControlBlockSize);
    out.Put(static_cast<std::uint8_t>((disposal << gif::kControlDisposalShift) |
                                      (transparent ? gif::kControlTransparent : 0)));
    out.PutWord(DelayField(frame.Delay));
    out.Put(static_cast<std::uint8_t>(transparent ? pixels.TransparentIndex : 0));
    out.Put(gif::kBlockTerminator);

    // Image descriptor: position, size, flags (local table and its size,
    // interlace).
    std::uint8_t flags = shared ? 0 : static_cast<std::uint8_t>(gif::kImageLocalTable | (bits - 1));
    if (frame.Interlaced) flags |= gif::kImageInterlaced;
    out.Put(gif::kImageSeparator);
    out.PutWord(static_cast<std::uint16_t>(frame.Left));
    out.PutWord(static_cast<std::uint16_t>(frame.Top));
    out.PutWord(static_cast<std::uint16_t>(frame.Bitmap->Width()));
    out.PutWord(static_cast<std::uint16_t>(frame.Bitmap->Height()));
    out.Put(flags);

    // Local colour table.
    if (!shared) palette.WriteTable(out, bits);

    // Image data; the LZW minimum code size is at least 2.
    WriteImageData(frame, palette, *colorIndex, std::max(bits, 2), out);
  }

  WriteComment(out, CreditComment);
  out.Put(gif::kTrailer);
  out.Flush();
  return true;
}
