// The pattern engine's error codes, with the message text of each: compile errors below 1000,
// execution errors from 1000. PatternError carries the code; Pattern::ErrorMsg gives the text.
#pragma once

namespace brevis {

enum PatternErrorCode : int {
  kErrorNone = 0,
  // Compile errors.
  kErrorNullArgument = 100,
  kErrorRegexpTooBig = 101,
  kErrorTooManyGroups = 102,
  kErrorUnmatchedOpen = 103,   // a group without its ")"
  kErrorUnmatchedClose = 104,  // a ")" without its group
  kErrorJunkOnEnd = 105,
  kErrorOperandCouldBeEmpty = 106,
  kErrorNestedQuantifier = 107,
  kErrorBadHexDigit = 108,
  kErrorInvalidRange = 109,
  kErrorClassTrailingBackslash = 110,
  kErrorNoHexCode = 111,
  kErrorHexCodeTooBig = 112,
  kErrorUnmatchedBracket = 113,
  kErrorInternalUrp = 114,
  kErrorQuantifierFollowsNothing = 115,
  kErrorTrailingBackslash = 116,
  kErrorParseAtomInternal = 119,
  kErrorBracesArgumentTooBig = 122,
  kErrorBracesMinGreaterThanMax = 124,
  kErrorUnclosedComment = 125,
  kErrorUnrecognizedModifier = 127,
  kErrorBadLinePairedSeparator = 128,
  // Execution errors.
  kErrorRepeatCalledInappropriately = 1000,
  kErrorMatchPrimMemoryCorruption = 1001,
  kErrorMatchPrimCorruptedPointers = 1002,
  kErrorNoExpression = 1003,
  kErrorCorruptedProgram = 1004,
  kErrorNoInputString = 1005,
  kErrorOffsetNotPositive = 1006,
  kErrorExecNextWithoutExec = 1007,
  kErrorInputStringNotSet = 1008,
  kErrorDumpCorruptedOpcode = 1011,
  kErrorBadModifier = 1013,  // has no text of its own: "Unknown error"
  kErrorLoopStackExceeded = 1014,
  kErrorLoopWithoutEntry = 1015,
  // A search would nest deeper than the matcher's bounds (Pattern::kMaxWalkDepth levels, or
  // the calling thread's stack).
  kErrorNestingTooDeep = 1016,
  // A search used up its step budget (Pattern::SearchBudget): the pattern backtracks too much
  // on this subject. A caller reading text it does not control treats it as "no match".
  kErrorSearchBudgetExceeded = 1017,
  kErrorBadPCode = 2000,
};

// Message of an error code; "Unknown error" for a code without one.
const char* PatternErrorText(int code);

}  // namespace brevis
