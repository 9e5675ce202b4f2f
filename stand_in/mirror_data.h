// MirrorData: the patents a brevisfetch-mirror serves, read from its data folder, the sample data
// set and generated data sets. Layout: DIR/<number>/manifest plus the page files
// DIR/<number>/000001.tif, ...
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

// One patent of the data folder.
struct PatentEntry {
  std::string Number;   // application number, digits only (the folder's name)
  std::string Kind;     // "fmzl" or "syxx"
  bool Mirror = false;  // answered by the mirror service
  bool Office = false;  // shown on the patent office's search page
  int Pages = 0;        // page count announced to clients
};

// What MirrorData::MakeGenerated writes: `Patents` patents of MinPages..MaxPages pages each,
// chosen by `Seed`.
struct GeneratedSet {
  int Patents = 1;
  int MinPages = 1;
  int MaxPages = 1;
  uint64_t Seed = 0;
};

// Reads DIR/<number>/manifest, a text file of "key = value" lines ('#' starts a comment line):
//   kind = fmzl | syxx        (required)
//   source = mirror | office | both   (required: who knows the patent)
//   pages = N                 (optional: the count announced; by default the highest page file)
// Page files are named by their six-digit page number, "000001.tif". Nothing is cached, so
// patents can be added while the server runs.
class MirrorData {
 public:
  // Throws std::runtime_error when `dir` is not a folder.
  explicit MirrorData(std::string dir);

  const std::string& Dir() const { return dir_; }
  // The patent with this number, or nothing when `number` is not 1-16 digits or has no folder
  // with a manifest. Throws std::runtime_error naming the file when the manifest is broken.
  std::optional<PatentEntry> Find(std::string_view number) const;
  // Path of the page file, or nothing when the patent or the file does not exist (page >= 1).
  std::optional<std::string> PagePath(std::string_view number, int page) const;
  // Every patent with a readable manifest, by number; broken ones are left out.
  std::vector<PatentEntry> List() const;

  // Parses a manifest's text; throws std::runtime_error with the reason.
  static PatentEntry ParseManifest(std::string_view text);
  // "000001.tif" for page 1; numbers of more than six digits keep all their digits.
  static std::string PageFileName(int page);
  static bool IsNumber(std::string_view text);

  // Writes the sample data set into `dir` (created when missing), the same bytes every run;
  // the sample patents' folders are replaced, anything else in `dir` stays:
  //   200710038426 fmzl mirror 12 pages, 201910987654 fmzl mirror 50 pages,
  //   200820123456 syxx office 3 pages, 98123456 fmzl office 1 page.
  static void MakeSample(const std::string& dir);

  // The file of a generated data set that lists its numbers: DIR/numbers.txt.
  static constexpr char kNumberList[] = "numbers.txt";
  // Writes `set.Patents` invented patents into `dir` (created when missing) and their numbers to
  // DIR/numbers.txt, one "CN<number>.<check character>" a line in the order written. Each number
  // has 12 digits: a year from 2004 to 2023, the kind's digit (1 for an invention, fmzl; 2 for a
  // utility model, syxx) and a serial, all distinct; each patent has MinPages..MaxPages pages and
  // is known to the mirror, the patent office or both. The same set gives the same bytes on
  // every run and machine. The patents' folders are replaced, anything else in `dir` stays. The
  // pages are drawn on as many threads as the machine has cores. Returns the patents, as Find
  // reads them. Throws std::invalid_argument for Patents < 1 or a page range outside
  // 1 <= MinPages <= MaxPages <= 10000, and std::runtime_error when a file cannot be written.
  static std::vector<PatentEntry> MakeGenerated(const std::string& dir, const GeneratedSet& set);

 private:
  std::string dir_;
};

}  // namespace brevis
