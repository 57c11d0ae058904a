#include "usage_forms.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kvr::docs {
namespace {

std::vector<std::string> Commands(const std::string& usage) {
  std::string error;
  std::vector<std::string> out;
  for (const Form& f : Expand(usage, error)) out.push_back(f.command);
  EXPECT_EQ(error, "") << usage;
  return out;
}

TEST(UsageGrammar, ShortestFullestAndEachAlternative) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Commands("p [a|b|c] --help"), (V{"p --help", "p a --help", "p b --help", "p c --help"}));
  EXPECT_EQ(Commands("p (x X | y) [z [w]] F  # note"),
            (V{"p x X F  # note", "p x X z w F  # note", "p y z w F  # note"}));
  EXPECT_EQ(Commands("p --port A [--port C ...] f"), (V{"p --port A f", "p --port A --port C f"}));
  EXPECT_EQ(Commands("p --f [D:]s=N,r=RATE"), (V{"p --f s=N,r=RATE", "p --f D:s=N,r=RATE"}));
  EXPECT_EQ(Commands("p '[kept]' [options]"), (V{"p '[kept]'", "p '[kept]' [options]"}));
  EXPECT_EQ(Commands("p x | grep y"), (V{"p x | grep y"}));
}

TEST(UsageGrammar, NestedGroups) {
  using V = std::vector<std::string>;
  // A required group as an optional group's alternative: taken whole when that alternative is.
  std::string error;
  std::vector<std::pair<std::string, std::string>> labelled;
  for (const Form& f : Expand("p [a | (b c)] f", error)) labelled.emplace_back(f.label, f.command);
  EXPECT_EQ(error, "");
  EXPECT_EQ(labelled, (std::vector<std::pair<std::string, std::string>>{
                          {"shortest", "p f"}, {"fullest", "p a f"}, {"alternative", "p b c f"}}));
  // An inner group's alternative shown inside its optional group, which is then in.
  EXPECT_EQ(Commands("p [x (y | z)]"), (V{"p", "p x y", "p x z"}));
}

TEST(UsageGrammar, UnbalancedLinesAreRefused) {
  for (const char* usage : {"p [a", "p a]", "p (a | b]", "p [a | (b c]", "p 'a [b]"}) {
    std::string error;
    EXPECT_TRUE(Expand(usage, error).empty()) << usage;
    EXPECT_NE(error, "") << usage;
  }
}

TEST(UsageGrammar, PlaceholderShapes) {
  for (const char* word : {"N", "REPLY:BYTES", "WxH", "FILE.jsonl", "PATH_2"}) EXPECT_TRUE(IsPlaceholder(word)) << word;
  // A file name, an option, a value as it runs.
  for (const char* word : {"FILE.KVR", "Wx", "--baud", "gkPie", "x", "sim1"}) EXPECT_FALSE(IsPlaceholder(word)) << word;
}

// The runs' table in small, with a bare "N" and "FILE" and a program's own
// options that the closer keys must win over.
const Placeholders kTable = {
    {
        {"D:", "1"},
        {"split=N", "3"},
        {"seed=N", "1"},
        {"RATE", "0.001"},
        {"noiseat=REPLY:BYTES", "10:5"},
        {"--retries N", "3"},
        {"--seed N", "5"},
        {"N", "9"},
        {"make-image FILE", "NEW.KVR"},
        {"FILE", "ANY.KVR"},
        {"--kind KIND", "gkPie"},
        {"-o FILE.png", "picture.png"},
        {"PORT", "/dev/ttyUSB0"},
    },
    {
        {"kvr-render gauge", "--progress 42 --showtext 1"},
        {"kvr-render", "--size 9x9"},
    },
};

TEST(UsageGrammar, PlaceholdersAreFilledOrNamed) {
  std::vector<std::string> unknown;
  int seen = 0;
  EXPECT_EQ(Fill("kvr-loader-cli load --simulate --simulate-faults D:split=N,drop=RATE,noiseat=REPLY:BYTES "
                 "--retries=N FILE.KVR",
                 kTable, unknown, seen),
            "kvr-loader-cli load --simulate --simulate-faults 1:split=3,drop=0.001,noiseat=10:5 --retries=3 FILE.KVR");
  EXPECT_EQ(seen, 5);
  EXPECT_EQ(Fill("kvr-loader-cli load --simulate-faults 2:seed=N", kTable, unknown, seen),
            "kvr-loader-cli load --simulate-faults 2:seed=1");
  EXPECT_EQ(Fill("kvr-loader-cli make-image --seed N FILE", kTable, unknown, seen),
            "kvr-loader-cli make-image --seed 5 NEW.KVR");
  EXPECT_EQ(Fill("kvr-render gauge --kind KIND [options] -o FILE.png  # A", kTable, unknown, seen),
            "kvr-render gauge --kind gkPie --progress 42 --showtext 1 -o picture.png  # A");
  EXPECT_EQ(Fill("kvr-render button [options] && kvr-render gauge -o FILE.png", kTable, unknown, seen),
            "kvr-render button --size 9x9 && kvr-render gauge -o picture.png");
  EXPECT_TRUE(unknown.empty());

  // What the table lacks stays as written and is named.
  EXPECT_EQ(Fill("kvr-loader-cli load --port PORT --level LEVEL UPDATE.KVR", kTable, unknown, seen),
            "kvr-loader-cli load --port /dev/ttyUSB0 --level LEVEL UPDATE.KVR");
  EXPECT_EQ(Fill("kvr-simload [options] --f X:drop=RATE", kTable, unknown, seen),
            "kvr-simload [options] --f X:drop=0.001");
  EXPECT_EQ(unknown, (std::vector<std::string>{"LEVEL", "[options] of kvr-simload", "X"}));
}

TEST(UsageGrammar, UsageLinesAreTold) {
  EXPECT_FALSE(IsUsage("kvr-loader-cli load --port /dev/ttyUSB0 FW_2_14.KVR  # see NOTE"));
  EXPECT_FALSE(IsUsage("kvr-render gradient --from '[x]' -o g.png"));
  EXPECT_TRUE(IsUsage("kvr-loader-cli make-image FILE"));
  EXPECT_TRUE(IsUsage("kvr-loader-cli ports [--json]"));
}

}  // namespace
}  // namespace kvr::docs
