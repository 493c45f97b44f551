#include "platform/fonts.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/sysutils.h"

// FreeType's module classes. A FreeType linked from its static archive has
// them (FT_Init_FreeType pulls them in); the shared library does not export
// them, and then they are null and FT_Init_FreeType starts all modules.
extern "C" {
extern const FT_Module_Class autofit_module_class __attribute__((weak));
extern const FT_Module_Class tt_driver_class __attribute__((weak));
extern const FT_Module_Class psnames_module_class __attribute__((weak));
extern const FT_Module_Class sfnt_module_class __attribute__((weak));
extern const FT_Module_Class ft_smooth_renderer_class __attribute__((weak));
extern const FT_Module_Class ft_raster1_renderer_class __attribute__((weak));
}

namespace platform {
namespace {

std::string Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The loaded faces, keyed by file path. FreeType's library object and the
// faces are shared by every thread; the mutex guards loading (FT_New_Face
// needs the library exclusively), while cairo serialises its own use of a
// face. The cache is never destroyed: cairo keeps scaled fonts of these
// faces in its own process-wide caches until exit, so tearing FreeType down
// from a static destructor could pull faces from under them.
class FaceCache {
 public:
  cairo_font_face_t* Get(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = faces_.find(path); it != faces_.end()) return it->second;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw Exception("Font file " + path + " not found");
    }
    if (!library_ && (library_ = NewFontLibrary()) == nullptr) throw Exception("Font engine cannot be started");
    FT_Face face = nullptr;
    if (FT_New_Face(library_, path.c_str(), 0, &face) != 0) {
      throw Exception("Font file " + path + " cannot be loaded");
    }
    cairo_font_face_t* cairo_face = cairo_ft_font_face_create_for_ft_face(face, 0);
    // The FreeType face lives as long as the cairo face that uses it.
    static const cairo_user_data_key_t kFaceKey{};
    if (cairo_font_face_status(cairo_face) != CAIRO_STATUS_SUCCESS ||
        cairo_font_face_set_user_data(cairo_face, &kFaceKey, face,
                                      [](void* p) { FT_Done_Face(static_cast<FT_Face>(p)); }) !=
            CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(cairo_face);
      FT_Done_Face(face);
      throw Exception("Font file " + path + " cannot be loaded");
    }
    faces_.emplace(path, cairo_face);
    return cairo_face;
  }

 private:
  std::mutex mutex_;
  FT_Library library_ = nullptr;
  std::map<std::string, cairo_font_face_t*> faces_;
};

FaceCache& Cache() {
  static FaceCache* cache = new FaceCache;  // lives until the process ends, see above
  return *cache;
}

}  // namespace

FT_Library NewFontLibrary() {
  // FreeType's own allocator does the same: malloc, realloc and free.
  static FT_MemoryRec_ memory{
      nullptr, [](FT_Memory, long size) { return std::malloc(static_cast<std::size_t>(size)); },
      [](FT_Memory, void* block) { std::free(block); },
      [](FT_Memory, long, long size, void* block) { return std::realloc(block, static_cast<std::size_t>(size)); }};
  // In the order FreeType's default module list has them.
  const std::initializer_list<const FT_Module_Class*> modules = {
      &autofit_module_class, &tt_driver_class,          &psnames_module_class,
      &sfnt_module_class,    &ft_smooth_renderer_class, &ft_raster1_renderer_class};
  FT_Library library = nullptr;
  if (std::find(modules.begin(), modules.end(), nullptr) != modules.end()) {
    return FT_Init_FreeType(&library) == 0 ? library : nullptr;
  }
  if (FT_New_Library(&memory, &library) != 0) return nullptr;
  for (const FT_Module_Class* module : modules) {
    if (FT_Add_Module(library, module) != 0) {
      FT_Done_Library(library);
      return nullptr;
    }
  }
  FT_Set_Default_Properties(library);
  return library;
}

std::string FontDirectory() {
  const char* dir = std::getenv("GRAFOLIO_FONT_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/usr/share/fonts/truetype/liberation2";
}

std::string FontFileName(std::string_view face_name, bool bold, bool italic) {
  const std::string name = Trimmed(face_name);
  std::string file = "LiberationSans";
  if (name == "times new roman") {
    file = "LiberationSerif";
  } else if (name == "courier new") {
    file = "LiberationMono";
  }
  if (bold && italic) {
    file += "-BoldItalic";
  } else if (bold) {
    file += "-Bold";
  } else if (italic) {
    file += "-Italic";
  } else {
    file += "-Regular";
  }
  return file + ".ttf";
}

std::string FontPath(std::string_view face_name, bool bold, bool italic) {
  std::string dir = FontDirectory();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + FontFileName(face_name, bold, italic);
}

cairo_font_face_t* FontFace(std::string_view face_name, bool bold, bool italic) {
  return Cache().Get(FontPath(face_name, bold, italic));
}

}  // namespace platform
