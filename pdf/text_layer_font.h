// The font of the text layer (text_layer.h): a Type 0 font with Identity-H encoding over one
// CIDFontType2 font whose small TrueType program is made here, with widths for Chinese and Latin
// text and a ToUnicode map, so that every reader gives back the exact characters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/pdf_objects.h"

namespace brevis {

class PdfDocument;

// Codes and CIDs are the same two-byte numbers (Identity-H). A character of the Basic
// Multilingual Plane is written as its UTF-16 code unit, so the ToUnicode map is the identity
// for them; C0 and C1 controls are written as a space. A character beyond it takes a CID from
// the surrogate range D800-DFFF, which no character of the plane uses: the first such character
// of the document gets D800, the next new one D801, and so on, and the ToUnicode map gives back
// its surrogate pair. Once those 2048 are taken, and for an unpaired surrogate, U+FFFD is written.
//
// Widths, in thousandths of the font size: 1000 for ideographs, kana, hangul, CJK punctuation,
// full-width forms, the quotation marks, dash and ellipsis of Chinese text and every character
// beyond the plane (nearly all of them ideographs); 500 for everything else. They are close to
// the proportions of printed Chinese text with Latin letters and digits, so once a line is
// stretched to its box the characters lie near their printed places. One character's advance
// ends exactly where the next one starts: readers see no gap inside a word and break words only
// at written spaces.
//
// The TrueType program has three glyphs: 0 empty (.notdef, also used for spaces), 1 a frame 500
// units wide and 2 one 1000 units wide, each drawn just inside its cell (ascent 880, descent
// -120). The frames are never seen in invisible text; shown text (tlVisible) draws them, so a
// person can see each character's cell on the picture.
class TextLayerFont {
 public:
  // Nothing is added to `document` until Object is first called. The document outlives this.
  explicit TextLayerFont(PdfDocument& document);
  TextLayerFont(const TextLayerFont&) = delete;
  TextLayerFont& operator=(const TextLayerFont&) = delete;

  // The indirect Type 0 font dictionary; the first call adds the font's objects to the
  // document's object table (Type 0 and CIDFontType2 dictionaries, font descriptor, font
  // program, CIDToGIDMap and ToUnicode streams). Throws PdfError when Flate fails.
  const PdfObject& Object();

  struct Encoded {
    std::string Codes;    // two bytes per character, high byte first
    int64_t Advance = 0;  // sum of the widths, thousandths of the font size
  };
  // The codes of `text` under the scheme above. A character beyond the plane that has no CID yet
  // gets one, and the ToUnicode map is rewritten (after Object has been called).
  Encoded Encode(std::u16string_view text);

  // The width of a CID, in thousandths of the font size.
  static int32_t Width(uint16_t cid);
  // The bytes of the TrueType program.
  static std::vector<uint8_t> FontProgram();

 private:
  uint16_t CidOf(char32_t character);
  void WriteToUnicode();

  PdfDocument& document_;
  PdfDictionaryObject* type0_ = nullptr;    // owned by the document's object table
  PdfStreamObject* toUnicode_ = nullptr;    // owned by the document's object table
  std::map<char32_t, uint16_t> beyondBmp_;  // character -> CID in D800-DFFF
};

}  // namespace brevis
