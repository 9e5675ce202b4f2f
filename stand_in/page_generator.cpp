// Lays out an invented patent's pages: which text and figures each page carries and where, set
// on a PageSheet (page_sheet.h), figures by patent_figure.h, written as Group 4 TIFF by
// group4_tiff.h. Every choice comes from a small seeded
// generator, so a page's bytes depend only on its number, page and page count.
#include "stand_in/page_generator.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii_text.h"
#include "common/fnv1a.h"
#include "common/text.h"
#include "stand_in/group4_tiff.h"
#include "stand_in/page_sheet.h"
#include "stand_in/patent_figure.h"
#include "stand_in/patent_text.h"
#include "stand_in/seeded_random.h"

namespace brevis {

namespace {

constexpr int kLeft = 236;
constexpr int kRight = PageGenerator::kWidth - 236;
constexpr int kTop = 340;
constexpr int kBottom = PageGenerator::kHeight - 260;

// Type sizes in pixels to the em at 300 dpi: 46 is 11 points.
constexpr int kBodySize = 46;
constexpr int kHeaderSize = 40;
constexpr int kTitleSize = 58;
constexpr int kLinePitch = 76;  // baseline to baseline in body text
constexpr int kParagraphGap = 16;
constexpr int kHeaderBaseline = 232;
constexpr int kRuleTop = 262;
constexpr int kRuleBottom = 267;
// Description paragraphs: "[0001]" at the margin, the text in a column to its right.
constexpr int kTextColumn = kLeft + 190;
constexpr int kClaimsPerPage = 6;
constexpr int kParagraphsPerPage = 7;

int LineCount(std::u32string_view text, int firstX, int x) {
  return static_cast<int>(BreakLines(text, kBodySize, kRight - firstX, kRight - x).size());
}

// How many body lines fit from `baseline` down to the bottom margin.
int LinesLeft(int baseline) {
  return baseline > kBottom ? 0 : (kBottom - baseline) / kLinePitch + 1;
}

// The drawings: how many figures come before drawing page `index` (from 0), when each page shows
// one or two as the bits of `twos` say, repeating every 64 pages.
int FiguresBefore(int index, uint64_t twos) {
  const int whole = index / 64;
  const int rest = index % 64;
  const uint64_t below = rest == 0 ? 0 : twos & (~uint64_t{0} >> (64 - rest));
  return index + whole * __builtin_popcountll(twos) + __builtin_popcountll(below);
}

// Adds the sentences of `candidates` to `text` while it stays within `budget` lines, the first
// from `firstX`, the others from `x`, stopping at the first that does not fit or after `most`.
// `end` closes the text after each addition for the count ("。" for claims).
std::u32string FitSentences(const std::vector<std::string>& candidates, std::u32string text,
                            std::string_view separator, std::string_view end, int budget,
                            int firstX, int x, std::size_t most) {
  std::u32string fitted;
  bool first = true;
  for (const std::string& candidate : candidates) {
    if (most-- == 0) break;
    std::u32string trial =
        text + Utf8ToUtf32(first ? std::string() : std::string(separator)) + Utf8ToUtf32(candidate);
    if (LineCount(trial + Utf8ToUtf32(end), firstX, x) > budget) break;
    text = std::move(trial);
    fitted = text + Utf8ToUtf32(end);
    first = false;
  }
  return fitted;
}

}  // namespace

struct PageGenerator::Composition : PageSheet {
  Composition() : PageSheet(kWidth, kHeight, kRight, kLinePitch) {}
};

std::string FilingDate(std::string_view number) {
  std::string year(number.substr(0, 4));
  if (number.size() < 12) {
    const int twoDigits = std::stoi(std::string(number.substr(0, 2)));
    year = std::to_string(twoDigits >= 85 ? 1900 + twoDigits : 2000 + twoDigits);
  }
  return year + ".01.15";
}

PageGenerator::PageGenerator(std::string number, int pages)
    : number_(std::move(number)), pages_(pages) {
  if (!ascii::IsDigits(number_)) {
    throw std::invalid_argument("Page generator: the number must be digits.");
  }
  if (pages_ < 1) throw std::invalid_argument("Page generator: at least one page.");
}

bool PageGenerator::HasFigure(int page) const {
  if (page == 1) return pages_ > 1;
  return page > pages_ - pages_ / 6;
}

namespace {

using Section = PatentText::Section;

// The claims page `index` (from 0): claims 1 + 6 * index on, each given its share of the lines
// left. Claim 1 is independent; the others each refer to one of the four claims before them.
void ComposeClaims(PageSheet& sheet, const PatentText& patent, uint64_t order, SeededRandom& rng,
                   int index) {
  const int first = 1 + index * kClaimsPerPage;
  const int features = patent.Count(Section::Feature);
  // The features after the first, in an order of the patent's own.
  const auto feature = [&](int k) {
    return std::string(patent.Sentence(
        Section::Feature, static_cast<uint64_t>(1 + (order + static_cast<uint64_t>(k)) %
                                                        static_cast<uint64_t>(features - 1))));
  };
  int baseline = kTop + kBodySize;
  for (int n = first; n < first + kClaimsPerPage; ++n) {
    const int budget = LinesLeft(baseline) / (first + kClaimsPerPage - n);
    std::string head;
    std::vector<std::string> picks;
    std::size_t most = 0;
    if (n == 1) {
      head = patent.Title() + "，其特征在于，";
      // The first feature names the parts; three more follow it.
      picks.emplace_back(patent.Sentence(Section::Feature, 0));
      for (int k = 0; k < features - 1; ++k) picks.emplace_back(feature(k));
      most = 4;
    } else {
      head = "根据权利要求" + std::to_string(rng.Between(std::max(1, n - 4), n - 1)) + "所述的" +
             std::string(patent.Subject()) + "，其特征在于，";
      // Each claim adds what the claims before it did not say yet, as far as there is any.
      picks.emplace_back(feature(n + 1));
      picks.emplace_back(feature(n + 2));
      most = static_cast<std::size_t>(rng.Between(1, 2));
    }
    const std::u32string label = Utf8ToUtf32(std::to_string(n) + ".");
    const int labelX = kLeft + 2 * kBodySize;
    const int firstX = labelX + TextWidth(label, kBodySize) + TextWidth(U" ", kBodySize);
    const std::u32string text =
        FitSentences(picks, Utf8ToUtf32(head), "；", "。", budget, firstX, kLeft, most);
    if (text.empty()) break;
    baseline = sheet.Block(label, labelX, text, firstX, kLeft, baseline, kBodySize) + kParagraphGap;
  }
}

// The description page `index` (from 0). The first carries the title and the sections up to the
// first embodiments in paragraphs [0001] to [0008]; each further page seven more paragraphs of
// embodiments, each given its share of the lines left.
void ComposeDescription(PageSheet& sheet, const PatentText& patent, SeededRandom& rng, int index,
                        int figures) {
  int baseline = kTop + kBodySize;
  int first = 1;
  int count = 8;
  if (index == 0) {
    const std::u32string title = Utf8ToUtf32(patent.Title());
    baseline = kTop + kTitleSize;
    sheet.Print({{title, (kLeft + kRight - TextWidth(title, kTitleSize)) / 2}}, baseline,
                kTitleSize);
    baseline += kLinePitch + 30;
  } else {
    first = 9 + (index - 1) * kParagraphsPerPage;
    count = kParagraphsPerPage;
  }
  for (int p = first; p < first + count; ++p) {
    const char* heading = p == 1   ? "技术领域"
                          : p == 2 ? "背景技术"
                          : p == 4 ? "发明内容"
                          : p == 6 ? "附图说明"
                          : p == 7 ? "具体实施方式"
                                   : nullptr;
    if (heading != nullptr) {
      if (LinesLeft(baseline) < 2) break;
      sheet.Print({{Utf8ToUtf32(heading), kLeft}}, baseline, kBodySize);
      baseline += kLinePitch;
    }
    std::vector<std::string> candidates;
    const auto add = [&](Section section, uint64_t i) {
      candidates.emplace_back(patent.Sentence(section, i));
    };
    std::string_view separator;
    std::string_view end;
    std::size_t most = 6;
    if (p == 1) {
      add(Section::Field, 0);
      add(Section::Field, 1);
    } else if (p <= 3) {
      add(Section::Background, 2 * static_cast<uint64_t>(p - 2));
      add(Section::Background, 2 * static_cast<uint64_t>(p - 2) + 1);
    } else if (p == 4) {
      for (uint64_t i = 0; i < 3; ++i) add(Section::Summary, i);
    } else if (p == 5) {
      add(Section::Summary, 3);
      add(Section::Summary, 4);
    } else if (p == 6) {
      for (int figure = 1; figure <= std::min(figures, 6); ++figure) {
        candidates.push_back(patent.FigureView(figure));
      }
      separator = "；";
      end = "。";
    } else {
      // Embodiments: the topic's own sentences with now and then a general one.
      const int embodiment = p - 6;
      if (p == 7) candidates.emplace_back(patent.Sentence(Section::Closing, 0));
      uint64_t next = rng.Next();
      uint64_t nextClosing = rng.Next();
      const auto closings = static_cast<uint64_t>(patent.Count(Section::Closing));
      for (int k = 0; k < 6; ++k) {
        const std::string_view sentence =
            rng.Chance(75) ? patent.Sentence(Section::Embodiment, next++)
                           : patent.Sentence(Section::Closing, 1 + nextClosing++ % (closings - 1));
        candidates.push_back(Fill(sentence, embodiment, rng.Next()));
      }
      most = static_cast<std::size_t>(rng.Between(2, 5));
    }
    const int budget = LinesLeft(baseline) / (first + count - p);
    char label[16];
    std::snprintf(label, sizeof label, "[%04d]", p % 10000);
    const int firstX = kTextColumn + 2 * kBodySize;
    const std::u32string text =
        FitSentences(candidates, U"", separator, end, budget, firstX, kTextColumn, most);
    if (text.empty()) break;
    baseline =
        sheet.Block(Utf8ToUtf32(label), kLeft, text, firstX, kTextColumn, baseline, kBodySize) +
        kParagraphGap;
  }
}

// Page 1: the bibliographic fields, the abstract and, for more than one page, a figure.
void ComposeFront(PageSheet& sheet, const PatentText& patent, SeededRandom& rng,
                  std::string_view number, bool figure) {
  struct Field {
    const char* Code;
    const char* Label;
    std::string Value;
  };
  const Field fields[] = {
      {"(21)", "申请号", std::string(number)}, {"(22)", "申请日", FilingDate(number)},
      {"(71)", "申请人", patent.Applicant()},  {"(72)", "发明人", patent.Inventors()},
      {"(54)", "发明名称", patent.Title()},
  };
  int baseline = kTop + 40;
  for (const Field& field : fields) {
    sheet.Print({{Utf8ToUtf32(field.Code), kLeft},
                 {Utf8ToUtf32(field.Label), kLeft + 120},
                 {Utf8ToUtf32(field.Value), kLeft + 360}},
                baseline, kBodySize);
    baseline += 90;
  }
  const int rule = baseline - 50;
  sheet.Rule(kLeft, rule, kRight, rule + 3);
  baseline += 30;
  sheet.Print({{U"(57)", kLeft}, {U"摘要", kLeft + 120}}, baseline, kBodySize);
  baseline += kLinePitch;

  std::vector<std::string> sentences{"本发明公开了" + patent.Title() + "，" +
                                     std::string(patent.Sentence(Section::Feature, 0)) + "。"};
  const int summaries = patent.Count(Section::Summary);
  const int start = rng.Between(1, summaries - 1);
  for (int k = 0; k < summaries - 1; ++k) {
    sentences.emplace_back(patent.Sentence(
        Section::Summary, static_cast<uint64_t>(1 + (start + k) % (summaries - 1))));
  }
  const int firstX = kLeft + 2 * kBodySize;
  const int budget = figure ? 8 : LinesLeft(baseline);
  baseline = sheet.Block(U"", 0, FitSentences(sentences, U"", "", "", budget, firstX, kLeft, 4),
                         firstX, kLeft, baseline, kBodySize);
  if (figure) DrawFigure(sheet, rng, {kLeft, baseline, kRight, kBottom}, 1);
}

}  // namespace

PageGenerator::Composition PageGenerator::Compose(int page) const {
  if (page < 1 || page > pages_) throw std::out_of_range("Page generator: no such page.");
  const uint64_t seed = Fnv1a64(number_);
  SeededRandom rng(seed ^ (static_cast<uint64_t>(page) * uint64_t{0x9E3779B97F4A7C15}));
  const PatentText patent(seed);
  // Pages 2 to lastText carry text: first the claims, then the description.
  const int lastText = pages_ - pages_ / 6;
  const int textPages = lastText - 1;
  const int claimPages = textPages <= 1 ? textPages : std::min(3, std::max(1, textPages / 8));
  const bool claims = page > 1 && page - 2 < claimPages;
  // Which drawing pages show two figures rather than one.
  const uint64_t twos = SeededRandom(~seed).Next();
  const int drawingPages = pages_ - lastText;

  Composition sheet;
  const std::u32string left = Utf8ToUtf32("CN" + number_);
  const std::u32string part = Utf8ToUtf32(page == 1         ? "发明专利申请"
                                          : page > lastText ? "说明书附图"
                                          : claims          ? "权利要求书"
                                                            : "说明书");
  const std::u32string right = Utf8ToUtf32(std::to_string(page) + "/" + std::to_string(pages_));
  // One row, and so one line, as a reader copies it: its three items joined by blanks.
  sheet.Print({{left, kLeft},
               {part, (kLeft + kRight - TextWidth(part, kHeaderSize)) / 2},
               {right, kRight - TextWidth(right, kHeaderSize)}},
              kHeaderBaseline, kHeaderSize);
  sheet.Rule(kLeft, kRuleTop, kRight, kRuleBottom);

  if (page == 1) {
    ComposeFront(sheet, patent, rng, number_, HasFigure(1));
  } else if (claims) {
    ComposeClaims(sheet, patent, seed >> 7, rng, page - 2);
  } else if (page <= lastText) {
    const int figures = drawingPages > 0 ? FiguresBefore(drawingPages, twos) : 1;
    ComposeDescription(sheet, patent, rng, page - 2 - claimPages, figures);
  } else {
    const int index = page - lastText - 1;
    const int figure = 1 + FiguresBefore(index, twos);
    if ((twos >> (index % 64) & 1) == 0) {
      DrawFigure(sheet, rng, {kLeft, kTop, kRight, kBottom}, figure);
    } else {
      const int middle = (kTop + kBottom) / 2;
      DrawFigure(sheet, rng, {kLeft, kTop, kRight, middle}, figure);
      DrawFigure(sheet, rng, {kLeft, middle, kRight, kBottom}, figure + 1);
    }
  }
  return sheet;
}

OneBitImage PageGenerator::Render(int page) const {
  OneBitImage bitmap = std::move(Compose(page).Bitmap);
  bitmap.Dpi = kDpi;
  return bitmap;
}

std::vector<PrintedLine> PageGenerator::Lines(int page) const { return Compose(page).Lines; }

std::vector<PageArea> PageGenerator::Drawings(int page) const { return Compose(page).Drawings; }

std::string PageGenerator::GroundTruth(int page) const {
  std::string text;
  for (const PrintedLine& line : Lines(page)) text += line.Text + "\n";
  return text;
}

namespace {

void WriteFile(const std::string& bytes, const std::string& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("Could not write " + path + ".");
}

}  // namespace

std::string PageGenerator::Tiff(int page) const { return EncodeGroup4Tiff(Render(page)); }

void PageGenerator::WriteTiff(int page, const std::string& path) const {
  WriteFile(Tiff(page), path);
}

void PageGenerator::WriteGroundTruth(int page, const std::string& path) const {
  WriteFile(GroundTruth(page), path);
}

}  // namespace brevis
