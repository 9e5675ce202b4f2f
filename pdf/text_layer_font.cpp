// The text layer's font: its TrueType program, its PDF objects and its character codes.
#include "pdf/text_layer_font.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>

#include "common/text.h"
#include "pdf/flate.h"
#include "pdf/pdf_document.h"

namespace brevis {
namespace {

constexpr char kFontName[] = "BrevisTextLayer";
constexpr int32_t kNarrow = 500;
constexpr int32_t kWide = 1000;
constexpr int kAscent = 880;
constexpr int kDescent = -120;
constexpr uint16_t kSpace = 0x20;
constexpr uint16_t kReplacement = 0xFFFD;
constexpr uint16_t kFirstBeyondCid = 0xD800;
constexpr uint16_t kLastBeyondCid = 0xDFFF;

struct CidRange {
  uint16_t first, last;
};

// The CIDs of width 1000, in ascending order.
constexpr CidRange kWideRanges[] = {
    {0x1100, 0x115F},  // Hangul initial consonants
    {0x2014, 0x2014},  // em dash (doubled as the Chinese dash)
    {0x2018, 0x201F},  // quotation marks
    {0x2026, 0x2026},  // ellipsis
    {0x2E80, 0x303E},  // CJK radicals, ideographic description, CJK symbols and punctuation
    {0x3041, 0xA4CF},  // kana, bopomofo, CJK strokes and compatibility, ideographs, Yi
    {0xAC00, 0xD7A3},  // Hangul syllables
    {0xD800, 0xDFFF},  // characters beyond the plane, by the CIDs given them
    {0xF900, 0xFAFF},  // compatibility ideographs
    {0xFE10, 0xFE19},  // vertical forms
    {0xFE30, 0xFE6F},  // CJK compatibility forms, small form variants
    {0xFF01, 0xFF60},  // full-width forms
    {0xFFE0, 0xFFE6},  // full-width signs
};
constexpr bool Ascending() {
  for (std::size_t k = 0; k < std::size(kWideRanges); ++k) {
    if (kWideRanges[k].first > kWideRanges[k].last) return false;
    if (k > 0 && kWideRanges[k - 1].last >= kWideRanges[k].first) return false;
  }
  return true;
}
static_assert(Ascending());

// Glyph numbers of the TrueType program.
constexpr uint16_t kEmptyGlyph = 0;
constexpr uint16_t kNarrowGlyph = 1;
constexpr uint16_t kWideGlyph = 2;

bool IsBlank(uint16_t cid) { return cid == 0x20 || cid == 0xA0 || cid == 0x3000; }

uint16_t GlyphOf(uint16_t cid) {
  if (IsBlank(cid)) return kEmptyGlyph;
  return TextLayerFont::Width(cid) == kWide ? kWideGlyph : kNarrowGlyph;
}

// Big-endian bytes of the TrueType tables.
class FontBytes {
 public:
  void U8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void S16(int v) { U16(static_cast<uint16_t>(static_cast<int16_t>(v))); }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v);
  }
  void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void PadTo4() { Zeros((4 - bytes_.size() % 4) % 4); }
  std::size_t Size() const { return bytes_.size(); }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// The sum of the big-endian 32-bit words of `data`, zero-padded to a whole word.
uint32_t TableChecksum(const std::vector<uint8_t>& data, std::size_t from, std::size_t size) {
  uint32_t sum = 0;
  for (std::size_t k = 0; k < size; k += 4) {
    uint32_t word = 0;
    for (std::size_t b = 0; b < 4; ++b) {
      word = (word << 8) | (k + b < size ? data[from + k + b] : 0u);
    }
    sum += word;
  }
  return sum;
}

// A frame just inside a cell `advance` units wide: an outer contour clockwise and an inner one
// counter-clockwise, so that the nonzero rule leaves the inside empty.
void FrameGlyph(FontBytes& out, int advance) {
  constexpr int kInset = 40, kStroke = 40;
  const int x0 = kInset, x1 = advance - kInset;
  const int y0 = kDescent + kInset, y1 = kAscent - kInset;
  const int ix0 = x0 + kStroke, ix1 = x1 - kStroke, iy0 = y0 + kStroke, iy1 = y1 - kStroke;
  const std::array<std::array<int, 2>, 8> points = {
      {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {ix0, iy0}, {ix1, iy0}, {ix1, iy1}, {ix0, iy1}}};
  out.S16(2);  // contours
  out.S16(x0);
  out.S16(y0);
  out.S16(x1);
  out.S16(y1);
  out.U16(3);  // last point of each contour
  out.U16(7);
  out.U16(0);                                                    // no instructions
  for (std::size_t k = 0; k < points.size(); ++k) out.U8(0x01);  // on curve, 16-bit deltas
  for (int axis = 0; axis < 2; ++axis) {
    int last = 0;
    for (const auto& point : points) {
      out.S16(point[static_cast<std::size_t>(axis)] - last);
      last = point[static_cast<std::size_t>(axis)];
    }
  }
}

std::string Hex4(uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(4, '0');
  for (int k = 3; k >= 0; --k, value >>= 4) text[static_cast<std::size_t>(k)] = kDigits[value & 15];
  return text;
}

// "<a> <b> ...": hexadecimal strings separated by blanks.
std::string HexTokens(std::initializer_list<std::string> digits) {
  std::string text;
  for (const std::string& token : digits) {
    if (!text.empty()) text += ' ';
    text += '<';
    text += token;
    text += '>';
  }
  return text;
}

}  // namespace

TextLayerFont::TextLayerFont(PdfDocument& document) : document_(document) {}

int32_t TextLayerFont::Width(uint16_t cid) {
  for (const CidRange& range : kWideRanges) {
    if (cid < range.first) break;
    if (cid <= range.last) return kWide;
  }
  return kNarrow;
}

std::vector<uint8_t> TextLayerFont::FontProgram() {
  constexpr std::array<int, 3> kAdvances = {kNarrow, kNarrow, kWide};  // by glyph number
  constexpr uint16_t kGlyphs = kAdvances.size();

  FontBytes glyf;
  std::array<uint32_t, kGlyphs + 1> loca{};
  for (uint16_t g = 0; g < kGlyphs; ++g) {
    loca[g] = static_cast<uint32_t>(glyf.Size());
    if (g != kEmptyGlyph) FrameGlyph(glyf, kAdvances[g]);
    glyf.PadTo4();
  }
  loca[kGlyphs] = static_cast<uint32_t>(glyf.Size());

  struct Table {
    const char* tag;
    FontBytes data;
  };
  std::array<Table, 8> tables{};  // in the order of their tags
  {
    // A Windows Unicode map that maps nothing: PDF reaches glyphs through the CIDToGIDMap.
    Table& t = tables[0];
    t.tag = "cmap";
    t.data.U16(0);
    t.data.U16(1);
    t.data.U16(3);
    t.data.U16(1);
    t.data.U32(12);
    t.data.U16(4);   // format
    t.data.U16(24);  // length
    t.data.U16(0);   // language
    t.data.U16(2);   // segments x 2
    t.data.U16(2);   // search range
    t.data.U16(0);   // entry selector
    t.data.U16(0);   // range shift
    t.data.U16(0xFFFF);
    t.data.U16(0);
    t.data.U16(0xFFFF);
    t.data.U16(1);
    t.data.U16(0);
  }
  tables[1].tag = "glyf";
  tables[1].data = std::move(glyf);
  {
    Table& t = tables[2];
    t.tag = "head";
    t.data.U32(0x00010000);
    t.data.U32(0x00010000);  // font revision
    t.data.U32(0);           // checksum adjustment, set below
    t.data.U32(0x5F0F3CF5);
    t.data.U16(0x000B);  // baseline and left side bearing at 0, integer scaling
    t.data.U16(1000);    // units per em
    t.data.Zeros(16);    // created, modified
    t.data.S16(40);
    t.data.S16(kDescent + 40);
    t.data.S16(kWide - 40);
    t.data.S16(kAscent - 40);
    t.data.U16(0);  // style
    t.data.U16(8);  // smallest readable size
    t.data.S16(2);  // direction hint
    t.data.S16(1);  // long loca offsets
    t.data.S16(0);
  }
  {
    Table& t = tables[3];
    t.tag = "hhea";
    t.data.U32(0x00010000);
    t.data.S16(kAscent);
    t.data.S16(kDescent);
    t.data.S16(0);      // line gap
    t.data.U16(kWide);  // widest advance
    t.data.S16(40);     // smallest left side bearing
    t.data.S16(40);     // smallest right side bearing
    t.data.S16(kWide - 40);
    t.data.S16(1);  // caret: upright
    t.data.S16(0);
    t.data.S16(0);
    t.data.Zeros(8);
    t.data.S16(0);
    t.data.U16(kGlyphs);  // horizontal metrics
  }
  {
    Table& t = tables[4];
    t.tag = "hmtx";
    for (uint16_t g = 0; g < kGlyphs; ++g) {
      t.data.U16(static_cast<uint32_t>(kAdvances[g]));
      t.data.S16(g == kEmptyGlyph ? 0 : 40);
    }
  }
  {
    Table& t = tables[5];
    t.tag = "loca";
    for (const uint32_t offset : loca) t.data.U32(offset);
  }
  {
    Table& t = tables[6];
    t.tag = "maxp";
    t.data.U32(0x00010000);
    t.data.U16(kGlyphs);
    t.data.U16(8);  // points
    t.data.U16(2);  // contours
    t.data.U16(0);
    t.data.U16(0);
    t.data.U16(2);  // zones
    t.data.Zeros(18);
  }
  {
    Table& t = tables[7];
    t.tag = "post";
    t.data.U32(0x00030000);  // no glyph names
    t.data.U32(0);           // italic angle
    t.data.S16(-100);        // underline position
    t.data.S16(50);          // underline thickness
    t.data.Zeros(20);
  }

  FontBytes font;
  constexpr uint32_t kTables = tables.size();
  font.U32(0x00010000);
  font.U16(kTables);
  font.U16(128);  // 16 x the largest power of two not above the table count (8)
  font.U16(3);
  font.U16(kTables * 16 - 128);
  std::size_t offset = 12 + 16 * kTables;
  std::size_t headOffset = 0;
  for (Table& table : tables) {
    const std::size_t size = table.data.Size();
    for (int k = 0; k < 4; ++k) font.U8(static_cast<uint8_t>(table.tag[k]));
    font.U32(TableChecksum(table.data.Bytes(), 0, size));
    font.U32(static_cast<uint32_t>(offset));
    font.U32(static_cast<uint32_t>(size));
    if (std::string_view(table.tag) == "head") headOffset = offset;
    offset += (size + 3) / 4 * 4;
  }
  for (Table& table : tables) {
    font.Bytes().insert(font.Bytes().end(), table.data.Bytes().begin(), table.data.Bytes().end());
    font.PadTo4();
  }
  std::vector<uint8_t>& bytes = font.Bytes();
  const uint32_t adjustment = 0xB1B0AFBAu - TableChecksum(bytes, 0, bytes.size());
  for (std::size_t k = 0; k < 4; ++k) {
    bytes[headOffset + 8 + k] = static_cast<uint8_t>(adjustment >> (24 - 8 * k));
  }
  return bytes;
}

namespace {

// Sets the stream's data, Flate-coded unless the document writes plain content.
void SetStreamData(PdfStreamObject& stream, std::vector<uint8_t> data, bool compress) {
  PdfDictionaryObject& dictionary = stream.Dictionary();
  if (compress) {
    data = FlateCompress(data);
    dictionary.ReplaceValue("Filter", std::make_unique<PdfNameObject>("FlateDecode", &dictionary));
  } else {
    dictionary.DeleteValue("Filter");
  }
  MemoryStream& bytes = stream.Stream();
  bytes.SetSize(0);
  bytes.Write(data.data(), data.size());
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

const PdfObject& TextLayerFont::Object() {
  if (type0_ != nullptr) return *type0_;
  const bool compress = document_.Compression() != cmNone;

  auto* program = document_.AddIndirectObject(std::make_unique<PdfStreamObject>());
  const std::vector<uint8_t> font = FontProgram();
  program->Dictionary()
      .AddValue("Length1", std::make_unique<PdfNumericObject>())
      ->SetInteger(static_cast<int64_t>(font.size()));
  SetStreamData(*program, font, compress);

  PdfDictionaryObject* descriptor = document_.NewIndirectDictionary();
  descriptor->AddNameValue("Type", "FontDescriptor");
  descriptor->AddNameValue("FontName", kFontName);
  descriptor->AddNumericValue("Flags", 4);  // symbolic: its own glyphs, no standard names
  auto* box = descriptor->AddValue("FontBBox", std::make_unique<PdfArrayObject>(descriptor));
  for (const int value : {0, kDescent, kWide, kAscent}) {
    box->AddNumericValue(static_cast<float>(value));
  }
  descriptor->AddNumericValue("ItalicAngle", 0);
  descriptor->AddNumericValue("Ascent", kAscent);
  descriptor->AddNumericValue("Descent", kDescent);
  descriptor->AddNumericValue("CapHeight", 700);
  descriptor->AddNumericValue("StemV", 40);
  descriptor->AddValue("FontFile2", *program);

  // Two bytes, the glyph number, for every CID.
  auto* cidToGid = document_.AddIndirectObject(std::make_unique<PdfStreamObject>());
  std::vector<uint8_t> map(2 * 0x10000);
  for (uint32_t cid = 0; cid <= 0xFFFF; ++cid) {
    map[2 * cid + 1] = static_cast<uint8_t>(GlyphOf(static_cast<uint16_t>(cid)));
  }
  SetStreamData(*cidToGid, std::move(map), compress);

  PdfDictionaryObject* cidFont = document_.NewIndirectDictionary();
  cidFont->AddNameValue("Type", "Font");
  cidFont->AddNameValue("Subtype", "CIDFontType2");
  cidFont->AddNameValue("BaseFont", kFontName);
  auto* info = cidFont->AddValue("CIDSystemInfo", std::make_unique<PdfDictionaryObject>(cidFont));
  info->AddStringValue("Registry", "Adobe");
  info->AddStringValue("Ordering", "Identity");
  info->AddNumericValue("Supplement", 0);
  cidFont->AddValue("FontDescriptor", *descriptor);
  cidFont->AddNumericValue("DW", kNarrow);
  auto* widths = cidFont->AddValue("W", std::make_unique<PdfArrayObject>(cidFont));
  for (const CidRange& range : kWideRanges) {
    widths->AddNumericValue(range.first);
    widths->AddNumericValue(range.last);
    widths->AddNumericValue(kWide);
  }
  cidFont->AddValue("CIDToGIDMap", *cidToGid);

  toUnicode_ = document_.AddIndirectObject(std::make_unique<PdfStreamObject>());
  WriteToUnicode();

  type0_ = document_.NewIndirectDictionary();
  type0_->AddNameValue("Type", "Font");
  type0_->AddNameValue("Subtype", "Type0");
  type0_->AddNameValue("BaseFont", kFontName);
  type0_->AddNameValue("Encoding", "Identity-H");
  auto* descendants = type0_->AddValue("DescendantFonts", std::make_unique<PdfArrayObject>(type0_));
  descendants->AddObject(*cidFont);
  type0_->AddValue("ToUnicode", *toUnicode_);
  return *type0_;
}

void TextLayerFont::WriteToUnicode() {
  if (toUnicode_ == nullptr) return;
  // Every CID of the plane but the surrogates maps to itself: a range may only vary the last
  // byte, so one range per high byte, at most 100 to a block.
  std::vector<std::string> ranges;
  for (uint32_t high = 0; high <= 0xFF; ++high) {
    const uint32_t first = high << 8;
    if (first >= kFirstBeyondCid && first <= kLastBeyondCid) continue;
    ranges.push_back(HexTokens({Hex4(first), Hex4(first | 0xFF), Hex4(first)}));
  }
  std::vector<std::string> chars;
  for (const auto& [character, cid] : beyondBmp_) {
    const char32_t v = character - 0x10000;
    chars.push_back(HexTokens({Hex4(cid), Hex4(0xD800 + (v >> 10)) + Hex4(0xDC00 + (v & 0x3FF))}));
  }
  std::string text =
      "/CIDInit /ProcSet findresource begin\n"
      "12 dict begin\n"
      "begincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n"
      "/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  const auto blocks = [&text](const std::vector<std::string>& entries, const char* kind) {
    for (std::size_t k = 0; k < entries.size(); k += 100) {
      const std::size_t n = std::min<std::size_t>(100, entries.size() - k);
      text += std::to_string(n) + " begin" + kind + "\n";
      for (std::size_t j = k; j < k + n; ++j) text += entries[j] + "\n";
      text += std::string("end") + kind + "\n";
    }
  };
  blocks(ranges, "bfrange");
  blocks(chars, "bfchar");
  text +=
      "endcmap\n"
      "CMapName currentdict /CMapName defineresource pop\n"
      "end\n"
      "end\n";
  SetStreamData(*toUnicode_, Bytes(text), document_.Compression() != cmNone);
}

uint16_t TextLayerFont::CidOf(char32_t character) {
  if (character < 0x10000) {
    const auto unit = static_cast<uint16_t>(character);
    if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) return kSpace;
    return unit;
  }
  if (const auto found = beyondBmp_.find(character); found != beyondBmp_.end()) {
    return found->second;
  }
  if (beyondBmp_.size() > kLastBeyondCid - kFirstBeyondCid) return kReplacement;
  const auto cid = static_cast<uint16_t>(kFirstBeyondCid + beyondBmp_.size());
  beyondBmp_.emplace(character, cid);
  WriteToUnicode();
  return cid;
}

TextLayerFont::Encoded TextLayerFont::Encode(std::u16string_view text) {
  Encoded encoded;
  for (std::size_t k = 0; k < text.size();) {
    const uint16_t cid = CidOf(NextCodePoint(text, k));
    encoded.Codes += static_cast<char>(cid >> 8);
    encoded.Codes += static_cast<char>(cid & 0xFF);
    encoded.Advance += Width(cid);
  }
  return encoded;
}

}  // namespace brevis
