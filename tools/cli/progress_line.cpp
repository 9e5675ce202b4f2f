// ProgressLine: bars of 24 cells with their counts, or a line when a phase starts or ends.
#include "tools/cli/progress_line.h"

#include <utility>

namespace brevis::cli {

namespace {

constexpr int kBarCells = 24;

std::string Bar(const char* name, int position, int maximum) {
  const int filled =
      maximum > 0 ? static_cast<int>(static_cast<long long>(position) * kBarCells / maximum) : 0;
  std::string text = std::string(name) + " [";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(kBarCells - filled), '.');
  return text + "] " + std::to_string(position) + "/" + std::to_string(maximum);
}

// "1 page", "12 pages".
std::string Pages(int count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, std::string label, bool terminal, bool text)
    : out_(out), label_(std::move(label)), terminal_(terminal), text_(text) {}

void ProgressLine::Update(FaceProgressBar bar, int position, int maximum) {
  const int before = position_[bar];
  const bool new_range = maximum != maximum_[bar];
  position_[bar] = position;
  maximum_[bar] = maximum;
  if (maximum <= 0) return;
  if (terminal_) {
    // Both bars get their range together; the line is drawn once both have one.
    if (maximum_[prbDownload] > 0 && maximum_[prbCombine] > 0) Draw();
    return;
  }
  // The download's lines count the pages fetched; those kept in place are told at the start.
  if (bar == prbDownload && new_range) {
    if (kept_ > 0) {
      std::fprintf(out_, "%s: %s, %d kept, %d to fetch\n", label_.c_str(), Pages(maximum).c_str(),
                   kept_, maximum - kept_);
    } else {
      std::fprintf(out_, "%s: %s to fetch\n", label_.c_str(), Pages(maximum).c_str());
    }
  } else if (position == maximum && before != maximum) {
    const int count = bar == prbDownload ? maximum - kept_ : maximum;
    std::fprintf(out_, "%s: %s %s\n", label_.c_str(), Pages(count).c_str(),
                 bar == prbDownload ? "downloaded"
                 : text_            ? "recognised and combined"
                                    : "combined");
  } else {
    return;
  }
  std::fflush(out_);
}

void ProgressLine::Draw() {
  const std::string line =
      label_ + "  " + Bar("pages", position_[prbDownload], maximum_[prbDownload]) + "  " +
      Bar(text_ ? "text+pdf" : "pdf", position_[prbCombine], maximum_[prbCombine]);
  // Back to the line's start and clear it, so that a shorter line leaves nothing behind.
  std::fprintf(out_, "\r\x1b[K%s", line.c_str());
  std::fflush(out_);
  drawn_ = true;
}

void ProgressLine::Finish() {
  if (!drawn_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_ = false;
}

}  // namespace brevis::cli
