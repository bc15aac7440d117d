#include "support/lower_case.h"

#include <gtest/gtest.h>

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

}  // namespace
