// The server side of the service protocol (protocol/service_protocol.h), as the stand-in servers
// speak it: reading the mirror request's cipher text and writing the mirror's answer.
#pragma once

#include <string>
#include <string_view>

#include "cipher/rsa.h"

namespace brevis {

// Whether `cipher` can be the cipher text of an application number: groups of four decimal
// digits, one group per character of a number of at most 16 digits.
bool IsNumberCipher(std::string_view cipher);

// The text `cipher` (decimal digit groups) deciphers to with `rsa`, as UTF-8. Throws
// ConvertError when `cipher` is not such groups.
std::string DecipherText(const RSA& rsa, std::string_view cipher);

// Where a stand-in serves a patent's pages: "http://<host>/pages/<number>". `host` is a host name
// or address with an optional port, as it stands in an address.
std::string PageBaseAddress(std::string_view host, std::string_view number);

// The mirror's answer for a patent it holds: "<pages>\t<PageBaseAddress>" enciphered with `rsa`.
std::string MirrorAnswerCipher(const RSA& rsa, int pages, std::string_view host,
                               std::string_view number);

}  // namespace brevis
