// The numbers of a "fetch" run: read from a list, recognised, cut to the run's share of the list
// with each patent once; and why a number given is not valid.
#pragma once

#include <string>
#include <vector>

#include "core/recognised_number.h"
#include "tools/cli/bulk_run.h"

namespace brevis::cli {

// One number a line of the file `file_name` ("-": standard input); blank lines and lines whose
// first other character is "#" are skipped, blanks at the ends and a leading byte-order mark are
// dropped. Throws std::runtime_error ("Cannot read <file>.") when the file cannot be opened.
std::vector<std::string> ReadNumbers(const std::string& file_name);

// Why `number`, recognised from the text `typed`, is not valid: "'<typed>' is not a valid
// Chinese patent application number.", and for a wrong check character a second line that names
// the right one. No final line break.
std::string NotValidText(const RecognisedNumber& number, const std::string& typed);

// A number of the list as it was given, and what it is.
struct ListedNumber {
  std::string Text;
  RecognisedNumber Number;
};

// The share `shard` of `numbers`, in the list's order: each valid patent once, in whatever form
// it was named first, and every number that is not valid. A valid number falls in the share of
// "CN" and its digits, one that is not valid in the share of its text, so that exactly one task
// reports it.
std::vector<ListedNumber> TakeShare(const std::vector<std::string>& numbers, const Shard& shard);

}  // namespace brevis::cli
