// The PDF writer's exception: every failure of the writer's own checks carries a fixed English
// message ("Invalid page number.", "Invalid filename.", ...).
#pragma once

#include <stdexcept>
#include <string>

namespace brevis {

class PdfError : public std::runtime_error {
 public:
  explicit PdfError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace brevis
