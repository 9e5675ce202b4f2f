// Program layout helpers: the length of a node with its operands and the name of an opcode.
#include "regex/program.h"

namespace brevis {

size_t LiteralLength(const char16_t* p) {
  size_t n = 0;
  while (p[n] != 0) ++n;
  return n;
}

int NodeLength(const char16_t* node) {
  const char16_t op = node[0];
  switch (op) {
    case ANYOF:
    case ANYBUT:
    case EXACTLY:
    case EXACTLYCI:
    case ANYOFCI:
    case ANYBUTCI:
      return kNodeSize + static_cast<int>(LiteralLength(Operand(node))) + 1;
    case BRACES:
    case BRACESNG:
      return kNodeSize + 2 * kIntSize;
    case LOOP:
    case LOOPNG:
      return kNodeSize + 3 * kIntSize;
    case BSUBEXP:
    case BSUBEXPCI:
      return kNodeSize + 1;
    case END:
    case BOL:
    case EOL:
    case ANY:
    case BRANCH:
    case BACK:
    case NOTHING:
    case STAR:
    case PLUS:
    case ANYDIGIT:
    case NOTDIGIT:
    case ANYLETTER:
    case NOTLETTER:
    case ANYSPACE:
    case NOTSPACE:
    case COMMENT:
    case LOOPENTRY:
    case STARNG:
    case PLUSNG:
    case BOLML:
    case EOLML:
    case ANYML:
    case BOUND:
    case NOTBOUND:
      return kNodeSize;
    default:
      return IsOpen(op) || IsClose(op) ? kNodeSize : 0;
  }
}

const char* OpName(char16_t op) {
  switch (op) {
    case END:
      return "END";
    case BOL:
      return "BOL";
    case EOL:
      return "EOL";
    case ANY:
      return "ANY";
    case ANYOF:
      return "ANYOF";
    case ANYBUT:
      return "ANYBUT";
    case BRANCH:
      return "BRANCH";
    case BACK:
      return "BACK";
    case EXACTLY:
      return "EXACTLY";
    case NOTHING:
      return "NOTHING";
    case STAR:
      return "STAR";
    case PLUS:
      return "PLUS";
    case ANYDIGIT:
      return "ANYDIGIT";
    case NOTDIGIT:
      return "NOTDIGIT";
    case ANYLETTER:
      return "ANYLETTER";
    case NOTLETTER:
      return "NOTLETTER";
    case ANYSPACE:
      return "ANYSPACE";
    case NOTSPACE:
      return "NOTSPACE";
    case BRACES:
      return "BRACES";
    case COMMENT:
      return "COMMENT";
    case EXACTLYCI:
      return "EXACTLY/CI";
    case ANYOFCI:
      return "ANYOF/CI";
    case ANYBUTCI:
      return "ANYBUT/CI";
    case LOOPENTRY:
      return "LOOPENTRY";
    case LOOP:
      return "LOOP";
    case BSUBEXP:
      return "BSUBEXP";
    case BSUBEXPCI:
      return "BSUBEXP/CI";
    case STARNG:
      return "STARNG";
    case PLUSNG:
      return "PLUSNG";
    case BRACESNG:
      return "BRACESNG";
    case LOOPNG:
      return "LOOPNG";
    case BOLML:
      return "BOLML";
    case EOLML:
      return "EOLML";
    case ANYML:
      return "ANYML";
    case BOUND:
      return "BOUND";
    case NOTBOUND:
      return "NOTBOUND";
    default:
      if (IsOpen(op)) return "OPEN";
      if (IsClose(op)) return "CLOSE";
      return nullptr;
  }
}

}  // namespace brevis
