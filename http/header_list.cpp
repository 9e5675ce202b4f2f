// HeaderList: folding, unfolding and case-insensitive lookup of raw header lines.
#include "http/header_list.h"

#include "common/ascii_text.h"

namespace brevis {

namespace {

constexpr std::u16string_view kSeparator = u": ";

// A line may be broken at a single space between two units the reader keeps: it reads a
// break as one space and trims around it, so such a break, and no other, reads back as the
// text it replaced.
bool IsBreakAt(std::u16string_view text, std::size_t i) {
  return text[i] == u' ' && i > 0 && text[i - 1] > u' ' && i + 1 < text.size() &&
         text[i + 1] > u' ';
}

}  // namespace

std::u16string HeaderList::NameFromLine(std::size_t index) const {
  if (index >= lines_.size()) return {};
  const std::u16string& line = lines_[index];
  const std::size_t colon = line.find(u':');
  return colon == std::u16string::npos ? std::u16string() : line.substr(0, colon);
}

std::u16string HeaderList::ValueFromLine(std::size_t index) const {
  if (index >= lines_.size()) return {};
  const std::u16string& line = lines_[index];
  const std::size_t colon = line.find(u':');
  std::u16string value;
  if (colon != std::u16string::npos) {
    value = std::u16string(ascii::TrimLeft(std::u16string_view(line).substr(colon + 1)));
  }
  if (UnfoldLines) {
    for (std::size_t next = index + 1; next < lines_.size() && IsContinuation(lines_[next]);
         ++next) {
      value = std::u16string(ascii::Trim(value)) + u" " + std::u16string(ascii::Trim(lines_[next]));
    }
  }
  return std::u16string(ascii::Trim(value));
}

std::ptrdiff_t HeaderList::IndexOfName(std::u16string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (IsContinuation(lines_[i])) continue;
    const std::size_t colon = lines_[i].find(u':');
    if (colon == std::u16string::npos) continue;
    if (ascii::EqualsIgnoreCase(std::u16string_view(lines_[i]).substr(0, colon), name)) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

std::u16string HeaderList::Values(std::u16string_view name) const {
  const std::ptrdiff_t index = IndexOfName(name);
  return index < 0 ? std::u16string() : ValueFromLine(static_cast<std::size_t>(index));
}

void HeaderList::Extract(std::u16string_view name, std::vector<std::u16string>& destination) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (IsContinuation(lines_[i])) continue;
    const std::size_t colon = lines_[i].find(u':');
    if (colon == std::u16string::npos) continue;
    if (ascii::EqualsIgnoreCase(std::u16string_view(lines_[i]).substr(0, colon), name)) {
      destination.push_back(ValueFromLine(i));
    }
  }
}

void HeaderList::DeleteContinuationLines(std::size_t index) {
  std::size_t end = index + 1;
  while (end < lines_.size() && IsContinuation(lines_[end])) ++end;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index + 1),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
}

void HeaderList::InsertFolded(std::u16string_view text, std::size_t index) {
  std::vector<std::u16string> pieces = FoldLine(text);
  if (pieces.empty()) pieces.emplace_back();
  lines_[index] = std::move(pieces[0]);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index + 1),
                std::make_move_iterator(pieces.begin() + 1), std::make_move_iterator(pieces.end()));
}

void HeaderList::SetValues(std::u16string_view name, std::u16string_view value) {
  std::ptrdiff_t found = IndexOfName(name);
  if (value.empty()) {
    if (found < 0) return;
    const auto index = static_cast<std::size_t>(found);
    if (FoldLines) DeleteContinuationLines(index);
    lines_.erase(lines_.begin() + found);
    return;
  }
  if (found < 0) {
    lines_.emplace_back();
    found = static_cast<std::ptrdiff_t>(lines_.size() - 1);
  }
  const auto index = static_cast<std::size_t>(found);
  std::u16string line = std::u16string(name) + std::u16string(kSeparator) + std::u16string(value);
  if (FoldLines) {
    DeleteContinuationLines(index);
    InsertFolded(line, index);
  } else {
    lines_[index] = std::move(line);
  }
}

void HeaderList::AddValue(std::u16string_view name, std::u16string_view value) {
  if (name.empty() || value.empty()) return;
  const std::u16string line =
      std::u16string(name) + std::u16string(kSeparator) + std::u16string(value);
  for (std::u16string& piece : FoldLine(line)) lines_.push_back(std::move(piece));
}

std::vector<std::u16string> HeaderList::FoldLine(std::u16string_view text) const {
  std::vector<std::u16string> pieces;
  // An existing fold (CR LF and a blank) ends a segment; the next one keeps its blank.
  std::size_t from = 0;
  while (true) {
    std::size_t fold = from;
    while (fold + 2 < text.size() && !(text[fold] == u'\r' && text[fold + 1] == u'\n' &&
                                       (text[fold + 2] == u' ' || text[fold + 2] == u'\t'))) {
      ++fold;
    }
    if (fold + 2 >= text.size()) fold = text.size();
    WrapSegment(text.substr(from, fold - from), pieces);
    if (fold == text.size()) break;
    from = fold + 2;
  }
  return pieces;
}

void HeaderList::WrapSegment(std::u16string_view segment,
                             std::vector<std::u16string>& pieces) const {
  std::size_t start = 0;    // first unit of the current piece in `segment`
  bool lead_blank = false;  // the piece starts with the blank it was broken at
  std::ptrdiff_t brk = -1;  // last break position of the current piece
  bool quoted = false;
  auto emit = [&](std::size_t end) {
    std::u16string piece = lead_blank ? u" " : u"";
    piece += segment.substr(start, end - start);
    piece.resize(ascii::TrimRight(piece).size());
    // A continuation with nothing the reader keeps would be an empty line, which ends the
    // header; the reader joins around it just the same when it is left out.
    if (!pieces.empty() && ascii::Trim(piece).empty()) return;
    pieces.push_back(std::move(piece));
  };
  for (std::size_t i = 0; i < segment.size(); ++i) {
    const char16_t c = segment[i];
    if (c == u'"') {
      quoted = !quoted;
    } else if (!quoted && IsBreakAt(segment, i) && i > start) {
      brk = static_cast<std::ptrdiff_t>(i);
    }
    const std::size_t columns = (lead_blank ? 1 : 0) + (i - start + 1);
    if (columns > foldLength_ && brk >= 0) {
      // The blank at brk becomes the line break and the next piece's leading blank. Breaks lie
      // outside quotes, so the scan goes on from there unquoted.
      emit(static_cast<std::size_t>(brk));
      start = static_cast<std::size_t>(brk) + 1;
      i = start - 1;
      lead_blank = true;
      brk = -1;
      quoted = false;
    }
  }
  emit(segment.size());
}

void HeaderList::ConvertToStdValues(std::vector<std::u16string>& destination) const {
  for (const std::u16string& line : lines_) {
    const std::size_t at = line.find(kSeparator);
    if (at == std::u16string::npos) {
      destination.push_back(line);
    } else {
      destination.push_back(line.substr(0, at) + u'=' + line.substr(at + kSeparator.size()));
    }
  }
}

void HeaderList::AddStdValues(const std::vector<std::u16string>& source) {
  for (const std::u16string& line : source) {
    const std::size_t at = line.find(u'=');
    if (at == std::u16string::npos) {
      lines_.push_back(line);
    } else {
      std::u16string converted = line.substr(0, at);
      converted += kSeparator;
      converted += std::u16string_view(line).substr(at + 1);
      lines_.push_back(std::move(converted));
    }
  }
}

}  // namespace brevis
