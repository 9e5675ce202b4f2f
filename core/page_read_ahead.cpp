// AddTiffFiles: a window of kTiffFilesAhead futures sliding over the page files.
#include "core/page_read_ahead.h"

#include <deque>
#include <future>

namespace brevis {

void AddTiffFiles(PdfDocument& document, const std::vector<std::string>& fileNames,
                  PdfImageCompressionType compression, TiffPaintType paintType,
                  const std::function<void(std::size_t done)>& progress) {
  document.RequireDocument();
  const int quality = document.JpegQuality();
  const auto prepare = [&fileNames, compression, quality](std::size_t i) {
    return std::async(std::launch::async, PrepareTiff, fileNames[i], compression, quality,
                      TiffDecoding::kAuto);
  };
  // Files read ahead, in order; at most kTiffFilesAhead at a time. A failure stops the loop;
  // the futures still running are waited for as the deque goes.
  std::deque<std::future<PreparedTiff>> ahead;
  std::size_t started = 0;
  for (std::size_t i = 0; i < fileNames.size(); ++i) {
    while (started < fileNames.size() && started < i + kTiffFilesAhead) {
      ahead.push_back(prepare(started++));
    }
    std::future<PreparedTiff> current = std::move(ahead.front());
    ahead.pop_front();
    if (i > 0) document.AddPage();
    document.AddPreparedTiff(current.get(), paintType);
    if (progress) progress(i + 1);
  }
}

}  // namespace brevis
