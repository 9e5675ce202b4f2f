// Reads the mirror's data folder: one folder per patent with a small manifest and the page files.
#include "stand_in/mirror_data.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/ascii_text.h"
#include "protocol/application_number.h"
#include "protocol/service_protocol.h"
#include "stand_in/page_generator.h"
#include "stand_in/seeded_random.h"

namespace brevis {

namespace fs = std::filesystem;

namespace {

constexpr char kManifest[] = "manifest";
constexpr std::size_t kMaxNumberDigits = 16;
// As many pages as a client accepts in a lookup answer.
constexpr int kMaxPages = protocol::kMaxAnnouncedPages;

// The page number of a file name "NNNNNN.tif" in its one canonical spelling, else 0.
int PageOfFileName(const std::string& name) {
  if (name.size() < 10 || name.size() > 13 || name.substr(name.size() - 4) != ".tif") return 0;
  const std::string digits = name.substr(0, name.size() - 4);
  if (!MirrorData::IsNumber(digits)) return 0;
  const int page = std::stoi(digits);
  return MirrorData::PageFileName(page) == name ? page : 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot read " + path.string() + ".");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Writes a fresh folder for one patent, so that no page file of an earlier run changes its page
// count: the manifest and `pages` generated pages.
void WritePatent(const fs::path& dir, const std::string& number, std::string_view kind,
                 std::string_view source, int pages, std::string_view comment) {
  const fs::path folder = dir / number;
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream manifest(folder / kManifest, std::ios::binary | std::ios::trunc);
  manifest << "# " << comment << "\nkind = " << kind << "\nsource = " << source << '\n';
  manifest.close();
  if (!manifest) throw std::runtime_error("Cannot write " + (folder / kManifest).string() + ".");
  const PageGenerator generator(number, pages);
  for (int page = 1; page <= pages; ++page) {
    generator.WriteTiff(page, (folder / MirrorData::PageFileName(page)).string());
  }
}

}  // namespace

MirrorData::MirrorData(std::string dir) : dir_(std::move(dir)) {
  std::error_code error;
  if (!fs::is_directory(dir_, error)) {
    throw std::runtime_error("The data folder " + dir_ + " does not exist.");
  }
}

bool MirrorData::IsNumber(std::string_view text) {
  return ascii::IsDigits(text) && text.size() <= kMaxNumberDigits;
}

std::string MirrorData::PageFileName(int page) {
  char name[32];
  std::snprintf(name, sizeof name, "%.6d.tif", page);
  return name;
}

PatentEntry MirrorData::ParseManifest(std::string_view text) {
  PatentEntry entry;
  bool haveKind = false;
  bool haveSource = false;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    const std::string_view line = ascii::TrimBlanks(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line[0] == '#') continue;
    const auto equals = line.find('=');
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (equals == std::string_view::npos) throw std::runtime_error(where + "expected key = value");
    const std::string_view key = ascii::TrimBlanks(line.substr(0, equals));
    const std::string_view value = ascii::TrimBlanks(line.substr(equals + 1));
    if (key == "kind") {
      if (value != "fmzl" && value != "syxx") {
        throw std::runtime_error(where + "kind must be fmzl or syxx");
      }
      entry.Kind = value;
      haveKind = true;
    } else if (key == "source") {
      if (value != "mirror" && value != "office" && value != "both") {
        throw std::runtime_error(where + "source must be mirror, office or both");
      }
      entry.Mirror = value != "office";
      entry.Office = value != "mirror";
      haveSource = true;
    } else if (key == "pages") {
      if (!IsNumber(value) || value.size() > 6 || std::stoi(std::string(value)) < 1 ||
          std::stoi(std::string(value)) > kMaxPages) {
        throw std::runtime_error(where + "pages must be a number from 1 to " +
                                 std::to_string(kMaxPages));
      }
      entry.Pages = std::stoi(std::string(value));
    } else {
      throw std::runtime_error(where + "unknown key '" + std::string(key) + "'");
    }
  }
  if (!haveKind) throw std::runtime_error("kind is missing");
  if (!haveSource) throw std::runtime_error("source is missing");
  return entry;
}

std::optional<PatentEntry> MirrorData::Find(std::string_view number) const {
  if (!IsNumber(number)) return std::nullopt;
  const fs::path folder = fs::path(dir_) / std::string(number);
  const fs::path manifest = folder / kManifest;
  std::error_code error;
  if (!fs::is_regular_file(manifest, error)) return std::nullopt;
  PatentEntry entry;
  try {
    entry = ParseManifest(ReadFile(manifest));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(manifest.string() + ": " + e.what());
  }
  entry.Number = number;
  if (entry.Pages == 0) {
    for (const fs::directory_entry& file : fs::directory_iterator(folder, error)) {
      entry.Pages = std::max(entry.Pages, PageOfFileName(file.path().filename().string()));
    }
  }
  return entry;
}

std::optional<std::string> MirrorData::PagePath(std::string_view number, int page) const {
  if (!IsNumber(number) || page < 1) return std::nullopt;
  const fs::path path = fs::path(dir_) / std::string(number) / PageFileName(page);
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  return path.string();
}

std::vector<PatentEntry> MirrorData::List() const {
  std::vector<PatentEntry> entries;
  std::error_code error;
  for (const fs::directory_entry& folder : fs::directory_iterator(dir_, error)) {
    try {
      if (auto entry = Find(folder.path().filename().string())) entries.push_back(*entry);
    } catch (const std::runtime_error&) {
      // A broken manifest is reported when its patent is asked for.
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const PatentEntry& a, const PatentEntry& b) { return a.Number < b.Number; });
  return entries;
}

void MirrorData::MakeSample(const std::string& dir) {
  struct SamplePatent {
    const char* Number;
    const char* Kind;
    const char* Source;
    int Pages;
  };
  constexpr SamplePatent kSamples[] = {
      {"200710038426", "fmzl", "mirror", 12},
      {"201910987654", "fmzl", "mirror", 50},
      {"200820123456", "syxx", "office", 3},
      {"98123456", "fmzl", "office", 1},
  };
  for (const SamplePatent& sample : kSamples) {
    WritePatent(dir, sample.Number, sample.Kind, sample.Source, sample.Pages,
                "Sample patent of brevisfetch-mirror.");
  }
}

std::vector<PatentEntry> MirrorData::MakeGenerated(const std::string& dir,
                                                   const GeneratedSet& set) {
  if (set.Patents < 1) throw std::invalid_argument("At least one patent must be generated.");
  if (set.MinPages < 1 || set.MaxPages < set.MinPages || set.MaxPages > kMaxPages) {
    throw std::invalid_argument("The page range must lie within 1-" + std::to_string(kMaxPages) +
                                ", its first number not above its second.");
  }
  // Everything random is drawn here, in order, so that the threads below change nothing.
  SeededRandom random(set.Seed);
  std::vector<PatentEntry> patents;
  std::set<std::string> numbers;
  while (static_cast<int>(patents.size()) < set.Patents) {
    PatentEntry entry;
    const bool invention = random.Between(0, 1) == 0;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d%c%07d", random.Between(2004, 2023),
                  invention ? '1' : '2', random.Between(0, 9999999));
    entry.Number = digits;
    entry.Kind = invention ? "fmzl" : "syxx";
    const int source = random.Between(0, 2);
    entry.Mirror = source != 1;
    entry.Office = source != 0;
    entry.Pages = random.Between(set.MinPages, set.MaxPages);
    if (numbers.insert(entry.Number).second) patents.push_back(std::move(entry));
  }

  fs::create_directories(dir);
  std::ofstream list(fs::path(dir) / kNumberList, std::ios::binary | std::ios::trunc);
  for (const PatentEntry& entry : patents) {
    const std::u16string number(entry.Number.begin(), entry.Number.end());
    list << "CN" << entry.Number << '.' << static_cast<char>(CheckCharacter(number)) << '\n';
  }
  list.close();
  if (!list)
    throw std::runtime_error("Cannot write " + (fs::path(dir) / kNumberList).string() + ".");

  // Drawing the pages takes nearly all the time: the patents are shared out among threads.
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto work = [&] {
    for (std::size_t i = next++; i < patents.size(); i = next++) {
      const PatentEntry& entry = patents[i];
      try {
        WritePatent(dir, entry.Number, entry.Kind,
                    entry.Mirror && entry.Office ? "both"
                    : entry.Mirror               ? "mirror"
                                                 : "office",
                    entry.Pages, "Generated patent of brevisfetch-mirror.");
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
        next = patents.size();
      }
    }
  };
  const std::size_t threads =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, patents.size());
  std::vector<std::thread> workers;
  for (std::size_t i = 1; i < threads; ++i) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
  return patents;
}

}  // namespace brevis
