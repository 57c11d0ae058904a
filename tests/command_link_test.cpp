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

// The pause before a command is a deadline, not a wait: nothing is written
// until more than 50 ms have passed, to the tick, across the count's wrap.
TEST_F(CommandLinkTest, SendFrameGoesOutOnlyOnceMoreThan50MsHavePassed) {
  for (const uint32_t start : {0u, 0xFFFFFFF0u}) {
    SCOPED_TRACE(start);
    RecordingChannel line;
    CommandLink paced{line, ticks};
    ticks.now = start;
    paced.SendFrame("DL:0");
    EXPECT_TRUE(line.writes.empty());  // SendFrame itself never waits
    EXPECT_EQ(paced.MsUntilSend(), 51);
    ticks.now = start + 50;
    EXPECT_EQ(paced.MsUntilSend(), 1);
    EXPECT_FALSE(paced.SendIfDue());
    EXPECT_TRUE(line.writes.empty());
    ticks.now = start + 51;
    EXPECT_EQ(paced.MsUntilSend(), 0);
    EXPECT_TRUE(paced.SendIfDue());
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0], std::string("DL:0\xFA\r"));
    EXPECT_EQ(paced.LastCommand(), "DL:0");
    EXPECT_EQ(paced.MsUntilSend(), -1);
    EXPECT_FALSE(paced.SendIfDue());  // once
  }
  // A pause of 0 writes at once.
  link.SetSendPause(0);
  link.SendFrame("DL:6");
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_FALSE(link.SendWaiting());
}

// The write drops a half-gathered reply; what arrived while the command
// waited is handled after it has gone out, as the next piece of a new reply.
TEST_F(CommandLinkTest, BytesThatComeDuringThePauseAreHandledAfterTheCommand) {
  std::vector<std::string> order;
  link.on_sent = [&](std::string_view c) { order.push_back("sent " + std::string(c)); };
  link.on_reply = [&](std::string_view r) { order.push_back("reply " + std::string(r)); };
  Arrive("PL");
  link.SendFrame("DL:6");
  Arrive("0\r");  // during the pause: kept, not appended to "PL"
  Arrive("PL6");
  EXPECT_TRUE(order.empty());
  ticks.now += 51;
  ASSERT_TRUE(link.SendIfDue());
  // "0\rPL6" is one piece after the write: a reply ending at its last byte but one.
  EXPECT_EQ(order, (std::vector<std::string>{"sent DL:6", "reply 0\rPL"}));
  Arrive("PL6\r");  // nothing after that CR was kept
  EXPECT_EQ(order.back(), "reply PL6");
  // A device that talks through a pause is kept to a bound; a stop drops it all.
  link.SendFrame("DL:7");
  Arrive(std::string(3 * kHeldInputLimit, 'z'));
  link.CancelSend();
  ticks.now += 100;
  EXPECT_FALSE(link.SendIfDue());
  EXPECT_EQ(port.writes.size(), 1u);
  link.SendFrame("DL:7");
  Arrive(std::string(3 * kHeldInputLimit, 'z'));
  ticks.now += 51;
  ASSERT_TRUE(link.SendIfDue());
  Arrive("\r");  // what was held is the start of the next reply
  EXPECT_EQ(order.back(), "reply " + std::string(kReplyBufferSize, 'z'));
}

TEST_F(CommandLinkTest, ReplyInTwoPiecesIsGatheredAndLoggedOnce) {
  Arrive("PL");
  EXPECT_TRUE(replies.empty());
  Arrive("0\r");
  EXPECT_EQ(replies, std::vector<std::string>{"PL0"});
  EXPECT_EQ(log, std::vector<std::string>{" - > PL0"});
}

TEST_F(CommandLinkTest, ThreePiecesAreGatheredInOrder) {
  Arrive("P");
  Arrive("L2");
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
    }
}

TEST_F(CommandLinkTest, CrInTheMiddleEndsTheReplyAtTheLastByteButOne) {
  Arrive("PL1\rPL");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "PL1\rP");
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
  link.OnRxChar(0);
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(log.empty());
  Arrive("0\r");  // the reply goes on where it was
  EXPECT_EQ(replies, std::vector<std::string>{"PL0"});
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
  Arrive("\r");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].size(), 1024u);
  EXPECT_EQ(replies[0].substr(0, 100), std::string(100, 'a'));
  EXPECT_EQ(replies[0].substr(1000, 24), std::string(24, 'k'));
}

// A failed write propagates, keeps the gathering state and drops the
// command: it is not written again at every later look.
TEST_F(CommandLinkTest, PortFailureOnSendPropagatesAndDropsTheCommand) {
  Arrive("PL");
  port.fail_writes = true;
  link.SendFrame("DL:6");
  ticks.now += 51;
  EXPECT_THROW(link.SendIfDue(), std::runtime_error);
  EXPECT_FALSE(link.SendWaiting());
  link.SetSendPause(0);
  EXPECT_THROW(link.SendFrame("DL:6"), std::runtime_error);
  EXPECT_FALSE(link.SendWaiting());
  Arrive("0\r");  // the reply gathered before the failed writes goes on
  EXPECT_EQ(replies, std::vector<std::string>{"PL0"});
}

}  // namespace
}  // namespace kvr
