// PageRecognition: recognises the text of page files on a pool of threads, one engine on each,
// while the caller goes on (fetching further pages, combining earlier ones).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ocr/ocr_engine.h"
#include "ocr/recognizer.h"

namespace brevis {

// The text lines of one image, and the image's size in pixels.
struct ImageText {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<RecognizedLine> Lines;
};

// The text of a page file: that of each of its images, in the file's order, or why there is
// none.
struct PageText {
  std::vector<ImageText> Images;
  std::string Error;  // empty when the file was recognised
};

class PageRecognition {
 public:
  // `threads` engines for the recognition `languages` ("neural", or Tesseract's languages: see
  // ocr_engine.h), each started by its thread when the first page comes;
  // 0 threads: one per core that this process may run on (its CPU affinity). Throws OcrError at
  // once when a language's data is missing.
  explicit PageRecognition(std::string languages = kDefaultOcrLanguages, unsigned threads = 0);
  // Pages waiting are dropped; a page under way is finished first.
  ~PageRecognition();
  PageRecognition(const PageRecognition&) = delete;
  PageRecognition& operator=(const PageRecognition&) = delete;

  unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

  // Queues the page file for recognition unless it is queued, under way or done already. Any
  // thread may call it; it never waits for recognition.
  void Submit(const std::string& path);
  // The page file's text, waiting for it; a file not submitted yet is submitted first, and a
  // file still waiting goes to the head of the queue.
  PageText Take(const std::string& path);
  // Forgets every file submitted and not taken.
  void Clear();

  // The file that keeps the text of the page file `pagePath` (see saved_page_text.h).
  using SavedTextPath = std::function<std::string(const std::string& pagePath)>;
  // For the files that threads take up from now on: the text of each file recognised is saved in
  // the file `savedPath` gives for it, and with `reuse` a file whose saved text fits its bytes and
  // this pool's languages takes that text instead of being recognised again. A null `savedPath`,
  // the default, saves and reuses nothing. `savedPath` is called on the pool's threads.
  void SaveTexts(SavedTextPath savedPath, bool reuse);

 private:
  enum class State { kWaiting, kUnderWay, kDone };
  struct Entry {
    State Now = State::kWaiting;
    PageText Text;
  };

  void Work();
  // Decodes and recognises the file with the thread's engine, started on first use; or takes
  // its text saved in `saved` (empty: none) when `reuse` and it fits; and saves what it read.
  PageText Read(std::unique_ptr<PageReader>& engine, const std::string& path,
                const std::string& saved, bool reuse) const;

  const std::string languages_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;         // files waiting, first to go first
  std::map<std::string, Entry> entries_;  // files submitted and not taken
  bool stopping_ = false;
  SavedTextPath savedPath_;
  bool reuse_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace brevis
