// MD5 through OpenSSL's EVP interface.
#include "pdf/md5_digest.h"

#include <openssl/evp.h>

#include <memory>

#include "pdf/pdf_error.h"

namespace brevis {

std::string Md5Hex(std::string_view bytes) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (context == nullptr || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
    throw PdfError("MD5 digest failed.");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int k = 0; k < size; ++k) {
    text += kHex[digest[k] >> 4];
    text += kHex[digest[k] & 0x0F];
  }
  return text;
}

}  // namespace brevis
