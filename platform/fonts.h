// Font faces for the drawing surface: FreeType faces loaded straight from the
// Liberation font files through cairo-ft (no fontconfig scan), cached once per
// process and shared by all threads.
#pragma once

#include <cairo.h>

#include <string>
#include <string_view>

struct FT_LibraryRec_;

namespace platform {

// A new FreeType library with the modules a TrueType face needs: the
// TrueType driver and its sfnt and glyph-name modules, the auto-hinter (for
// faces without hinting instructions) and the outline renderers; the
// settings of $FREETYPE_PROPERTIES apply. Unlike FT_Init_FreeType it does
// not start the drivers of a dozen other font formats, which a process that
// draws one chart would pay for in pages touched. Null when it cannot be
// made. The library is never released.
FT_LibraryRec_* NewFontLibrary();

// The font folder: $GRAFOLIO_FONT_DIR when set and not empty, else
// /usr/share/fonts/truetype/liberation2.
std::string FontDirectory();

// File name of the face that stands in for a face name and style:
// "Arial" -> LiberationSans, "Times New Roman" -> LiberationSerif,
// "Courier New" -> LiberationMono (names compared without regard to case and
// surrounding blanks), anything else -> LiberationSans; then "-Regular",
// "-Bold", "-Italic" or "-BoldItalic" and ".ttf".
std::string FontFileName(std::string_view face_name, bool bold, bool italic);

// FontDirectory() and FontFileName() joined.
std::string FontPath(std::string_view face_name, bool bold, bool italic);

// The cairo face for a face name and style, loaded on first use and kept for
// the life of the process (callers must not destroy it). Raises Exception
// "Font file <path> not found" when the file is missing and "Font file
// <path> cannot be loaded" when FreeType rejects it.
cairo_font_face_t* FontFace(std::string_view face_name, bool bold, bool italic);

}  // namespace platform
