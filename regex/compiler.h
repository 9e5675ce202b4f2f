// Pattern compiler: turns pattern text into the node program of program.h in two passes.
#pragma once

#include <cstdint>
#include <string_view>

#include "regex/program.h"

namespace brevis {

struct CompilerInput {
  const char16_t* Text = nullptr;  // NUL-terminated pattern
  uint32_t Modifiers = 0;          // kModI ... kModX
  std::u16string_view SpaceChars;  // copied into classes for "\s"
  std::u16string_view WordChars;   // copied into classes for "\w"
  bool LineModePossible = false;   // LineSeparators non-empty or a paired separator assigned
};

struct CompileStatus {
  int Code = 0;  // 0 on success, else the error code
  int Pos = 0;   // pattern units before the parse position when the error was found
};

// Applies modifier letters (i r s g m x, either case; "-" turns the following letters off) to
// mods. Returns false, leaving mods unchanged, when another character occurs.
bool ApplyModifierLetters(std::u16string_view letters, uint32_t& mods);

// Compiles input.Text into out (replacing its contents). On failure out is left empty.
CompileStatus CompileProgram(const CompilerInput& input, Program& out);

}  // namespace brevis
