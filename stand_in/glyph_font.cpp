// Opens the page font with FreeType and thresholds its anti-aliased glyphs to one bit, which
// gives the crisp edges of a 300 dpi bilevel scan. FreeType stays inside this file.
#include "stand_in/glyph_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace brevis {

namespace {

// Grey levels from this up count as black. Half way keeps the strokes as wide as the outline.
constexpr unsigned kBlackFrom = 128;

// Where WenQuanYi Zen Hei lands on Debian and Ubuntu, then on Fedora and Arch.
constexpr const char* kFontPaths[] = {
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/wqy-zenhei/wqy-zenhei.ttc",
    "/usr/share/fonts/wenquanyi/wqy-zenhei/wqy-zenhei.ttc",
};

std::string FindFontFile() {
  if (const char* chosen = std::getenv("BREVISFETCH_FONT"); chosen != nullptr && *chosen != 0) {
    if (!std::filesystem::is_regular_file(chosen)) {
      throw std::runtime_error(std::string("BREVISFETCH_FONT names no font file: ") + chosen + ".");
    }
    return chosen;
  }
  for (const char* path : kFontPaths) {
    if (std::filesystem::is_regular_file(path)) return path;
  }
  throw std::runtime_error(
      "No font for the sample pages: install the Debian package fonts-wqy-zenhei (WenQuanYi Zen "
      "Hei), or set BREVISFETCH_FONT to a font file with Chinese glyphs.");
}

}  // namespace

struct GlyphFont::Library {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  int pixelSize = 0;  // the size last set on `face`

  ~Library() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

GlyphFont::GlyphFont(const std::string& path) : library_(std::make_unique<Library>()) {
  if (FT_Init_FreeType(&library_->library) != 0) {
    throw std::runtime_error("FreeType cannot start.");
  }
  if (FT_New_Face(library_->library, path.c_str(), 0, &library_->face) != 0) {
    throw std::runtime_error("FreeType cannot open the font " + path + ".");
  }
}

GlyphFont::~GlyphFont() = default;

GlyphFont& GlyphFont::Shared() {
  static GlyphFont font(FindFontFile());
  return font;
}

const GlyphImage& GlyphFont::Glyph(char32_t codePoint, int pixelSize) {
  const unsigned long long key =
      static_cast<unsigned long long>(pixelSize) << 32 | static_cast<unsigned long long>(codePoint);
  const std::lock_guard<std::mutex> guard(lock_);
  if (const auto found = glyphs_.find(key); found != glyphs_.end()) return found->second;

  FT_Face face = library_->face;
  if (library_->pixelSize != pixelSize) {
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
      throw std::invalid_argument("The page font has no size " + std::to_string(pixelSize) + ".");
    }
    library_->pixelSize = pixelSize;
  }
  const FT_UInt index = FT_Get_Char_Index(face, codePoint);
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
  if (index == 0)
    throw std::invalid_argument(std::string("The page font has no glyph for ") + name);
  // Outlines only: the font's embedded bitmaps are for screen sizes.
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0 ||
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
    throw std::runtime_error(std::string("FreeType cannot render ") + name + ".");
  }

  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  GlyphImage glyph;
  glyph.Advance = static_cast<int>((slot->advance.x + 32) >> 6);
  bool inked = false;
  for (unsigned row = 0; row < bitmap.rows; ++row) {
    const unsigned char* grey = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
    const int y = static_cast<int>(row) - slot->bitmap_top;
    for (unsigned col = 0; col < bitmap.width;) {
      if (grey[col] < kBlackFrom) {
        ++col;
        continue;
      }
      const unsigned start = col;
      while (col < bitmap.width && grey[col] >= kBlackFrom) ++col;
      const int x0 = slot->bitmap_left + static_cast<int>(start);
      const int x1 = slot->bitmap_left + static_cast<int>(col);
      glyph.Runs.push_back({y, x0, x1});
      if (!inked) {
        glyph.InkX0 = x0;
        glyph.InkX1 = x1;
        glyph.InkY0 = y;
        inked = true;
      }
      glyph.InkX0 = std::min(glyph.InkX0, x0);
      glyph.InkX1 = std::max(glyph.InkX1, x1);
      glyph.InkY1 = y + 1;
    }
  }
  return glyphs_.emplace(key, std::move(glyph)).first->second;
}

}  // namespace brevis
