#include "command_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace kvr {
namespace {

using test::FakeTicks;
using test::RecordingChannel;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(BuildFrame, WorkedFrames) {
  EXPECT_EQ(BuildFrame("DL:0"), Bytes({0x44, 0x4C, 0x3A, 0x30, 0xFA, 0x0D}));
  EXPECT_EQ(BuildFrame("DL:6"), Bytes({0x44, 0x4C, 0x3A, 0x36, 0x00, 0x0D}));
  EXPECT_EQ(BuildFrame("DL:7"), Bytes({0x44, 0x4C, 0x3A, 0x37, 0x01, 0x0D}));
  EXPECT_EQ(BuildFrame("DL:1:000000"),
            Bytes({0x44, 0x4C, 0x3A, 0x31, 0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x55, 0x0D}));
}

TEST(BuildFrame, LongTextIsFramedWhole) {
  // An edited grid may make a command longer than 253 characters; the frame
  // keeps every byte and sums them all.
  const std::string text(300, 'A');
  const std::vector<uint8_t> frame = BuildFrame(text);
  ASSERT_EQ(frame.size(), 302u);
  EXPECT_EQ(frame[299], 'A');
  EXPECT_EQ(frame[300], static_cast<uint8_t>(300 * 'A'));
  EXPECT_EQ(frame[301], 13);
}

class CommandLinkTest : public ::testing::Test {
 protected:
  CommandLinkTest() {
    link.on_reply = [this](std::string_view r) { replies.emplace_back(r); };
    link.on_log = [this](const std::string& l) { log.push_back(l); };
  }
  // One receive event for the bytes queued so far.
  void Arrive(const std::string& piece) {
    port.Queue(piece);
    link.OnRxChar(static_cast<int>(port.input.size()));
  }

  RecordingChannel port;
  FakeTicks ticks;
  CommandLink link{port, ticks};
  std::vector<std::string> replies;
  std::vector<std::string> log;
};

TEST_F(CommandLinkTest, SendFramePausesMoreThan50MsThenWritesAndDropsAPendingReply) {
  Arrive("PL");
  ASSERT_TRUE(link.ReplyPending());
  uint32_t written_at = 0;
  port.on_write = [&] { written_at = ticks.now; };
  const uint32_t start = ticks.now;
  link.SendFrame("DL:0");
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0], std::string("DL:0\xFA\r"));
  EXPECT_GT(written_at - start, 50u);
  EXPECT_FALSE(link.ReplyPending());
  // The next piece starts a new reply.
  Arrive("PL6\r");
  EXPECT_EQ(replies, std::vector<std::string>{"PL6"});
}

TEST_F(CommandLinkTest, PauseIsSafeAcrossTickWrapAround) {
  ticks.now = 0xFFFFFFF0u;
  const uint32_t start = ticks.now;
  link.SendFrame("DL:6");
  EXPECT_GT(static_cast<uint32_t>(ticks.now - start), 50u);
  EXPECT_LT(static_cast<uint32_t>(ticks.now - start), 60u);
}

TEST_F(CommandLinkTest, ReplyInTwoPiecesIsGatheredAndLoggedOnce) {
  Arrive("PL");
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(link.ReplyPending());
  EXPECT_EQ(link.ReplyOffset(), 2u);
  EXPECT_GT(ticks.now, 20u);  // the pause after a first piece without CR
  Arrive("0\r");
  EXPECT_EQ(replies, std::vector<std::string>{"PL0"});
  EXPECT_EQ(log, std::vector<std::string>{" - > PL0"});
  EXPECT_FALSE(link.ReplyPending());
  EXPECT_EQ(link.ReplyOffset(), 0u);
}

// On a real line a reply comes a byte at a time: the wait after a first piece
// without CR ends when the CR has come, not 20 ms later, and what came is
// gathered by the same rules; a CR that never comes still gets the whole wait.
TEST_F(CommandLinkTest, WaitAfterAFirstPieceEndsWhenTheCrArrives) {
  struct Case {
    std::vector<std::pair<uint32_t, std::string>> rest;  // after the first piece "P": ticks from now, bytes
    std::vector<std::string> replies;
    bool pending;
    uint32_t min_wait, max_wait;  // ticks the receive event took
    std::string next = "";        // when pending: the reply once the next event brings "0\r"
  };
  const std::vector<Case> cases = {
      {{{1, "L"}, {2, "0"}, {3, "\r"}}, {"PL0"}, false, 3, 5},
      {{{4, "L0\r"}}, {"PL0"}, false, 4, 6},
      {{{2, "L0\rX"}}, {"PL0\r"}, false, 2, 4},  // bytes after the CR in the piece: the last one is dropped
      {{{1, "L"}}, {}, true, 21, 23, "PL0"},     // no CR: the whole wait, then pending as before
      {{{30, "X"}}, {}, true, 21, 23, "P0"},     // nothing within the wait
      {{{1, "L"}, {19, "0\r"}}, {"PL0"}, false, 19, 21},
  };
  for (const Case& c : cases) {
    RecordingChannel line;
    FakeTicks clock;
    clock.step = 0;  // time moves only as the line's bytes come, or a wait runs out
    line.clock = &clock;
    CommandLink timed_link{line, clock};
    std::vector<std::string> got, lines;
    timed_link.on_reply = [&](std::string_view r) { got.emplace_back(r); };
    timed_link.on_log = [&](const std::string& l) { lines.push_back(l); };
    for (const auto& [at, bytes] : c.rest) line.Arrive(at, bytes);
    line.Queue("P");
    timed_link.OnRxChar(1);
    EXPECT_EQ(got, c.replies) << c.rest.size();
    EXPECT_EQ(lines.size(), c.replies.size());
    EXPECT_EQ(timed_link.ReplyPending(), c.pending);
    EXPECT_GE(clock.now, c.min_wait);
    EXPECT_LE(clock.now, c.max_wait);
    if (c.pending) {  // goes on as before: the next piece completes the reply
      line.Queue("0\r");
      timed_link.OnRxChar(2);
      EXPECT_EQ(got, std::vector<std::string>{c.next});
    }
  }
}

TEST_F(CommandLinkTest, ThreePiecesAreGatheredInOrderWithOnePause) {
  Arrive("P");
  const uint32_t after_first = ticks.now;
  Arrive("L2");
  EXPECT_EQ(ticks.now, after_first);  // no pause after a later piece
  EXPECT_EQ(link.ReplyOffset(), 3u);
  Arrive("3\r");
  EXPECT_EQ(replies, std::vector<std::string>{"PL23"});
}

TEST_F(CommandLinkTest, ReplySplitAtEveryPositionIsGatheredWhole) {
  const std::string reply = "PL2A\r";
  for (size_t a = 1; a < reply.size(); ++a)
    for (size_t b = a; b < reply.size(); ++b) {  // b == a: two pieces, else three
      replies.clear();
      Arrive(reply.substr(0, a));
      if (b > a) Arrive(reply.substr(a, b - a));
      Arrive(reply.substr(b));
      ASSERT_EQ(replies, std::vector<std::string>{"PL2A"}) << a << "," << b;
      EXPECT_FALSE(link.ReplyPending());
    }
}

TEST_F(CommandLinkTest, CrInTheMiddleEndsTheReplyAtTheLastByteButOne) {
  Arrive("PL1\rPL");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "PL1\rP");
  EXPECT_FALSE(link.ReplyPending());
  // The bytes after the CR are not kept for the next reply.
  Arrive("PL7\r");
  EXPECT_EQ(replies.back(), "PL7");
}

TEST_F(CommandLinkTest, LoneCrAfterPendingPartCompletesTheReply) {
  Arrive("PL2F");
  Arrive("\r");
  EXPECT_EQ(replies, std::vector<std::string>{"PL2F"});
}

TEST_F(CommandLinkTest, ReadThatDeliversNothingChangesNothing) {
  Arrive("PL");
  link.OnRxChar(5);  // announced, but the read times out
  EXPECT_TRUE(link.ReplyPending());
  EXPECT_EQ(link.ReplyOffset(), 2u);
  link.OnRxChar(0);
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(CommandLinkTest, LargeEventIsReadInStepsOfAtMost1001) {
  std::string burst(2500, 'x');
  burst += "\r";
  Arrive(burst);
  for (int n : port.read_requests) EXPECT_LE(n, 1001);
  EXPECT_EQ(port.read_requests.size(), 3u);
  ASSERT_EQ(replies.size(), 1u);
  // Bytes past the 1024-byte reply buffer are dropped, the reply still ends at its CR.
  EXPECT_EQ(replies[0], std::string(1024, 'x'));
  EXPECT_FALSE(link.ReplyPending());
  Arrive("PL0\r");
  EXPECT_EQ(replies.back(), "PL0");
}

TEST_F(CommandLinkTest, ShortDeliveryEndsTheEventWithoutWaitingForMore) {
  port.Queue("PL0\r" + std::string(1496, 'z'));
  link.OnRxChar(3000);                                            // announces more than arrives
  EXPECT_EQ(port.read_requests, (std::vector<int>{1001, 1001}));  // 499 came: no third read
  EXPECT_EQ(replies.size(), 1u);
}

TEST_F(CommandLinkTest, OverlongReplyAcrossManyEventsStaysInsideTheBuffer) {
  for (int i = 0; i < 50; ++i) Arrive(std::string(100, static_cast<char>('a' + i % 26)));
  EXPECT_EQ(link.ReplyOffset(), 5000u);
  Arrive("\r");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 1024u);
  EXPECT_EQ(replies[0].substr(0, 100), std::string(100, 'a'));
  EXPECT_EQ(replies[0].substr(1000, 24), std::string(24, 'k'));
}

TEST_F(CommandLinkTest, PortFailureOnSendPropagatesAndKeepsGatheringState) {
  Arrive("PL");
  port.fail_writes = true;
  EXPECT_THROW(link.SendFrame("DL:6"), std::runtime_error);
  EXPECT_TRUE(link.ReplyPending());
}

}  // namespace
}  // namespace kvr
