// Listing of a compiled program (one line per node with its operands, then the start-up facts).
#pragma once

#include <string>

#include "regex/program.h"

namespace brevis {

// Sets error to kErrorDumpCorruptedOpcode and returns what was listed so far when an unknown opcode
// is met.
std::u16string DumpProgram(const Program& prog, int& error);

}  // namespace brevis
