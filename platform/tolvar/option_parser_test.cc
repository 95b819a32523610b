#include "platform/tolvar/option_parser.h"

#include <gtest/gtest.h>

namespace Tolvar::AutoCli {
namespace {

using Words = std::vector<std::string>;

Words ErrorsOf(const std::string& line) {
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString(line)) << line;
  return parser.GetParseErrors();
}

TEST(OptionParserTest, QuotingAndEscapesFollowTheShell) {
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString(
      "system\thostname  set --fqdn 'a  b\\' --note \"say \\\"hi\\\" \\\\ \\$x '\" "
      "--raw a\\ b\\\"c --joined x'y'\"z\" --empty ''"));
  EXPECT_TRUE(parser.GetParseErrors().empty());
  EXPECT_EQ((Words{"system", "hostname", "set"}), parser.GetCommandPath());
  EXPECT_EQ((Parameters{{"fqdn", "a  b\\"},
                        {"note", "say \"hi\" \\ \\$x '"},
                        {"raw", "a b\"c"},
                        {"joined", "xyz"},
                        {"empty", ""}}),
            parser.GetCommandParameters());
}

TEST(OptionParserTest, ValueRules) {
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString(
      "net set --a=1 --b 2 --c --d -e -f=v -g w --h= --i=x=y --j -5"));
  EXPECT_TRUE(parser.GetParseErrors().empty());
  EXPECT_EQ((Words{"net", "set"}), parser.GetCommandPath());
  // A value that begins with "-" only travels after "=".
  EXPECT_EQ((Parameters{{"a", "1"},
                        {"b", "2"},
                        {"c", "true"},
                        {"d", "true"},
                        {"e", "true"},
                        {"f", "v"},
                        {"g", "w"},
                        {"h", ""},
                        {"i", "x=y"},
                        {"j", "true"},
                        {"5", "true"}}),
            parser.GetCommandParameters());
  EXPECT_EQ(Words{"Unexpected argument '-quoted'"}, ErrorsOf("net set --k '-quoted'"));
}

TEST(OptionParserTest, NothingToRun) {
  // The first word counts after quote removal, so a quoted or escaped "#"
  // starts a comment too.
  for (const char* line : {"", " \t ", "# a comment", "  #it's unbalanced \"", "#",
                           "\\#not run", "'#a' b", "\"#\""}) {
    OptionParser parser;
    EXPECT_TRUE(parser.ParseString(line)) << line;
    EXPECT_TRUE(parser.GetParseErrors().empty()) << line;
    EXPECT_TRUE(parser.GetCommandPath().empty()) << line;
  }
  // Only the first word decides.
  OptionParser parser;
  EXPECT_FALSE(parser.ParseString("echo #not a comment"));
  EXPECT_EQ((Words{"echo", "#not", "a", "comment"}), parser.GetCommandPath());
}

TEST(OptionParserTest, EveryParseError) {
  EXPECT_EQ(Words{"Unterminated quote"}, ErrorsOf("a 'b"));
  EXPECT_EQ(Words{"Unterminated quote"}, ErrorsOf("a --x=\"b \\\""));
  EXPECT_EQ(Words{"Trailing backslash"}, ErrorsOf("a b\\"));
  EXPECT_EQ(Words{"Missing command"}, ErrorsOf("--x=1"));
  EXPECT_EQ(Words{"Empty option name"}, ErrorsOf("a --"));
  EXPECT_EQ(Words{"Empty option name"}, ErrorsOf("a --=x"));
  EXPECT_EQ(Words{"Empty option name"}, ErrorsOf("a -"));
  EXPECT_EQ(Words{"Unexpected argument 'extra'"}, ErrorsOf("a --x=1 extra"));
  EXPECT_EQ(Words{"Unexpected argument '-xy'"}, ErrorsOf("a -xy"));
  // Errors after the words are split are all collected, in line order.
  EXPECT_EQ((Words{"Missing command", "Empty option name", "Unexpected argument 'two words'"}),
            ErrorsOf("-v -- 'two words'"));
}

TEST(OptionParserTest, ParsingAgainStartsOver) {
  OptionParser parser;
  parser.ParseString("--x 'broken");
  EXPECT_FALSE(parser.ParseString("a b --c=d"));
  EXPECT_TRUE(parser.GetParseErrors().empty());
  EXPECT_EQ((Words{"a", "b"}), parser.GetCommandPath());
  EXPECT_EQ((Parameters{{"c", "d"}}), parser.GetCommandParameters());
}

}  // namespace
}  // namespace Tolvar::AutoCli
