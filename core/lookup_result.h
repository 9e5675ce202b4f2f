// LookupResult: how a patent lookup ended, as a value: the pages found, or the cause of finding
// none with the failing service's address and error. The window turns it into a message box,
// the command line into its output and report.
#pragma once

#include <cstdint>
#include <string>

#include "core/re_razavu.h"

namespace brevis {

enum class LookupCause {
  kFound,         // a service named the pages: Found.GkPages > 0
  kMirrorFailed,  // the mirror could not be asked: Address and Error say why
  kSearchFailed,  // the mirror had nothing, and the search page could not be asked
  kNothingFound,  // the service that answered named no pages
  kTooManyPages,  // a page count above kMaxLookupPages was refused: RefusedPages
};

struct LookupResult {
  LookupCause Cause = LookupCause::kNothingFound;
  // Apn and LeiXin as asked; the count and base address as the answer gave them (counts 0 for
  // kTooManyPages).
  ReRazavu Found;
  std::string Address;       // kMirrorFailed, kSearchFailed: the address asked
  std::string Error;         // kMirrorFailed, kSearchFailed: the error's message
  int32_t RefusedPages = 0;  // kTooManyPages: the larger count

  // Why the service failed: "<address>: <error>"; empty when no service failed.
  std::string ServiceFailure() const { return Address.empty() ? "" : Address + ": " + Error; }
};

}  // namespace brevis
