#include "platform/mono_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/fonts.h"
#include "platform/sysutils.h"

namespace platform {
namespace {

// cairo's load flags for unsmoothed, fully hinted glyphs with hinted metrics.
constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO | FT_LOAD_IGNORE_GLOBAL_ADVANCE_WIDTH;

// What one face keeps before it starts afresh: the sizes and glyph bytes of
// a chart's few fonts are far below this; a resident server that meets many
// sizes or scripts stays bounded.
constexpr std::size_t kMaxSizes = 16;
constexpr std::size_t kMaxGlyphBytes = 8u << 20;

// The glyph index as fontconfig's lookup, which cairo uses, finds it: the
// selected charmap first, then the other of Unicode and MS Symbol, and in a
// symbol charmap U+F000.. for code points below 0x100.
FT_UInt CharIndex(FT_Face face, char32_t ch) {
  static constexpr std::array<FT_Encoding, 2> kEncodings{FT_ENCODING_UNICODE, FT_ENCODING_MS_SYMBOL};
  std::size_t initial = 0;
  if (face->charmap != nullptr) {
    while (initial < kEncodings.size() && kEncodings[initial] != face->charmap->encoding) ++initial;
    if (initial == kEncodings.size()) initial = 0;
  }
  for (std::size_t offset = 0; offset < kEncodings.size(); ++offset) {
    const FT_Encoding encoding = kEncodings[(initial + offset) % kEncodings.size()];
    if ((face->charmap == nullptr || face->charmap->encoding != encoding) && FT_Select_Charmap(face, encoding) != 0) {
      continue;
    }
    if (const FT_UInt index = FT_Get_Char_Index(face, ch)) return index;
    if (ch < 0x100 && face->charmap != nullptr && face->charmap->encoding == FT_ENCODING_MS_SYMBOL) {
      if (const FT_UInt index = FT_Get_Char_Index(face, ch + 0xF000)) return index;
    }
  }
  return 0;
}

double FromFixed26(FT_Pos v) { return static_cast<double>(v) / 64.0; }

class SizedFont final : public MonoFont {
 public:
  SizedFont(FT_Face face, FT_Size size, int pixels, std::size_t& glyph_bytes)
      : face_(face), size_(size), pixels_(pixels), glyph_bytes_(glyph_bytes) {
    // cairo's font extents: the size's metrics scaled to the unit em and back.
    const double scale = pixels;
    ascent_ = static_cast<int>(std::lround(FromFixed26(size->metrics.ascender) * (1 / scale) * scale));
    descent_ = static_cast<int>(std::lround(FromFixed26(-size->metrics.descender) * (1 / scale) * scale));
  }
  ~SizedFont() override { FT_Done_Size(size_); }
  SizedFont(const SizedFont&) = delete;
  SizedFont& operator=(const SizedFont&) = delete;

  int Ascent() const override { return ascent_; }
  int Descent() const override { return descent_; }

  const MonoGlyph& Glyph(char32_t ch) override {
    std::unique_ptr<MonoGlyph>& slot = ch < latin_.size() ? latin_[ch] : others_[ch];
    if (!slot) {
      slot = Load(ch);
      glyph_bytes_ += sizeof(MonoGlyph) + slot->Bits.size() + (ch < latin_.size() ? 0 : 4 * sizeof(void*));
    }
    return *slot;
  }

 private:
  std::unique_ptr<MonoGlyph> Load(char32_t ch) {
    auto glyph = std::make_unique<MonoGlyph>();
    FT_Activate_Size(size_);
    // A glyph FreeType cannot load (a damaged font) is drawn as nothing.
    if (FT_Load_Glyph(face_, CharIndex(face_, ch), kLoadFlags) != 0) return glyph;
    FT_GlyphSlot slot = face_->glyph;
    const FT_Glyph_Metrics& m = slot->metrics;
    glyph->Advance = static_cast<int>(((m.horiAdvance + 32) & -64) / 64);
    glyph->BoxLeft = static_cast<int>((m.horiBearingX & -64) / 64);
    glyph->BoxRight = static_cast<int>(((m.horiBearingX + m.width + 63) & -64) / 64);
    glyph->BoxTop = static_cast<int>((-m.horiBearingY & -64) / 64);
    glyph->BoxBottom = static_cast<int>(((-m.horiBearingY + m.height + 63) & -64) / 64);
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      // An outline whose pixel-rounded box is empty has no image.
      FT_BBox box;
      FT_Outline_Get_CBox(&slot->outline, &box);
      const FT_Pos w = ((box.xMax + 63) & -64) - (box.xMin & -64);
      const FT_Pos h = ((box.yMax + 63) & -64) - (box.yMin & -64);
      if (w == 0 || h == 0) return glyph;
    }
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.width == 0 || bitmap.rows == 0) return glyph;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO) {
      glyph->Mono = false;
      return glyph;
    }
    glyph->Left = slot->bitmap_left;
    glyph->Top = -slot->bitmap_top;
    glyph->Width = static_cast<int>(bitmap.width);
    glyph->Rows = static_cast<int>(bitmap.rows);
    const std::size_t row_bytes = (bitmap.width + 7) / 8;
    glyph->Bits.resize(row_bytes * bitmap.rows);
    for (unsigned y = 0; y < bitmap.rows; ++y) {
      // A negative pitch lists the rows bottom up from the buffer's start.
      const std::ptrdiff_t row = bitmap.pitch >= 0 ? static_cast<std::ptrdiff_t>(y) : static_cast<std::ptrdiff_t>(bitmap.rows - 1 - y);
      const unsigned char* from = bitmap.buffer + row * std::abs(bitmap.pitch);
      std::copy_n(from, row_bytes, glyph->Bits.begin() + static_cast<std::ptrdiff_t>(y * row_bytes));
    }
    return glyph;
  }

  FT_Face face_;
  FT_Size size_;
  int pixels_;
  std::size_t& glyph_bytes_;
  int ascent_ = 0;
  int descent_ = 0;
  std::array<std::unique_ptr<MonoGlyph>, 256> latin_{};
  std::unordered_map<char32_t, std::unique_ptr<MonoGlyph>> others_;
};

// One font file: its FreeType face and the sizes made of it. The lock
// guards the face, its sizes and their glyphs.
struct Face {
  std::mutex lock;
  FT_Face face = nullptr;
  std::map<int, std::unique_ptr<SizedFont>> sizes;
  std::size_t glyph_bytes = 0;

  ~Face() {
    sizes.clear();
    if (face != nullptr) FT_Done_Face(face);
  }

  SizedFont& Sized(const std::string& path, int pixels) {
    // Nobody holds a glyph between calls: starting afresh is safe here.
    if (glyph_bytes > kMaxGlyphBytes) {
      sizes.clear();
      glyph_bytes = 0;
    }
    if (auto it = sizes.find(pixels); it != sizes.end()) return *it->second;
    if (sizes.size() >= kMaxSizes) {
      sizes.clear();
      glyph_bytes = 0;
    }
    FT_Size size = nullptr;
    if (FT_New_Size(face, &size) != 0) throw Exception("Font file " + path + " cannot be loaded");
    if (FT_Activate_Size(size) != 0 || FT_Set_Char_Size(face, pixels * 64, pixels * 64, 0, 0) != 0) {
      FT_Done_Size(size);
      throw Exception("Font file " + path + " cannot be loaded");
    }
    return *sizes.emplace(pixels, std::make_unique<SizedFont>(face, size, pixels, glyph_bytes)).first->second;
  }
};

// The faces by file path. The library and the faces live until the process
// ends; loading a face needs the library exclusively.
class Faces {
 public:
  Face& Get(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto it = faces_.find(path); it != faces_.end()) return *it->second;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw Exception("Font file " + path + " not found");
    if (library_ == nullptr && (library_ = NewFontLibrary()) == nullptr) throw Exception("Font engine cannot be started");
    auto face = std::make_unique<Face>();
    if (FT_New_Face(library_, path.c_str(), 0, &face->face) != 0) {
      face->face = nullptr;
      throw Exception("Font file " + path + " cannot be loaded");
    }
    return *faces_.emplace(path, std::move(face)).first->second;
  }

 private:
  std::mutex lock_;
  FT_Library library_ = nullptr;
  std::map<std::string, std::unique_ptr<Face>> faces_;
};

Faces& AllFaces() {
  static Faces* faces = new Faces;  // lives until the process ends
  return *faces;
}

}  // namespace

void WithMonoFont(const std::string& path, int pixel_height, const std::function<void(MonoFont&)>& use) {
  Face& face = AllFaces().Get(path);
  std::lock_guard<std::mutex> guard(face.lock);
  use(face.Sized(path, std::clamp(pixel_height, 1, 1000)));
}

}  // namespace platform
