#include "markdown_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvr::docs {
namespace {

TEST(DocExtract, MarkdownCodeBlocks) {
  const std::string text =
      "Prose naming `kvr-loader-cli ports`.\n\n"
      "    kvr-loader-cli load --port A FILE.KVR [--baud N]\n"
      "                   [--quiet]\n"
      "    error: not a command\n"
      "    kvr-loader       -> loader_window\n"
      "\n"
      "    build/release/bin/kvr-render gradients -o g.png  # all of them\n"
      "still prose\n"
      "    kvr-loader-cli ports (a continued paragraph, no block)\n\n"
      "```\n"
      "$ cat list.txt\n"
      "kvr-loader-cli shown output\n"
      "$ scripts/x.sh\n"
      "```\n"
      "\n"
      "```\n"
      "$ kvr-loader-cli ports\n"
      "```\n";
  const std::vector<DocCommand> c = MarkdownCommands(text, "R");
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0].where, "R:3");
  EXPECT_EQ(c[0].text, "kvr-loader-cli load --port A FILE.KVR [--baud N] [--quiet]");
  EXPECT_EQ(c[1].text, "build/release/bin/kvr-render gradients -o g.png  # all of them");
  EXPECT_EQ(c[2].text, "cat list.txt");
  EXPECT_EQ(c[2].sample, std::vector<std::string>{"kvr-loader-cli shown output"});
  EXPECT_EQ(c[3].text, "scripts/x.sh");
  EXPECT_TRUE(c[3].sample.empty());
  EXPECT_EQ(c[2].block, c[3].block);
  EXPECT_NE(c[2].block, "");
  EXPECT_NE(c[4].block, c[3].block);  // another block: another folder
}

}  // namespace
}  // namespace kvr::docs
