// The recogniser's pure parts: CTC's best path through class scores, the characters as words
// with the white measured in the line's ink, and the key file's checks.
#include "ocr/neural/line_recognizer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brevis::neural {
namespace {

// Classes: 0 blank, 1 "a", 2 "b", 3 "c", 4 "中", 5 "文", 6 space.
const CharacterKeys kKeys({u"a", u"b", u"c", u"中", u"文"});

// Scores whose best class at each step is the one given; the others get smaller, uneven
// scores so that no tie decides.
Floats Scores(const std::vector<int>& best) {
  Floats scores;
  for (std::size_t s = 0; s < best.size(); ++s) {
    for (std::size_t c = 0; c < 7; ++c) {
      scores.push_back(static_cast<int>(c) == best[s] ? 0.9f
                                                      : 0.01f * static_cast<float>((c + s) % 5));
    }
  }
  return scores;
}

std::string Describe(const std::vector<StepCharacter>& characters) {
  std::string out;
  for (const StepCharacter& c : characters) {
    if (c.BlankBefore) out += ' ';
    out.append(c.Text.begin(), c.Text.end());
    out += '@';
    out += std::to_string(c.Step);
  }
  return out;
}

TEST(LineRecognizerTest, BestPathCollapsesRepeatsAndNotesBlanks) {
  EXPECT_EQ(kKeys.Classes(), 7u);
  EXPECT_EQ(kKeys.Text(4), u"中");
  EXPECT_EQ(kKeys.Text(6), u" ");
  struct Case {
    std::vector<int> best;
    const char* characters;  // each character "@" its step, a blank before it when read one
  };
  const Case kCases[] = {
      {{}, ""},
      {{0, 0, 0}, ""},
      {{1, 1, 2, 2, 2, 3}, "a@0b@2c@5"},     // repeats collapse
      {{1, 0, 1, 1, 0, 0, 1}, "a@0a@2a@6"},  // the CTC blank separates repeats
      {{1, 6, 2}, "a@0 b@2"},                // a space sets BlankBefore
      {{1, 6, 6, 0, 6, 1}, "a@0 a@5"},
      {{6, 6, 0, 2, 0, 3}, "b@3c@5"},  // a leading space is no blank
      {{1, 2, 6}, "a@0b@1"},           // nor a trailing one
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.best));
    EXPECT_EQ(Describe(BestPath(Scores(c.best), c.best.size(), kKeys)), c.characters);
  }
  // Steps past the scores are not read.
  EXPECT_EQ(Describe(BestPath(Scores({1, 2}), 5, kKeys)), "a@0b@1");
}

TEST(LineRecognizerTest, StepWordsMeasureTheWidestWhiteRun) {
  struct Character {
    const char16_t* text;
    std::size_t step;
    bool blankBefore;
  };
  struct Case {
    const char* name;
    std::vector<Character> characters;
    const char* ink;  // '#' a column with ink
    double scale;
    int height;
    std::vector<LineWord> words;
  };
  // Steps 4 columns wide: step s is read at column 4 s + 2. Columns are scale page pixels after
  // x = 100.
  const Case kCases[] = {
      {"no white: gap 0",
       {{u"a", 0, false}, {u"b", 2, false}},
       "################",
       1,
       40,
       {{u"a", 102, 110, -1}, {u"b", 110, 111, 0}}},
      // White runs between columns 2 and 14: 3 (1 wide), 6 to 8 (3), 12 and 13 (2).
      {"the widest white run",
       {{u"中", 0, false}, {u"文", 3, false}},
       "###.##...###..##",
       1,
       40,
       {{u"中", 102, 106, -1}, {u"文", 109, 115, 3}}},
      {"in page pixels",
       {{u"中", 0, false}, {u"文", 3, false}},
       "###.##...###..##",
       2,
       40,
       {{u"中", 104, 112, -1}, {u"文", 118, 130, 6}}},
      // Latin letters and digits hold white in their own cells: without the recogniser's blank,
      // only white of 0.28 of the height or more is a gap.
      {"white within a Latin word",
       {{u"a", 0, false}, {u"b", 3, false}},
       "###.##...###..##",
       1,
       40,
       {{u"a", 102, 106, -1}, {u"b", 109, 115, 0}}},
      {"white wide enough between Latin characters",
       {{u"a", 0, false}, {u"b", 3, false}},
       "###.##...###..##",
       1,
       10,
       {{u"a", 102, 106, -1}, {u"b", 109, 115, 3}}},
      {"a blank between Latin characters: a quarter of the height",
       {{u"a", 0, false}, {u"b", 3, true}},
       "###.##...###..##",
       1,
       40,
       {{u"a", 102, 106, -1}, {u"b", 109, 115, 10}}},
      {"a blank, but the white is wider already",
       {{u"a", 0, false}, {u"b", 3, true}},
       "###.##...###..##",
       1,
       8,
       {{u"a", 102, 106, -1}, {u"b", 109, 115, 3}}},
      {"a blank between Chinese characters: the white only",
       {{u"中", 0, false}, {u"文", 3, true}},
       "###.##...###..##",
       1,
       40,
       {{u"中", 102, 106, -1}, {u"文", 109, 115, 3}}},
      {"a blank beside one Chinese character",
       {{u"a", 0, false}, {u"文", 3, true}},
       "###.##...###..##",
       1,
       40,
       {{u"a", 102, 106, -1}, {u"文", 109, 115, 3}}},
      {"a blank but no white",
       {{u"a", 0, false}, {u"b", 1, true}, {u"c", 3, false}},
       "################",
       1,
       40,
       {{u"a", 102, 106, -1}, {u"b", 106, 114, 10}, {u"c", 114, 115, 0}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<StepCharacter> characters;
    for (const Character& k : c.characters) characters.push_back({k.text, k.step, k.blankBefore});
    std::vector<bool> ink;
    for (const char* p = c.ink; *p; ++p) ink.push_back(*p == '#');
    const std::vector<LineWord> words = StepWords(characters, ink, 4.0, c.scale, 100, c.height);
    ASSERT_EQ(words.size(), c.words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(words[i].Text, c.words[i].Text);
      EXPECT_EQ(words[i].X0, c.words[i].X0);
      EXPECT_EQ(words[i].X1, c.words[i].X1);
      EXPECT_EQ(words[i].Gap, c.words[i].Gap);
    }
  }
}

TEST(LineRecognizerTest, KeyFilesAreOneCharacterALine) {
  std::string dir = ::testing::TempDir() + "line_recognizer_test_XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/keys.txt";
  auto keys = [&](const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return CharacterKeys(path);
  };

  const CharacterKeys crlf = keys("a\r\n\xE4\xB8\xAD\r\n!\n\xF0\x9F\x98\x80");
  ASSERT_EQ(crlf.Classes(), 6u);
  EXPECT_EQ(crlf.Text(1), u"a");
  EXPECT_EQ(crlf.Text(2), u"中");
  EXPECT_EQ(crlf.Text(3), u"!");
  EXPECT_EQ(crlf.Text(4), u"\U0001F600");  // one character, two UTF-16 units
  EXPECT_EQ(crlf.Text(5), u" ");

  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const Case kCases[] = {
      {"two characters on a line", "a\nbc\nd\n", "not one character (line 2)"},
      {"an empty line", "a\n\nb\n", "not one character (line 2)"},
      {"invalid UTF-8", "a\n\xFF\n", "not one character (line 2)"},
      {"a truncated sequence", "\xE4\xB8\n", "not one character (line 1)"},
      {"empty", "", "are empty"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      keys(c.bytes);
      ADD_FAILURE() << "read";
    } catch (const ModelError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
  }
  // Over 1 MiB, though every line is one character.
  std::string big;
  while (big.size() <= (1u << 20)) big += "a\n";
  EXPECT_NO_THROW(keys(big.substr(0, 1u << 20)));
  try {
    keys(big);
    ADD_FAILURE() << "read";
  } catch (const ModelError& error) {
    EXPECT_NE(std::string(error.what()).find("at most 1 MiB"), std::string::npos) << error.what();
  }
  EXPECT_THROW(CharacterKeys{dir + "/missing.txt"}, ModelError);
  EXPECT_THROW(CharacterKeys{dir}, ModelError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace brevis::neural
