#include "boot_loader_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_link.h"

namespace kvr::sim {
namespace {

std::string Frame(const std::string& text) {
  const std::vector<uint8_t> f = BuildFrame(text);
  return std::string(f.begin(), f.end());
}

// Sends bytes as one burst and collects the pieces that come back.
std::vector<std::string> Exchange(BootLoaderDevice& d, const std::string& bytes) {
  d.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  d.LineIdle();
  std::vector<std::string> pieces;
  std::vector<uint8_t> piece;
  while (d.TakePiece(piece)) pieces.emplace_back(piece.begin(), piece.end());
  return pieces;
}

using Pieces = std::vector<std::string>;

TEST(BootLoaderDevice, AnswersTheCommandVocabulary) {
  BootLoaderDevice d;
  EXPECT_EQ(Exchange(d, Frame("DL:0")), Pieces{"PL0\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:6")), Pieces{"PL6\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:1:000100")), Pieces{"PL1\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:2F:00112233445566778899aabbccddeeff")), Pieces{"PL2F\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:7")), Pieces{"PL7\r"});
  EXPECT_EQ(d.Image()[256 + 15 * 16], 0x00);
  EXPECT_EQ(d.Image()[256 + 15 * 16 + 15], 0xFF);
  EXPECT_EQ(d.Image()[256 + 15 * 16 + 10], 0xAA);
  EXPECT_EQ(d.Addresses(), std::vector<uint32_t>{0x100});
  EXPECT_EQ(d.PagesEnded(), 1u);
}

TEST(BootLoaderDevice, RejectsBadSumsAndBadCommands) {
  BootLoaderDevice d;
  std::string bad = Frame("DL:6");
  bad[4] = 0x01;
  EXPECT_EQ(Exchange(d, bad), Pieces{"PLE\r"});
  EXPECT_EQ(d.BadSums(), 1u);
  EXPECT_EQ(Exchange(d, Frame("DL:9")), Pieces{"PLE\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:20:" + std::string(32, '0'))), Pieces{"PLE\r"});  // no page address yet
  EXPECT_EQ(Exchange(d, Frame("DL:1:090000")), Pieces{"PLE\r"});                    // beyond the image
  EXPECT_EQ(Exchange(d, Frame("DL:1:000080")), Pieces{"PLE\r"});                    // not a page start
  EXPECT_EQ(Exchange(d, Frame("DL:1:08FF00")), Pieces{"PL1\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:20:" + std::string(33, '0'))), Pieces{"PLE\r"});
  EXPECT_EQ(Exchange(d, Frame("DL:20:" + std::string(31, '0') + "G")), Pieces{"PLE\r"});
  EXPECT_EQ(d.Rejected(), 7u);
}

TEST(BootLoaderDevice, SumByteOfThirteenIsFramedCorrectly) {
  // Find a data line whose frame sum is 13, so a CR stands before the end.
  std::string text;
  for (int v = 0; v < 0x10000; ++v) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "%04X", v);
    text = "DL:20:" + std::string(28, 'F') + hex;
    if (Frame(text)[text.size()] == 13) break;
  }
  ASSERT_EQ(Frame(text)[text.size()], 13);
  BootLoaderDevice d;
  Exchange(d, Frame("DL:1:000000"));
  EXPECT_EQ(Exchange(d, Frame(text)), Pieces{"PL20\r"});
  EXPECT_EQ(d.Rejected(), 0u);
}

TEST(BootLoaderDevice, FaultsShapeTheReplies) {
  DeviceOptions o;
  o.pieces = 3;
  o.faults = {
      {DeviceFault::Kind::kNoise, 0, "~~"}, {DeviceFault::Kind::kDrop, 1, ""}, {DeviceFault::Kind::kRepeat, 2, ""}};
  BootLoaderDevice d(o);
  EXPECT_EQ(Exchange(d, Frame("DL:0")), (Pieces{"~~", "PL", "0\r"}));
  EXPECT_EQ(Exchange(d, Frame("DL:6")), Pieces{});
  // A repeated reply comes as two separate transmissions.
  EXPECT_EQ(Exchange(d, Frame("DL:1:000000")), (Pieces{"P", "L", "1\r", "P", "L", "1\r"}));
}

// The faults at a random rate, each at rate 1: what comes back, and whether
// the command was carried out.
TEST(BootLoaderDevice, RandomFaultsOfEachKind) {
  const std::string line = "DL:20:" + std::string(32, '0');
  struct Case {
    const char* kind;
    double DeviceOptions::*rate;
    Pieces first, second;  // the replies to DL:1 and to line 0
    bool written;          // line 0 carried out
    uint64_t faults;
  } cases[] = {
      {"wrong", &DeviceOptions::wrong_rate, {"PL7\r"}, {"PL21\r"}, true, 2},
      {"stale", &DeviceOptions::stale_rate, {"PL1\r"}, {"PL1\r", "PL20\r"}, true, 1},  // none before the first
      {"ignore", &DeviceOptions::ignore_rate, {}, {}, false, 2},
      {"late", &DeviceOptions::late_rate, {}, {}, true, 2},
      {"silence", &DeviceOptions::silence_rate, {}, {}, false, 1},  // the second frame falls in the silence
  };
  for (const Case& c : cases) {
    DeviceOptions o;
    o.*c.rate = 1;
    o.late_ms = o.silence_ms = 50;
    BootLoaderDevice d(o);
    EXPECT_EQ(Exchange(d, Frame("DL:1:000000")), c.first) << c.kind;
    EXPECT_EQ(Exchange(d, Frame(line)), c.second) << c.kind;
    EXPECT_EQ(d.Image()[0] == 0, c.written) << c.kind;
    EXPECT_EQ(d.FaultsMade(), c.faults) << c.kind;
  }
  // A late reply goes out once its time has come, in order.
  DeviceOptions o;
  o.late_rate = 1;
  o.late_ms = 50;
  BootLoaderDevice d(o);
  d.SetTime(1000);
  EXPECT_EQ(Exchange(d, Frame("DL:0")), Pieces{});
  EXPECT_EQ(d.MsUntilOutput(), 50);
  d.SetTime(1050);
  EXPECT_EQ(Exchange(d, ""), Pieces{"PL0\r"});
  EXPECT_EQ(d.MsUntilOutput(), -1);
}

// What a correct loader never sends is counted and the first told; a page
// restarted from its address is no fault.
TEST(BootLoaderDevice, CountsCommandsOutOfProtocol) {
  const auto line = [](int k) {
    return Frame(std::string("DL:2") + "0123456789ABCDEF"[k] + ":" + std::string(32, '0'));
  };
  std::string page = Frame("DL:1:000100");
  for (int k = 0; k < 16; ++k) page += line(k);
  page += Frame("DL:7");
  struct Case {
    std::string commands;
    uint64_t faults;
    std::string first;
  } cases[] = {
      {Frame("DL:0") + Frame("DL:6") + page + Frame("DL:1:000200") + line(0) + Frame("DL:1:000200") + line(0), 0, ""},
      {line(0), 1, "a data line without its page's address"},
      {Frame("DL:1:000100") + line(0) + line(2) + line(1), 2, "line 2 of page 1 where line 1 was due"},
      {Frame("DL:1:000100") + line(0) + Frame("DL:7"), 1, "page 1 ended after 1 of 16 lines"},
  };
  for (const Case& c : cases) {
    BootLoaderDevice d;
    Exchange(d, c.commands);
    EXPECT_EQ(d.ProtocolFaults(), c.faults) << c.first;
    EXPECT_EQ(d.FirstProtocolFault(), c.first);
  }
}

TEST(BootLoaderDevice, FramesSplitAcrossReceivesAreJoined) {
  BootLoaderDevice d;
  const std::string f = Frame("DL:1:000200") + Frame("DL:7");
  for (char c : f) d.Receive(reinterpret_cast<const uint8_t*>(&c), 1);
  std::vector<uint8_t> piece;
  ASSERT_TRUE(d.TakePiece(piece));
  EXPECT_EQ(std::string(piece.begin(), piece.end()), "PL1\r");
  ASSERT_TRUE(d.TakePiece(piece));
  EXPECT_EQ(std::string(piece.begin(), piece.end()), "PL7\r");
}

}  // namespace
}  // namespace kvr::sim
