// FetchLimits: the bounds on one page fetch of a download worker, so that neither a slow or
// hostile server nor an oversized page can hold a worker or its memory for ever.
#pragma once

#include <cstdint>

namespace brevis {

class RequestPacer;

struct FetchLimits {
  // Each wait for the server, in milliseconds.
  int ReadTimeout = 15000;
  // The whole fetch of one page (connect, request, answer), in milliseconds; 0: no limit.
  int Deadline = 0;
  // Largest page body accepted: far above any page image (a G4 page is some 100 KiB, even an
  // uncompressed grey A4 page at 300 dpi under 9 MiB), yet five workers stay well under 1 GiB.
  int64_t MaxBodySize = int64_t{32} << 20;
  // The process's request pace, which each page request waits for and which a 429 or 503
  // answer's Retry-After holds off; owned by the caller and outliving the worker. Null: none.
  RequestPacer* Pacer = nullptr;
};

}  // namespace brevis
