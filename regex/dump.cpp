// Listing of a compiled program, one line per node, for diagnostics.
#include "regex/dump.h"

#include <string>

#include "common/text.h"
#include "regex/error_codes.h"

namespace brevis {
std::u16string DumpProgram(const Program& prog, int& error) {
  error = 0;
  std::u16string out;
  const char16_t* code = prog.Code.data();
  const auto size = prog.Code.size();
  for (size_t i = 1; i < size;) {
    const char16_t* node = code + i;
    const char16_t op = node[0];
    const int len = NodeLength(node);
    const char* name = OpName(op);
    if (len == 0 || name == nullptr) {
      error = kErrorDumpCorruptedOpcode;
      return out;
    }
    const char16_t* next = NextNode(node);
    std::string line = std::to_string(i);
    line += ":";
    line += name;
    if (IsOpen(op) || IsClose(op)) {
      line += "[";
      line += std::to_string(op - (IsOpen(op) ? OPEN : CLOSE));
      line += "]";
    }
    line += " (";
    line += std::to_string(next == nullptr ? 0 : next - code);
    line += ")";
    out += Latin1ToUtf16(line);
    const char16_t* opnd = Operand(node);
    switch (op) {
      case EXACTLY:
      case EXACTLYCI:
      case ANYOF:
      case ANYBUT:
      case ANYOFCI:
      case ANYBUTCI:
        out += u" ";
        for (const char16_t* p = opnd; *p != 0; ++p) out.push_back(*p);
        break;
      case BSUBEXP:
      case BSUBEXPCI:
        line = " \\";
        line += std::to_string(opnd[0]);
        out += Latin1ToUtf16(line);
        break;
      case BRACES:
      case BRACESNG:
      case LOOP:
      case LOOPNG:
        line = " {";
        line += std::to_string(ReadInt(opnd));
        line += ",";
        line += std::to_string(ReadInt(opnd + kIntSize));
        line += "}";
        if (op == LOOP || op == LOOPNG) {
          line += " body ";
          line += std::to_string(static_cast<long long>(i) + ReadInt(opnd + 2 * kIntSize));
        }
        out += Latin1ToUtf16(line);
        break;
      default:
        break;
    }
    out += u"\n";
    i += static_cast<size_t>(len);
  }
  if (prog.RegStart != 0) {
    out += u"start ";
    out.push_back(prog.RegStart);
    out += u" ";
  }
  if (prog.RegAnch) out += u"anchored ";
  if (prog.RegMust >= 0) {
    out += u"must have ";
    out.append(code + prog.RegMust, static_cast<size_t>(prog.RegMLen));
  }
  if (prog.RegStart != 0 || prog.RegAnch || prog.RegMust >= 0) out += u"\n";
  return out;
}

}  // namespace brevis
