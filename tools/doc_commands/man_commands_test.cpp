#include "man_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvr::docs {
namespace {

TEST(DocExtract, ManualPageSynopsisAndExamples) {
  const std::string page =
      ".SH SYNOPSIS\n"
      ".B kvr-loader-cli load\n"
      ".RB [ \\-\\-port\n"
      ".IR PORT \" ...] [\" options ]\n"
      ".I FILE.KVR\n"
      ".br\n"
      ".BI \"kvr-render gauge \\-\\-size \" WxH \" \\fR[\\fPoptions\\fR]\\fP \\-o \" FILE.png\n"
      ".SH DESCRIPTION\n"
      ".B not this\n"
      ".SH EXAMPLES\n"
      "text\n"
      ".nf\n"
      "kvr\\-loader\\-cli ports\n"
      ".fi\n";
  const std::vector<DocCommand> c = ManCommands(page, "M");
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].text, "kvr-loader-cli load [--port PORT ...] [options] FILE.KVR");
  EXPECT_EQ(c[0].where, "M:2");
  EXPECT_EQ(c[1].text, "kvr-render gauge --size WxH [options] -o FILE.png");
  EXPECT_EQ(c[2].text, "kvr-loader-cli ports");
  EXPECT_EQ(c[2].where, "M:13");
}

TEST(DocExtract, TroffEscapesAndArguments) {
  EXPECT_EQ(TroffText("\\fBkvr\\-render\\fR \\-o a\\eb.png"), "kvr-render -o a\\b.png");
  EXPECT_EQ(TroffText("\\&.B not a request"), ".B not a request");
  EXPECT_EQ(TroffText("a \\(em b \\"), "a \\(em b \\");  // unknown and trailing escapes stay

  using Args = std::vector<std::string>;
  EXPECT_EQ(TroffArguments("  \"kvr-render gauge \" WxH  \"\" x"), (Args{"kvr-render gauge ", "WxH", "", "x"}));

  std::string piece = "before";
  EXPECT_FALSE(TroffPiece(".PP", piece));
  EXPECT_FALSE(TroffPiece(".SM small", piece));
  EXPECT_TRUE(TroffPiece(".IR FILE .KVR", piece));
  EXPECT_EQ(piece, "FILE.KVR");
}

}  // namespace
}  // namespace kvr::docs
