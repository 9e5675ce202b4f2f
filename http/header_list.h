// HeaderList: the raw header lines of a request or a response ("Name: value"), with
// case-insensitive lookup, folding of long values when set and unfolding when read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

class HeaderList {
 public:
  explicit HeaderList(std::size_t fold_length = 78) : foldLength_(fold_length) {}

  // Appends a line unchanged (received headers).
  void Add(std::u16string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  std::size_t Count() const { return lines_.size(); }
  const std::u16string& operator[](std::size_t index) const { return lines_[index]; }
  const std::vector<std::u16string>& Lines() const { return lines_; }

  // The unfolded value of the first header called `name` (case-insensitive); empty if none.
  std::u16string Values(std::u16string_view name) const;
  // Sets or replaces the first header called `name` (folded when FoldLines); an empty value
  // removes it together with its continuation lines.
  void SetValues(std::u16string_view name, std::u16string_view value);
  // Appends a further header `name` (folded); nothing when name or value is empty.
  void AddValue(std::u16string_view name, std::u16string_view value);

  // Index of the first header line called `name` (case-insensitive), or -1.
  std::ptrdiff_t IndexOfName(std::u16string_view name) const;
  // Appends the unfolded value of every header called `name`, in order.
  void Extract(std::u16string_view name, std::vector<std::u16string>& destination) const;

  // Text before the first ":" (untrimmed); empty for a line without ":".
  std::u16string NameFromLine(std::size_t index) const;
  // Text after the first ":", with the continuation lines below joined by single blanks, and
  // trimmed. Empty for an index outside the list.
  std::u16string ValueFromLine(std::size_t index) const;

  // Word-wraps `text` at FoldLength columns at single spaces outside double quotes; later
  // pieces start with one blank. An existing CR LF + blank stays a break. Unfolding the pieces
  // (ValueFromLine) reads back exactly what the unwrapped text reads as, and no piece but the
  // first is ever empty.
  std::vector<std::u16string> FoldLine(std::u16string_view text) const;

  // Appends every line to `destination` with its first ": " turned into "=".
  void ConvertToStdValues(std::vector<std::u16string>& destination) const;
  // Adds every "name=value" line of `source` as "name: value".
  void AddStdValues(const std::vector<std::u16string>& source);

  std::size_t FoldLength() const { return foldLength_; }
  void SetFoldLength(std::size_t length) { foldLength_ = length; }
  bool FoldLines = true;
  bool UnfoldLines = true;

 private:
  static bool IsContinuation(std::u16string_view line) {
    return !line.empty() && (line[0] == u' ' || line[0] == u'\t');
  }
  // Appends the wrapped pieces of one segment of FoldLine's text (no existing folds inside).
  void WrapSegment(std::u16string_view segment, std::vector<std::u16string>& pieces) const;
  void DeleteContinuationLines(std::size_t index);
  // Replaces line `index` with the folded pieces of `text`.
  void InsertFolded(std::u16string_view text, std::size_t index);

  std::vector<std::u16string> lines_;
  std::size_t foldLength_;
};

}  // namespace brevis
