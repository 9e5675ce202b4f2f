// The stand-ins' side of the service protocol: the mirror request's cipher text and its answer.
#include "stand_in/service_answers.h"

#include "common/ascii_text.h"
#include "common/text.h"
#include "protocol/service_protocol.h"

namespace brevis {

bool IsNumberCipher(std::string_view cipher) {
  return ascii::IsDigits(cipher) && cipher.size() % 4 == 0 && cipher.size() <= 64;
}

std::string DecipherText(const RSA& rsa, std::string_view cipher) {
  return Utf16ToUtf8(rsa.Decrypt(Latin1ToUtf16(cipher)));
}

std::string PageBaseAddress(std::string_view host, std::string_view number) {
  return "http://" + std::string(host) + std::string(protocol::kPagesPrefix) + std::string(number);
}

std::string MirrorAnswerCipher(const RSA& rsa, int pages, std::string_view host,
                               std::string_view number) {
  const std::string answer =
      protocol::MirrorAnswer(std::to_string(pages), PageBaseAddress(host, number));
  return Utf16ToUtf8(rsa.Encrypt(Latin1ToUtf16(answer)));
}

}  // namespace brevis
