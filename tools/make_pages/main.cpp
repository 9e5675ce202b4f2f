// make_pages: writes synthetic patent pages (A4, 300 dpi, Group 4) for benchmarks, for trying
// the combination by hand and for checking text recognition: OUTDIR/000001.tif, 000002.tif, ...,
// each with the text it prints beside it (000001.txt, UTF-8, one printed line a line).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "stand_in/page_generator.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
  CLI::App app{"Write synthetic patent pages (A4, 300 dpi, bilevel, Group 4 TIFF)."};
  app.name("make_pages");
  std::string dir;
  int count = 50;
  std::string number = "201910987654";
  bool noText = false;
  app.add_option("OUTDIR", dir, "Folder for the pages (created when missing)")->required();
  app.add_option("-n,--count", count, "Number of pages")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  app.add_option("--number", number, "Application number printed in the headers")
      ->capture_default_str();
  app.add_flag("--no-text", noText, "Write only the pages, not their text beside them");
  if (const auto status = brevis::ParseCommandLine(app, argc, argv)) return *status;
  try {
    std::filesystem::create_directories(dir);
    const brevis::PageGenerator generator(number, count);
    for (int page = 1; page <= count; ++page) {
      char name[32];
      std::snprintf(name, sizeof name, "%.6d", page);
      const std::filesystem::path base = std::filesystem::path(dir) / name;
      generator.WriteTiff(page, base.string() + ".tif");
      if (!noText) generator.WriteGroundTruth(page, base.string() + ".txt");
    }
  } catch (const std::exception& e) {
    std::cerr << "make_pages: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
