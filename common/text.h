// Conversion between UTF-8 byte text, UTF-16 text and code points, shared by every subsystem.
#pragma once

#include <string>
#include <string_view>

namespace brevis {

// Decodes UTF-8. Ill-formed sequences become U+FFFD, one per offending byte, so that
// no input is silently dropped.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Encodes UTF-16. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// The code point that starts at utf16[i], moving `i` past it (one unit or a surrogate pair). An
// unpaired surrogate becomes U+FFFD. Precondition: i < utf16.size().
char32_t NextCodePoint(std::u16string_view utf16, std::size_t& i);

// Decodes UTF-8 into code points, ill-formed sequences as Utf8ToUtf16 treats them.
std::u32string Utf8ToUtf32(std::string_view utf8);
// Encodes code points as UTF-8; a surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string Utf32ToUtf8(std::u32string_view text);

// Widens bytes 0x00-0xFF one to one (Latin-1). Useful for ASCII protocol text.
std::u16string Latin1ToUtf16(std::string_view bytes);

// UTF-8 text made safe to print on a terminal: CR LF becomes a line feed; other control
// characters (C0 but line feed and tab, DEL) and bytes that are not well-formed UTF-8 become
// "\xNN", C1 controls "\u00NN"; everything else is kept.
std::string EscapeControls(std::string_view text);

}  // namespace brevis
