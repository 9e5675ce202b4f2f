// "encipher" and "decipher": the request cipher with the application's key.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "cipher/rsa.h"
#include "common/text.h"
#include "tools/cli/commands.h"

namespace brevis::cli {

void AddCipherCommands(CLI::App& app) {
  auto text = std::make_shared<std::string>();
  CLI::App* encipher = app.add_subcommand("encipher", "Print the cipher text of TEXT");
  encipher->add_option("TEXT", *text, "Plain text (UTF-8)")->required();
  encipher->callback([text] {
    const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
    std::cout << Utf16ToUtf8(rsa.Encrypt(Utf8ToUtf16(*text))) << '\n';
  });

  auto digits = std::make_shared<std::string>();
  CLI::App* decipher = app.add_subcommand("decipher", "Print the plain text of cipher DIGITS");
  decipher->add_option("DIGITS", *digits, "Cipher text: groups of four decimal digits")->required();
  decipher->callback([digits] {
    const RSA rsa(kAppKeyN, kAppKeyE, kAppKeyD);
    std::cout << Utf16ToUtf8(rsa.Decrypt(Utf8ToUtf16(*digits))) << '\n';
  });
}

}  // namespace brevis::cli
