// MD5 digests (RFC 1321) through OpenSSL; OpenSSL stays behind this interface.
#pragma once

#include <string>
#include <string_view>

namespace brevis {

// The digest of the bytes as 32 lower-case hexadecimal digits. Throws PdfError when the library
// cannot compute it (MD5 disabled, say).
std::string Md5Hex(std::string_view bytes);

}  // namespace brevis
