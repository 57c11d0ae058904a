#include "command_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvr::docs {
namespace {

using Words = std::vector<std::string>;

TEST(CommandWords, CommentsQuotesAndLists) {
  // A '#' in quotes or inside a word is the command's; the comment keeps the blanks before it.
  const Code c = SplitComment("kvr-render x --from '#F0 F0' -o a#b.png  # note");
  EXPECT_EQ(c.code, "kvr-render x --from '#F0 F0' -o a#b.png");
  EXPECT_EQ(c.comment, "  # note");
  EXPECT_EQ(SplitComment("# only a comment").code, "");

  // Blanks in quotes do not separate; the quotes stay.
  EXPECT_EQ(ShellWords("a  'b c'\t\"d 'e\" f"), (Words{"a", "'b c'", "\"d 'e\"", "f"}));

  // The simple commands of a list, an operator in quotes or in the comment left alone.
  EXPECT_EQ(Segments("kvr-loader-cli ports && grep 'a | b' x ; kvr-render y | wc  # c || d"),
            (std::vector<Words>{{"kvr-loader-cli", "ports"}, {"grep", "'a | b'", "x"}, {"kvr-render", "y"}, {"wc"}}));
}

TEST(CommandWords, ProgramsBehindAPath) {
  for (const char* word : {"build/release/bin/kvr-loader-cli", "kvr-loader"}) EXPECT_TRUE(IsProgram(word)) << word;
  // The Windows program, a name's start, a script named after a program.
  for (const char* word : {"kvr-loader.exe", "kvr", "scripts/kvr-loader-cli.sh"}) EXPECT_FALSE(IsProgram(word)) << word;
}

}  // namespace
}  // namespace kvr::docs
