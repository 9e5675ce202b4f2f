// Message texts of the pattern engine's error codes.
#include "regex/error_codes.h"

namespace brevis {
namespace {

struct CodeText {
  int Code;
  const char* Text;
};

constexpr CodeText kErrorTexts[] = {
    {kErrorNone, "No errors"},
    {kErrorNullArgument, "Pattern(comp): Null Argument"},
    {kErrorRegexpTooBig, "Pattern(comp): Regexp Too Big"},
    {kErrorTooManyGroups, "Pattern(comp): ParseReg Too Many ()"},
    {kErrorUnmatchedOpen, "Pattern(comp): ParseReg Unmatched ()"},
    {kErrorUnmatchedClose, "Pattern(comp): ParseReg Unmatched ()"},
    {kErrorJunkOnEnd, "Pattern(comp): ParseReg Junk On End"},
    {kErrorOperandCouldBeEmpty, "Pattern(comp): *+ Operand Could Be Empty"},
    {kErrorNestedQuantifier, "Pattern(comp): Nested *?+"},
    {kErrorBadHexDigit, "Pattern(comp): Bad Hex Digit"},
    {kErrorInvalidRange, "Pattern(comp): Invalid [] Range"},
    {kErrorClassTrailingBackslash, "Pattern(comp): Parse Atom Trailing \\"},
    {kErrorNoHexCode, "Pattern(comp): No Hex Code After \\x"},
    {kErrorHexCodeTooBig, "Pattern(comp): Hex Code After \\x Is Too Big"},
    {kErrorUnmatchedBracket, "Pattern(comp): Unmatched []"},
    {kErrorInternalUrp, "Pattern(comp): Internal Urp"},
    {kErrorQuantifierFollowsNothing, "Pattern(comp): ?+*{ Follows Nothing"},
    {kErrorTrailingBackslash, "Pattern(comp): Trailing \\"},
    {kErrorParseAtomInternal, "Pattern(comp): ParseAtom Internal Disaster"},
    {kErrorBracesArgumentTooBig, "Pattern(comp): BRACES Argument Too Big"},
    {kErrorBracesMinGreaterThanMax, "Pattern(comp): BRACE Min Param Greater Than Max"},
    {kErrorUnclosedComment, "Pattern(comp): Unclosed (?#Comment)"},
    {kErrorUnrecognizedModifier, "Pattern(comp): Unrecognized Modifier"},
    {kErrorBadLinePairedSeparator,
     "Pattern(comp): LinePairedSeparator must contain two different chars or no chars at all"},
    {kErrorRepeatCalledInappropriately, "Pattern(exec): RegRepeat Called Inappropriately"},
    {kErrorMatchPrimMemoryCorruption, "Pattern(exec): MatchPrim Memory Corruption"},
    {kErrorMatchPrimCorruptedPointers, "Pattern(exec): MatchPrim Corrupted Pointers"},
    {kErrorNoExpression, "Pattern(exec): Not Assigned Expression Property"},
    {kErrorCorruptedProgram, "Pattern(exec): Corrupted Program"},
    {kErrorNoInputString, "Pattern(exec): No Input String Specified"},
    {kErrorOffsetNotPositive, "Pattern(exec): Offset Must Be Greater Than 0"},
    {kErrorExecNextWithoutExec, "Pattern(exec): ExecNext Without Exec[Pos]"},
    {kErrorInputStringNotSet, "Pattern(exec): GetInputString Without InputString"},
    {kErrorDumpCorruptedOpcode, "Pattern(dump): Corrupted Opcode"},
    {kErrorLoopStackExceeded, "Pattern(exec): Loop Stack Exceeded"},
    {kErrorLoopWithoutEntry, "Pattern(exec): Loop Without LoopEntry !"},
    {kErrorNestingTooDeep,
     "Pattern(exec): Match Nesting Too Deep (subject too long for this pattern)"},
    {kErrorSearchBudgetExceeded,
     "Pattern(exec): Search Step Budget Exceeded (pattern backtracks too much on this subject)"},
    {kErrorBadPCode, "Pattern(misc): Bad p-code imported"},
};

}  // namespace

const char* PatternErrorText(int code) {
  for (const CodeText& entry : kErrorTexts) {
    if (entry.Code == code) return entry.Text;
  }
  return "Unknown error";
}

}  // namespace brevis
