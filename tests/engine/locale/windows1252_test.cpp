#include "engine/locale/windows1252.h"

#include <gtest/gtest.h>

#include <string>

namespace strata {
namespace {

std::string AllBytes() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

TEST(Windows1252Test, EveryByteSurvivesUtf8RoundTrip) {
  const std::string all = AllBytes();
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
}

TEST(Windows1252Test, ConvertsToUtf8) {
  EXPECT_EQ(Windows1252ToUtf8("caf\xE9 \x80 \x9F \x93q\x94"),
            "caf\xC3\xA9 \xE2\x82\xAC \xC5\xB8 \xE2\x80\x9Cq\xE2\x80\x9D");
  EXPECT_EQ(Windows1252ToUtf8("\x81"), "\xC2\x81");  // undefined byte -> same control
}

TEST(Windows1252Test, ReplacesWhatHasNoByte) {
  struct Case {
    const char* utf8;
    const char* expected;
  };
  const Case cases[] = {
      {"\xC5\x93uvre \xE2\x84\xA2", "\x9Cuvre \x99"},  // œ and ™ have bytes
      {"M\xC4\x81ori", "M?ori"},                        // ā has none
      {"\xE6\x97\xA5\xE6\x9C\xAC", "??"},               // one replacement per character
      {"\xF0\x9F\x98\x80!", "?!"},                      // outside the BMP
      {"a\xC3", "a?"},                                  // cut sequence
      {"\xE2\x82", "?"},
      {"\xC0\xAF", "??"},                               // overlong form
      {"\xED\xA0\x80", "?"},                            // encoded surrogate
      {"\xF4\x90\x80\x80", "?"},                        // above U+10FFFF
      {"\xA9x", "?x"},                                  // stray continuation byte
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToWindows1252(c.utf8), c.expected) << c.utf8;
  EXPECT_EQ(Utf8ToWindows1252("M\xC4\x81ori", '_'), "M_ori");
}

TEST(Windows1252Test, ConvertsToAndFromUtf16) {
  const std::string all = AllBytes();
  bool lossless = false;
  EXPECT_EQ(Utf16ToWindows1252(Windows1252ToUtf16(all), '?', &lossless), all);
  EXPECT_TRUE(lossless);
  EXPECT_EQ(Windows1252ToUtf16("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
  // One replacement per character, a surrogate pair included.
  EXPECT_EQ(Utf16ToWindows1252(u"\u0141\U0001F600\xD800x", '_', &lossless), "___x");
  EXPECT_FALSE(lossless);
}

TEST(Windows1252Test, ReverseLookup) {
  EXPECT_EQ(UnicodeToWindows1252(0x20AC), '\x80');
  EXPECT_EQ(UnicodeToWindows1252(0x0178), '\x9F');
  EXPECT_EQ(UnicodeToWindows1252(0x00FF), '\xFF');
  EXPECT_FALSE(UnicodeToWindows1252(0x0100));
  EXPECT_FALSE(UnicodeToWindows1252(0x0080));  // 80 is the euro sign, not U+0080
  EXPECT_FALSE(UnicodeToWindows1252(0x1F600));
}

}  // namespace
}  // namespace strata
