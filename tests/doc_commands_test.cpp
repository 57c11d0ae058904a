// Every command line that README.md and the manual pages show, run as written
// (doc_command_runs.h): the README's code blocks (markdown_commands.h), the
// manual pages' SYNOPSIS and EXAMPLES (man_commands.h), a usage line as its
// shortest and fullest forms and each alternative, with the placeholders
// filled from the table here. What cannot run here is in the skip table with
// the reason; a documented exit code other than 0 is in the expectation
// table. The list of every command, as written and as run, is printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "doc_command_runs.h"
#include "man_commands.h"
#include "markdown_commands.h"
#include "update_file_maker.h"

namespace kvr::docs {
namespace {

const std::string kSourceDir = KVR_SOURCE_DIR;

// ---------------------------------------------------------------- the tables

// Commands that are not run here, and why.
const std::vector<Skip> kSkips = {
    {"^scripts/run-tests\\.sh", "the test command itself, which runs this test"},
    {"^scripts/wine-tests\\.sh", "the Windows build under Wine: a step of the test command (scripts/run-tests.sh)"},
    {"^scripts/check-windows-imports\\.sh",
     "reads the Windows build's programs: run by scripts/wine-tests.sh right after that build"},
    {"^scripts/run-main\\.sh",
     "the main job: installs what is missing, builds into build/release and keeps the window open until it is "
     "closed"},
    {"^scripts/package\\.sh|^sudo apt install \\S+\\.deb",
     "builds or installs the package: scripts/package-check.sh builds, installs, uses and removes it in the test "
     "command"},
    {"^cmake .*\\^$|^cmake --build build$|^C:\\\\", "the Windows build, from a Visual Studio developer prompt"},
    {"^sudo usermod ", "changes the system's groups"},
    {"\\bCOM[0-9]+\\b", "names a Windows port"},
    {"^kvr-loader\\.exe ", "the Windows window: run under Wine by the Wine stage (tests/win32/window_wine_*.sh)"},
};

// Documented commands whose exit code is not 0, by a pattern of the command.
const std::vector<ExpectedExit> kExpected = {
    // The README's gang whose third device hangs up: the highest code is the lost port's.
    {"--simulate-faults 3:hangup=9000 ", 4},
    // The record's two devices, the second silent.
    {"--simulate-devices 2 --simulate-faults 2:drop=1 ", 3},
};

const Placeholders kPlaceholders = {
    // What a placeholder becomes, keyed by the word before it ("--baud N"), the
    // command's subcommand ("make-image FILE"), its item's name inside a word
    // ("split=N", "D:" before an item) or the placeholder alone ("RATE").
    {
        {"--baud N", "38400"},
        {"--pause-ms N", "0"},
        {"--reply-timeout SECONDS", "1"},
        {"--retries N", "3"},
        {"--log FILE", "replies.log"},
        {"--record FILE.jsonl", "runs.jsonl"},
        {"--set-record FILE.jsonl", "runs.jsonl"},
        {"records FILE.jsonl", "runs.jsonl"},
        {"--port NAME", "sim1"},
        {"--serial SERIAL", "A10K5XYZ"},
        {"--result RESULT", "complete"},
        {"--since TIME", "2026-12-01"},
        {"--simulate-devices N", "2"},
        {"--seed N", "5"},
        {"make-image FILE", "NEW.KVR"},
        {"kvr-makefile PATH", "NEW.KVR"},
        {"SEED", "5"},
        {"--file PATH.KVR", "FILE.KVR"},
        {"--pieces N", "2"},
        {"--ports-from FILE", kPortsFile},
        {"PORT", "/dev/ttyUSB0"},
        {"PATH", "/dev/ttyUSB0"},
        {"A", "/dev/ttyUSB0"},
        {"B", "/dev/ttyUSB1"},
        {"C", "/dev/ttyUSB2"},
        {"D:", "1"},
        {"split=N", "3"},
        {"RATE", "0.001"},
        {"hangup=FRAMES", "100000"},
        {"seed=N", "1"},
        {"noiseat=REPLY:BYTES", "10:5"},
        {"line=BAUD", "38400"},
        {"kvr-render PICTURE", "gauge"},
        {"--style STYLE", "gsElliptic2"},
        {"--size WxH", "120x40"},
        {"--from C", "'$F0F0F0'"},
        {"--to C", "'$696969'"},
        {"--kind KIND", "gkPie"},
        {"-o FILE.png", "picture.png"},
    },
    // What "[options]" becomes, by program and subcommand.
    {
        {"kvr-loader-cli load", "--baud 38400 --pause-ms 0 --retries 3 --record runs.jsonl"},
        {"kvr-loader", "--simulate --fast --autostart"},
        {"kvr-render gauge", "--progress 42 --border bsSingle --showtext 1"},
        {"kvr-render button", "--textoff Off --texton On --checked 1"},
    },
};

const Tables kTables = {kSkips, kExpected, kPlaceholders};

std::vector<DocCommand> ReadmeCommands() {
  const std::string text = sim::ReadFile(kSourceDir + "/README.md");
  return MarkdownCommands(text, "README.md");
}

bool ThroughAServer(const DocCommand& c) {
  return c.text.find("rfc2217://") != std::string::npos || c.text.find("socket://") != std::string::npos;
}

// ------------------------------------------------------------------ the tests

TEST(DocCommands, Readme) {
  std::vector<DocCommand> commands = ReadmeCommands();
  ASSERT_GE(commands.size(), 10u) << "README.md: too few commands found; is it where the test looks (" << kSourceDir
                                  << ")?";
  commands.erase(std::remove_if(commands.begin(), commands.end(), ThroughAServer), commands.end());
  RunAndList(commands, kTables);
}

TEST(DocCommands, ReadmeThroughASerialServer) {
  std::vector<DocCommand> commands = ReadmeCommands();
  commands.erase(std::remove_if(commands.begin(), commands.end(), [](const auto& c) { return !ThroughAServer(c); }),
                 commands.end());
  ASSERT_FALSE(commands.empty()) << "README.md shows no load through a serial server";
  const Totals t = RunAndList(commands, kTables);
  if (t.passed + t.failed == 0) GTEST_SKIP() << "no serial server here (ser2net is not installed)";
}

TEST(DocCommands, ManualPages) {
  std::vector<DocCommand> commands;
  for (const char* page : {"kvr-loader-cli.1.in", "kvr-loader.1.in", "kvr-render.1.in"}) {
    const std::string text = sim::ReadFile(kSourceDir + "/packaging/" + page);
    const std::vector<DocCommand> found = ManCommands(text, std::string("packaging/") + page);
    EXPECT_FALSE(found.empty()) << page << ": no SYNOPSIS line found";
    commands.insert(commands.end(), found.begin(), found.end());
  }
  RunAndList(commands, kTables);
}

}  // namespace
}  // namespace kvr::docs
