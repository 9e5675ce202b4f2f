// GlyphFont: the Chinese font the sample pages are printed in, opened with FreeType and rendered
// to one-bit glyphs, each kept after its first use. Used by the page generator.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace brevis {

// One glyph at one pixel size, thresholded to black and white. Its ink is a list of horizontal
// runs relative to the pen position on the baseline (y grows downwards, so ink above the
// baseline has negative y).
struct GlyphImage {
  struct Run {
    int Y, X0, X1;  // black pixels [X0, X1) on row Y
  };
  std::vector<Run> Runs;
  int Advance = 0;  // pixels from this pen position to the next
  // Tight bounds of the ink, [InkX0, InkX1) x [InkY0, InkY1); all 0 when there is none.
  int InkX0 = 0, InkY0 = 0, InkX1 = 0, InkY1 = 0;
};

class GlyphFont {
 public:
  // Opens the font file (a .ttf or .ttc; the first face is used). Throws std::runtime_error
  // naming the file when FreeType cannot open it.
  explicit GlyphFont(const std::string& path);
  ~GlyphFont();
  GlyphFont(const GlyphFont&) = delete;
  GlyphFont& operator=(const GlyphFont&) = delete;

  // The font the pages use: the file in $BREVISFETCH_FONT when that is set, else WenQuanYi Zen
  // Hei where Debian and other systems install it. Opened on first use and shared; throws
  // std::runtime_error naming the package fonts-wqy-zenhei when no font file is found.
  static GlyphFont& Shared();

  // The glyph of `codePoint` at `pixelSize` pixels to the em. The reference stays valid as long
  // as the font. Throws std::invalid_argument for a character the font has no glyph for.
  // Thread-safe.
  const GlyphImage& Glyph(char32_t codePoint, int pixelSize);

 private:
  struct Library;
  std::unique_ptr<Library> library_;  // FreeType's library and face, guarded by lock_
  std::mutex lock_;
  // Rendered glyphs by (pixel size << 32 | code point), guarded by lock_. The map's nodes never
  // move, so references to its values stay valid.
  std::unordered_map<unsigned long long, GlyphImage> glyphs_;
};

}  // namespace brevis
