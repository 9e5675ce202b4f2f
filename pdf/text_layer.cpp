// The text layer: one invisible text object per recognised line, stretched over the line's box.
#include "pdf/text_layer.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "pdf/pdf_format.h"
#include "pdf/text_layer_font.h"

namespace brevis {
namespace {

// The widest horizontal scaling of a line, in percent.
constexpr long double kMaxScaling = 150.0L;

constexpr char kFontResource[] = "FTL";
// The font's descent as a share of the font size (text_layer_font.cpp: -120 of 1000 units).
constexpr long double kDescentShare = 0.12L;
constexpr char kVisibleColour[] = "0 0.35 1 rg";

std::string HexString(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "<";
  for (const char byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text + ">";
}

}  // namespace

TextLayerMode TextLayerModeFromEnvironment() {
  const char* value = std::getenv("BREVISFETCH_SHOW_TEXT");
  return value != nullptr && std::string_view(value) == "1" ? tlVisible : tlInvisible;
}

void ShowTextLayer(PdfPage& page, TextLayerFont& font, const std::vector<TextLine>& lines,
                   int32_t imageWidth, int32_t imageHeight, const PdfImageArea& area,
                   TextLayerMode mode) {
  if (imageWidth <= 0 || imageHeight <= 0) {
    throw std::logic_error("A text layer needs an image size.");
  }
  // The image's box in user space, as PdfPage::ShowImage places it.
  const long double left = page.ConvertX(static_cast<float>(area.X));
  const long double top = page.ConvertY(static_cast<float>(area.Y));
  const long double scaleX =
      page.ConvertX(static_cast<float>(area.Width)) / static_cast<long double>(imageWidth);
  const long double scaleY =
      page.ConvertX(static_cast<float>(area.Height)) / static_cast<long double>(imageHeight);

  bool started = false;
  for (const TextLine& line : lines) {
    if (line.Text.empty() || !(line.X1 > line.X0) || !(line.Y1 > line.Y0)) continue;
    const TextLayerFont::Encoded encoded = font.Encode(line.Text);
    if (encoded.Advance <= 0) continue;
    if (!started) {
      page.AddFontResource(kFontResource, font.Object());
      page.GStateSave();
      page.AppendContent(mode == tlVisible ? std::string(kVisibleColour) + "\n0 Tr" : "3 Tr");
      started = true;
    }
    const long double size = (line.Y1 - line.Y0) * scaleY;
    const long double width = (line.X1 - line.X0) * scaleX;
    const long double x = left + line.X0 * scaleX;
    const long double baseline = top - line.Y1 * scaleY + kDescentShare * size;
    // The advance at 100 % is size * Advance / 1000; Tz takes it to the box's width. A line whose
    // text is far narrower than its box (a row of items far apart, joined by blanks) is not
    // stretched beyond kMaxScaling: blanks wider than a character part a line in some readers.
    const long double scaling =
        std::min(kMaxScaling, 100.0L * width * 1000.0L / (size * encoded.Advance));
    page.AppendContent("BT\n/" + std::string(kFontResource) + " " + FormatContentNumber(size) +
                       " Tf\n" + FormatContentNumber(scaling) + " Tz\n1 0 0 1 " +
                       FormatContentNumber(x) + " " + FormatContentNumber(baseline) + " Tm\n" +
                       HexString(encoded.Codes) + " Tj\nET");
  }
  if (started) page.GStateRestore();
}

}  // namespace brevis
