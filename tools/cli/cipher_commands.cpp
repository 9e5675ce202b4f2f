// "encipher" and "decipher": the request cipher with the application's key.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "cipher/rsa.h"
#include "common/ascii_text.h"
#include "common/text.h"
#include "tools/cli/commands.h"

namespace brevis::cli {

void AddCipherCommands(CLI::App& app) {
  auto text = std::make_shared<std::string>();
  CLI::App* encipher = app.add_subcommand("encipher", "Print the cipher text of TEXT");
  encipher->add_option("TEXT", *text, "Plain text (UTF-8)")->required();
  encipher->callback([text] {
    const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
    const std::u16string plain = Utf8ToUtf16(*text);
    // Each code unit is enciphered on its own, modulo the key's modulus: a larger one would
    // come back as another character.
    for (char16_t unit : plain) {
      if (unit >= kAppKeyN) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(unit));
        throw std::runtime_error(std::string("Cannot encipher ") + code +
                                 ": the cipher carries code units below " +
                                 std::to_string(kAppKeyN) + " only.");
      }
    }
    std::cout << Utf16ToUtf8(rsa.Encrypt(plain)) << '\n';
  });

  auto digits = std::make_shared<std::string>();
  CLI::App* decipher = app.add_subcommand("decipher", "Print the plain text of cipher DIGITS");
  decipher->add_option("DIGITS", *digits, "Cipher text: groups of four decimal digits")->required();
  decipher->callback([digits] {
    const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
    if (digits->size() % 4 != 0) {
      throw std::runtime_error("Cipher text is groups of four decimal digits; " +
                               std::to_string(digits->size()) + " digits are not.");
    }
    for (std::size_t i = 0; i < digits->size(); i += 4) {
      const std::string group = digits->substr(i, 4);
      if (ascii::IsDigits(group) && std::stoi(group) >= kAppKeyN) {
        throw std::runtime_error("Cipher group " + group + " is not below the key's modulus " +
                                 std::to_string(kAppKeyN) + ".");
      }
    }
    std::cout << Utf16ToUtf8(rsa.Decrypt(Utf8ToUtf16(*digits))) << '\n';
  });
}

}  // namespace brevis::cli
