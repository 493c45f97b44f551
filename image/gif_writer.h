// The GIF89a encoder: writes one or more bitmaps as a GIF file with exact
// colours (no quantising: every distinct colour of a frame is one palette
// entry, so a frame holds at most 256 colours).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bitmap.h"
#include "platform/color.h"

// Where the encoder writes. Only writing is needed: the encoder never seeks
// or reads back. Write may throw; the exception then leaves WriteGIF.
class TGifOutput {
 public:
  virtual ~TGifOutput() = default;
  virtual void Write(const void* buffer, std::size_t count) = 0;
};

// Collects the written bytes in memory (tests and tools).
class TMemoryGifOutput : public TGifOutput {
 public:
  void Write(const void* buffer, std::size_t count) override;

  std::vector<std::uint8_t> Bytes;
  int WriteCount = 0;  // number of Write calls
};

// One frame of the image.
struct TFrameInfo {
  // The frame's picture, not owned; its width and height are the frame's size.
  const platform::Bitmap* Bitmap = nullptr;
  // Position on the logical screen; both must lie in 0..65535 together with
  // the bitmap's size.
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  // Kept for the caller; the encoder takes the size from the bitmap.
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // Milliseconds; written in hundredths of a second (Delay div 10).
  std::int32_t Delay = 0;
  // Send the rows in the four-pass interlaced order.
  bool Interlaced = false;
  // Mark TransparentColor (0x00BBGGRR) as transparent when the frame uses it.
  bool Transparent = false;
  TColor TransparentColor = 0;
  // Disposal method 0..3; any other value is written as 0.
  std::uint8_t Disposal = 0;
  // Comment extension written before the frame; empty means none.
  std::string Comment;
};

inline constexpr int kMaxGifFrames = 256;

// What WriteGIF is given. Frames[0 .. Count-1] are used.
struct TFrameList {
  std::int32_t Count = 0;
  std::array<const TFrameInfo*, kMaxGifFrames> Frames{};
  // Loop count of an animation (written only when Count > 1; 0 loops forever).
  std::uint16_t LoopCount = 0;
  // One colour table shared by all frames. A single frame always gets a
  // shared table. WriteGIF clears this flag when the frames together hold more
  // than 256 colours and falls back to one table per frame.
  bool GlobalColorMap = false;
};

// The fixed comment written at the end of every file: four plain-ASCII lines
// joined by CR LF, shorter than 255 bytes.
extern const std::string_view CreditComment;

// Writes the frames of `list` to `stream` as one GIF89a file and returns true
// when the whole file, trailer included, was written.
//
// Returns false, having written nothing, when
// - Count lies outside 1..256, a frame or its bitmap is missing or the bitmap
//   has no pixels,
// - a frame position is negative or the frame reaches beyond 65535 pixels,
// - a frame holds more than 256 distinct colours (with a shared table: the
//   first frame alone does; when later frames push a shared table beyond 256
//   colours every frame gets its own table instead, see GlobalColorMap).
// Every frame is converted to palette indices before the first byte goes
// out, so a failure never leaves a partial file in the stream.
//
// The bytes are handed to the stream in pieces of up to 64 KiB.
bool WriteGIF(TGifOutput& stream, TFrameList& list);
