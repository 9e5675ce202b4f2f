// The numbers of a "fetch" run: the list file, the share and the patents' de-duplication.
#include "tools/cli/number_list.h"

#include <fstream>
#include <iostream>
#include <set>
#include <utility>
#include <stdexcept>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis::cli {

std::vector<std::string> ReadNumbers(const std::string& file_name) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (file_name != "-") {
    file.open(file_name);
    if (!file) throw std::runtime_error("Cannot read " + file_name + ".");
    in = &file;
  }
  std::vector<std::string> numbers;
  std::string line;
  bool at_start = true;
  while (std::getline(*in, line)) {
    // A byte-order mark that an editor put at the start of the file.
    if (at_start && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    at_start = false;
    const std::string_view number = ascii::TrimBlanks(line);
    if (number.empty() || number.front() == '#') continue;
    numbers.emplace_back(number);
  }
  return numbers;
}

std::string NotValidText(const RecognisedNumber& number, const std::string& typed) {
  std::string text = "'" + typed + "' is not a valid Chinese patent application number.";
  if (number.RightCheckCharacter != 0) {
    text += "\nIts check character is wrong: " + Utf16ToUtf8(number.Apn) + " ends in " +
            Utf16ToUtf8(std::u16string(1, number.RightCheckCharacter)) + ".";
  }
  return text;
}

std::vector<ListedNumber> TakeShare(const std::vector<std::string>& numbers, const Shard& shard) {
  std::vector<ListedNumber> share;
  std::set<std::u16string> seen;
  for (const std::string& text : numbers) {
    RecognisedNumber number = RecogniseNumber(Utf8ToUtf16(text));
    const std::string key = number.Valid ? "CN" + Utf16ToUtf8(number.Apn) : text;
    if (ShareOf(key, shard.Count) != shard.Index) continue;
    if (number.Valid && !seen.insert(number.Apn).second) continue;
    share.push_back({text, std::move(number)});
  }
  return share;
}

}  // namespace brevis::cli
