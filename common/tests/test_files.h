// Small file and process helpers that tests across the project share: reading a file whole, a
// fresh scratch folder per test, PDF text with its dates masked, and a shell command's output.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace brevis::test {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An empty folder named after `prefix`, the process and the running test, so that tests run in
// parallel never share one. The caller removes it.
inline std::filesystem::path FreshTestDir(const std::string& prefix) {
  const auto dir = std::filesystem::temp_directory_path() /
                   (prefix + "_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// The PDF with its dates masked: two runs over the same pages differ only there.
inline std::string MaskedPdf(const std::filesystem::path& path) {
  return std::regex_replace(ReadFile(path), std::regex(R"(\(D:[0-9]{14}\))"), "(D:)");
}

// What a shell command writes on standard output.
inline std::string ShellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

}  // namespace brevis::test
