#include "output_shape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvr::docs {
namespace {

TEST(OutputShape, ShownLinesInOrderByShape) {
  const std::string out =
      "PORT  RESULT\n"
      "sim1  complete  00:02  0  load complete: 41474 commands in 2.1 s (19165.4 commands/s); simulated device: ok\n"
      "sim2  no answer  00:00  3  gave up\n";
  EXPECT_EQ(MissingLine({"sim1  complete  00:09  7  load complete: 1 commands in 9 s (...); simulated device: ok", "",
                         "sim2  no answer  00:01  1  gave up"},
                        out),
            "");
  EXPECT_EQ(MissingLine({"sim2  no answer  00:00  3  gave up", "sim1  complete ..."}, out), "sim1  complete ...");
  EXPECT_EQ(MissingLine({"sim2  no answer  00:00  x  gave up"}, out), "sim2  no answer  00:00  x  gave up");
  EXPECT_EQ(MissingLine({"sim2  no answer"}, out), "sim2  no answer");           // a whole line, not its start
  EXPECT_EQ(MissingLine({"sim2  no answer  ...  00:00  3  gave up"}, out), "");  // "..." for no words
}

}  // namespace
}  // namespace kvr::docs
