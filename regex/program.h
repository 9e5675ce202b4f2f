// Compiled form of a pattern: one array of 16-bit units holding a chain of nodes.
// Written by the compiler (compiler.cpp), walked by the matcher (matcher.cpp) and Dump (dump.cpp);
// the layout helpers are in program.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brevis {

// Layout of the program array:
//   unit 0                      // kMagic, checked before every search
//   node: op, next_lo, next_hi  // opcode; signed 32-bit offset to the successor, counted in
//                               // units from the start of this node (0: no successor)
//   operands                    // follow the node directly; 32-bit integers are two units,
//                               // low unit first
// The first node, at unit 1, is always a BRANCH.
enum Op : char16_t {
  END = 0,         // no operand: end of program, success
  BOL = 1,         // no operand: at the start of the subject
  EOL = 2,         // no operand: at the end of the subject
  ANY = 3,         // no operand: any one unit
  ANYOF = 4,       // NUL-terminated member list: one unit in the list
  ANYBUT = 5,      // NUL-terminated member list: one unit not in the list
  BRANCH = 6,      // operand is the alternative's first node: one alternative of a choice
  BACK = 7,        // no operand: no-op whose next offset is negative (loop back)
  EXACTLY = 8,     // NUL-terminated literal: the literal
  NOTHING = 9,     // no operand: matches the empty string
  STAR = 10,       // operand node: simple operand 0 or more times, greedy
  PLUS = 11,       // operand node: simple operand 1 or more times, greedy
  ANYDIGIT = 12,   // no operand: one of "0"-"9"
  NOTDIGIT = 13,   // no operand: one unit that is not a digit
  ANYLETTER = 14,  // no operand: one unit of WordChars
  NOTLETTER = 15,  // no operand: one unit not in WordChars
  ANYSPACE = 16,   // no operand: one unit of SpaceChars
  NOTSPACE = 17,   // no operand: one unit not in SpaceChars
  BRACES = 18,     // min (2 units), max (2 units), operand node: min to max times, greedy
  COMMENT = 19,    // no operand: no-op (comment, inline modifier, skipped whitespace)
  EXACTLYCI = 20,  // NUL-terminated literal: the literal ignoring case
  ANYOFCI = 21,    // NUL-terminated member list: as ANYOF ignoring case
  ANYBUTCI = 22,   // NUL-terminated member list: as ANYBUT ignoring case
  LOOPENTRY = 23,  // no operand; next points at the LOOP node: entry of a counted loop
  LOOP = 24,       // min, max, body offset (2 units each; body offset is negative, from this
                   // node back to the body's first node): counted loop, greedy
  BSUBEXP = 28,    // group number (1 unit): the text last captured by that group
  BSUBEXPCI = 29,  // group number (1 unit): as BSUBEXP ignoring case
  STARNG = 30,     // operand node: as STAR, non-greedy
  PLUSNG = 31,     // operand node: as PLUS, non-greedy
  BRACESNG = 32,   // min, max, operand node: as BRACES, non-greedy
  LOOPNG = 33,     // min, max, body offset: as LOOP, non-greedy
  BOLML = 34,      // no operand: start of subject or start of a line
  EOLML = 35,      // no operand: end of subject or end of a line
  ANYML = 36,      // no operand: any one unit except line separators
  BOUND = 37,      // no operand: a word boundary
  NOTBOUND = 38,   // no operand: not a word boundary
  OPEN = 39,       // OPEN + n (n = 1..14), no operand: start of capturing group n
  CLOSE = 54,      // CLOSE + n (n = 1..14), no operand: end of capturing group n
};

// Modifier bits, as held in the 32-bit modifier sets.
inline constexpr uint32_t kModI = 1;   // case-insensitive
inline constexpr uint32_t kModR = 2;   // Russian letter ranges in classes
inline constexpr uint32_t kModS = 4;   // "." also matches line separators
inline constexpr uint32_t kModG = 8;   // quantifiers greedy
inline constexpr uint32_t kModM = 16;  // "^" and "$" also at line separators
inline constexpr uint32_t kModX = 32;  // extended syntax

inline constexpr char16_t kMagic = 216;
inline constexpr int kNodeSize = 3;               // opcode + 32-bit next offset
inline constexpr int kIntSize = 2;                // one 32-bit operand
inline constexpr int kMaxGroups = 15;             // entry 0 is the whole match, 1..14 the groups
inline constexpr int kMaxLoops = 10;              // counted loops active at once
inline constexpr int32_t kInfinite = 2147483646;  // upper bound of "{n,}", "*?" and "+?"

inline Op OpOf(const char16_t* node) { return static_cast<Op>(node[0]); }

inline int32_t ReadInt(const char16_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 16));
}

inline void WriteInt(char16_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<char16_t>(u & 0xFFFFu);
  p[1] = static_cast<char16_t>(u >> 16);
}

// Successor of a node, or nullptr when its offset is 0.
inline const char16_t* NextNode(const char16_t* node) {
  const int32_t off = ReadInt(node + 1);
  return off == 0 ? nullptr : node + off;
}

inline const char16_t* Operand(const char16_t* node) { return node + kNodeSize; }

inline bool IsOpen(char16_t op) { return op > OPEN && op <= OPEN + 14; }
inline bool IsClose(char16_t op) { return op > CLOSE && op <= CLOSE + 14; }

// Units of a NUL-terminated operand (literal or member list) before its NUL.
size_t LiteralLength(const char16_t* p);

// Units a node occupies with its operands; 0 for an opcode that is not part of the program set.
int NodeLength(const char16_t* node);

// Name printed by Dump, or nullptr for an unknown opcode.
const char* OpName(char16_t op);

// Facts computed after compilation that let a search skip impossible start positions.
struct Program {
  std::vector<char16_t> Code;  // code[0] == kMagic
  char16_t RegStart = 0;       // first unit of every match, or 0
  bool RegAnch = false;        // every match begins at the start offset
  int RegMust = -1;            // index in code of a literal every match contains, or -1
  int RegMLen = 0;             // its length
  int Groups = 0;              // capturing groups (1..14) the program holds
  // Not part of the compiled layout: helpers derived from it.
  int Prefix = -1;  // index of the literal every match starts with (regstart's), or -1
  int PrefixLen = 0;
  std::vector<uint8_t> LoopHead;    // per unit: 1 where a BACK node jumps to
  std::vector<int> BackExit;        // per unit: for a BACK node, the node that leaves its loop
  std::vector<char16_t> FirstUnit;  // per unit: for a node, the unit a walk from it must meet
                                    // first (looking through group marks and no-ops), or 0
};

}  // namespace brevis
