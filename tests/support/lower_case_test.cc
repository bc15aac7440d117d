#include "support/lower_case.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ToLowerUnicode, UsesTheSimpleMappings) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"Brovik-WORK:/X?Q=1", "brovik-work:/x?q=1"},
      {"\xC3\x80\xC3\x89\xC3\x8E", "\xC3\xA0\xC3\xA9\xC3\xAE"},  // ÀÉÎ
      {"\xC3\x9F", "\xC3\x9F"},                                  // ß has no lower case
      {"\xCE\x91\xCE\xA3", "\xCE\xB1\xCF\x83"},                  // ΑΣ, never the final sigma
      {"\xC4\xB0", "i"},                                         // İ: one to one, no dot
      {"\xE2\x84\xAA", "k"},                                     // Kelvin sign
      {"\xE2\x84\xA6", "\xCF\x89"},                              // Ohm sign
      {"\xC7\x84\xC7\x85", "\xC7\x86\xC7\x86"},                  // Ǆǅ
      {"\xC4\x80\xC4\x81\xC4\x82", "\xC4\x81\xC4\x81\xC4\x83"},  // ĀāĂ, alternating pairs
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"},                          // fullwidth A
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                  // Deseret, outside the BMP
      {"\xE4\xB8\xAD", "\xE4\xB8\xAD"},                          // no case at all
      {"a\xFF"
       "b\xC3",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},  // invalid bytes
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(support::toLowerUnicode(c.in), c.want) << c.in;
}

TEST(FoldCase, GivesOneCharacterForEachCaseClass) {
  struct Case {
    char32_t in;
    char32_t want;
  } cases[] = {
      {U'K', U'k'},       {U'k', U'k'},       {0x212A, U'k'},  // Kelvin sign
      {U'S', U's'},       {0x017F, U's'},                      // long s
      {0x00DF, 0x00DF},   {0x1E9E, 0x00DF},                    // sharp s: no "ss"
      {0x0130, 0x0130},   {0x0131, 0x0131},                    // Turkic i: their own
      {0x03A3, 0x03C3},   {0x03C2, 0x03C3},                    // Σ and final ς
      {0x01C4, 0x01C6},   {0x01C5, 0x01C6},                    // Ǆ and title-case ǅ
      {0x0345, 0x03B9},                                        // combining ypogegrammeni
      {0x13F8, 0x13F0},   {0xAB70, 0x13A0},                    // Cherokee folds to its capitals
      {0x10400, 0x10428}, {0x1E921, 0x1E943},                  // outside the BMP
      {0x4E2D, 0x4E2D},   {U'1', U'1'},                        // no case
  };
  for (const Case& c : cases) {
    EXPECT_EQ(support::foldCase(c.in), c.want) << std::hex << static_cast<uint32_t>(c.in);
  }
}

TEST(EqualsIgnoringCase, ComparesCharactersUnderSimpleFolding) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"closeToTray", "CLOSETOTRAY", true},
      {"exitOnLastWindowClosed",
       "exitOnLa\xC5\xBFtWindowClo\xC5\xBF"
       "ed",
       true},  // long s, two bytes for one
      {"key",
       "\xE2\x84\xAA"
       "ey",
       true},                                            // Kelvin sign, three bytes for one
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},  // étÉ
      {"\xCF\x83\xCF\x82", "\xCE\xA3\xCE\xA3", true},    // σς and ΣΣ
      {"\xC3\x9F", "\xE1\xBA\x9E", true},                // ß and ẞ
      {"stra\xC3\x9F"
       "e",
       "STRASSE", false},  // no full folding
      {"id",
       "\xC4\xB0"
       "d",
       false},  // İ is not I
      {"ID",
       "\xC4\xB1"
       "d",
       false},  // nor is ı
      {"e", "\xC3\xA9", false},
      {"name", "names", false},
      {"names", "name", false},
      {"", "", true},
      {"", "a", false},
      {"\xFF", "\xFF", true},           // a byte that is no character equals itself
      {"\xFF", "\xFE", false},          // ... and nothing else,
      {"\xFF", "\xEF\xBF\xBD", false},  // not even U+FFFD
      {"a\xC3", "A\xC3", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(support::equalsIgnoringCase(c.a, c.b), c.equal) << c.a << " | " << c.b;
    EXPECT_EQ(support::equalsIgnoringCase(c.b, c.a), c.equal) << c.b << " | " << c.a;
  }
}

TEST(EqualsIgnoringASCIICase, FoldsASCIILettersOnly) {
  EXPECT_TRUE(support::equalsIgnoringASCIICase("BROVIK-WORK:", "brovik-work:"));
  EXPECT_FALSE(support::equalsIgnoringASCIICase("brovi\xE2\x84\xAA", "brovik"));
  EXPECT_FALSE(support::equalsIgnoringASCIICase("\xC3\xA9", "\xC3\x89"));
  EXPECT_FALSE(support::equalsIgnoringASCIICase("a", "ab"));
}

// The checked-in tables against the Unicode Character Database they were
// generated from (Debian's "unicode-data"), for every code point: a stale or
// hand-edited table shows here.
class CaseTables : public testing::Test {
 protected:
  static constexpr const char* kDatabase = "/usr/share/unicode";

  void SetUp() override {
    std::ifstream folding(std::string(kDatabase) + "/CaseFolding.txt");
    if (!folding) GTEST_SKIP() << "no " << kDatabase << "/CaseFolding.txt (unicode-data)";
    std::string first;
    std::getline(folding, first);
    const std::string version = "# CaseFolding-" + std::string(support::caseTablesUnicodeVersion());
    if (first.rfind(version, 0) != 0) {
      GTEST_SKIP() << "the database is \"" << first << "\"; the tables are of Unicode "
                   << support::caseTablesUnicodeVersion()
                   << ": run scripts/gen_case_tables.py to move them along";
    }
  }

  // Each line's first field mapped to the field at `column`, for the lines
  // whose field 1 is one of `statuses` (or all lines when it is empty).
  static std::map<char32_t, char32_t> read(const std::string& file, size_t column,
                                           const std::string& statuses) {
    auto trimmed = [](const std::string& field) {
      const size_t begin = field.find_first_not_of(' ');
      return begin == std::string::npos
                 ? std::string()
                 : field.substr(begin, field.find_last_not_of(' ') + 1 - begin);
    };
    std::map<char32_t, char32_t> mappings;
    std::ifstream in(std::string(kDatabase) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> fields;
      std::stringstream split(line.substr(0, line.find('#')));
      for (std::string field; std::getline(split, field, ';');) fields.push_back(trimmed(field));
      if (fields.size() <= column || fields[column].empty()) continue;
      if (!statuses.empty() && statuses.find(fields[1]) == std::string::npos) continue;
      mappings[static_cast<char32_t>(std::stoul(fields[0], nullptr, 16))] =
          static_cast<char32_t>(std::stoul(fields[column], nullptr, 16));
    }
    return mappings;
  }
};

TEST_F(CaseTables, FoldingIsCaseFoldingsStatusesCAndS) {
  const auto folds = read("CaseFolding.txt", 2, "CS");
  ASSERT_GT(folds.size(), 1400u);
  int wrong = 0;
  for (char32_t r = 0; r <= 0x10FFFF; ++r) {
    auto found = folds.find(r);
    const char32_t want = found == folds.end() ? r : found->second;
    if (support::foldCase(r) != want && ++wrong <= 10) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<uint32_t>(r);
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(CaseTables, LowerCaseIsUnicodeDatasSimpleMapping) {
  const auto lowers = read("UnicodeData.txt", 13, "");
  ASSERT_GT(lowers.size(), 1400u);
  int wrong = 0;
  for (char32_t r = 0; r <= 0x10FFFF; ++r) {
    auto found = lowers.find(r);
    const char32_t want = found == lowers.end() ? r : found->second;
    if (support::toLower(r) != want && ++wrong <= 10) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<uint32_t>(r);
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
