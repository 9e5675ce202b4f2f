// WriteFileAtomically: puts a file in place in one step, so that no partial file ever carries
// the file's name, even when the process is killed while writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brevis {

// Writes `size` bytes to a new file with a temporary name in the folder of `path`, then renames
// it to `path`, replacing an existing file. Throws std::runtime_error naming the file and the
// system's reason when anything fails; the temporary file is removed then.
void WriteFileAtomically(const std::string& path, const uint8_t* data, std::size_t size);

}  // namespace brevis
