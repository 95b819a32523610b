#include "analyze/text.h"

#include <gtest/gtest.h>

namespace dawnstep::analyze {
namespace {

const std::string kBad = "\xEF\xBF\xBD";

TEST(TextTest, ValidUtf8KeepsGoodSequencesAndReplacesEveryBadByte) {
  EXPECT_EQ("plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
            ValidUtf8("plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_EQ(kBad + "a", ValidUtf8("\x80"
                                  "a"));                                // stray continuation
  EXPECT_EQ(kBad + kBad, ValidUtf8("\xC0\xAF"));                        // overlong slash
  EXPECT_EQ(kBad + kBad + kBad, ValidUtf8("\xED\xA0\x80"));             // surrogate
  EXPECT_EQ(kBad + kBad + kBad + kBad, ValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(kBad + kBad, ValidUtf8("\xE2\x82"));                        // cut short
  EXPECT_EQ(kBad + "x", ValidUtf8("\xE2x"));
  EXPECT_EQ(std::string("a\0b", 3), ValidUtf8(std::string("a\0b", 3)));
}

TEST(TextTest, CodePointsCountCharactersNotBytes) {
  EXPECT_EQ(0u, CodePoints(""));
  EXPECT_EQ(3u, CodePoints("a\xC3\xA9\xF0\x9F\x98\x80"));
}

TEST(TextTest, XmlEscapeLeavesOnlyXmlCharacters) {
  EXPECT_EQ("a&amp;b&lt;c&gt;d&quot;e&apos;f", XmlEscape("a&b<c>d\"e'f"));
  EXPECT_EQ("tab\there" + kBad + kBad, XmlEscape(std::string("tab\there\x01\0", 10)));
  EXPECT_EQ(kBad + kBad + "\xEF\xBF\xBD", XmlEscape("\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD"));
  EXPECT_EQ(kBad, XmlEscape("\xFF"));
}

}  // namespace
}  // namespace dawnstep::analyze
