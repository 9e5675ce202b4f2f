// DownloadItem: one page-download job, and AfterDownloadEvent, the callback a worker calls once
// the job's file is in place.
#pragma once

#include <functional>
#include <string>

namespace brevis {

class DownloadThread;

// Called on the worker's thread after the job's file has been written, with the worker as
// `sender`. May be empty. It should not throw: the page is in place, so an exception from it
// is dropped and does not fetch the page again.
using AfterDownloadEvent = std::function<void(DownloadThread& sender)>;

// Copied by value into a queue, out of it and back into it for a retry.
struct DownloadItem {
  brevis::AfterDownloadEvent AfterDownloadEvent;
  std::u16string LocalUrl;   // full path of the file to write
  std::u16string RemoteUrl;  // address to fetch
};

}  // namespace brevis
