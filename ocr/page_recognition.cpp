// PageRecognition: a queue of page files and threads that decode and recognise them.
#include "ocr/page_recognition.h"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "ocr/saved_page_text.h"
#include "pdf/tiff_import.h"

namespace brevis {

namespace {

// The cores this process may run on: a batch system's task (a Slurm job step, a container, a
// taskset) gets fewer than the machine has, and an engine each on the others would only take
// turns on them, with 100 MB of memory apiece.
unsigned UsableCores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  if (::sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&cores));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

PageRecognition::PageRecognition(std::string languages, unsigned threads)
    : languages_(std::move(languages)) {
  CheckOcrRecognition(languages_);
  if (threads == 0) threads = UsableCores();
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

PageRecognition::~PageRecognition() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void PageRecognition::Submit(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!entries_.try_emplace(path).second) return;
    queue_.push_back(path);
  }
  changed_.notify_all();
}

PageText PageRecognition::Take(const std::string& path) {
  std::unique_lock<std::mutex> lock(lock_);
  if (entries_.try_emplace(path).second) {
    queue_.push_front(path);
    changed_.notify_all();
  } else if (const auto waiting = std::find(queue_.begin(), queue_.end(), path);
             waiting != queue_.end()) {
    queue_.erase(waiting);
    queue_.push_front(path);
  }
  changed_.wait(lock, [&] { return entries_[path].Now == State::kDone; });
  PageText text = std::move(entries_[path].Text);
  entries_.erase(path);
  return text;
}

void PageRecognition::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  queue_.clear();
  // A file under way stays until its thread has put its text there.
  std::erase_if(entries_, [](const auto& entry) { return entry.second.Now != State::kUnderWay; });
}

void PageRecognition::SaveTexts(SavedTextPath savedPath, bool reuse) {
  std::lock_guard<std::mutex> guard(lock_);
  savedPath_ = std::move(savedPath);
  reuse_ = reuse;
}

void PageRecognition::Work() {
  std::unique_ptr<PageReader> engine;
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const std::string path = std::move(queue_.front());
    queue_.pop_front();
    entries_[path].Now = State::kUnderWay;
    const SavedTextPath savedPath = savedPath_;
    const bool reuse = reuse_;
    lock.unlock();
    PageText text = Read(engine, path, savedPath ? savedPath(path) : std::string(), reuse);
    lock.lock();
    Entry& entry = entries_[path];
    entry.Text = std::move(text);
    entry.Now = State::kDone;
    changed_.notify_all();
  }
}

PageText PageRecognition::Read(std::unique_ptr<PageReader>& engine, const std::string& path,
                               const std::string& saved, bool reuse) const {
  // The bytes are read before the file is decoded, so that a file replaced meanwhile is saved
  // under the old bytes and recognised again next time rather than the other way round.
  std::optional<std::string> bytes;
  if (!saved.empty()) bytes = ReadPageBytes(path);
  if (bytes && reuse) {
    if (std::optional<PageText> kept = ReadSavedPageText(saved, *bytes, languages_)) return *kept;
  }
  PageText text;
  try {
    const std::vector<OneBitImage> images = DecodeTiffPages(path);
    if (!engine) engine = StartPageReader(languages_);
    for (const OneBitImage& image : images) {
      text.Images.push_back({image.Width, image.Height, engine->Recognize(image)});
    }
  } catch (const std::exception& error) {
    text.Images.clear();
    text.Error = error.what();
  }
  if (bytes) SavePageText(saved, *bytes, languages_, text);
  return text;
}

}  // namespace brevis
