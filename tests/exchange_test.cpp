#include "exchange.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "boot_loader_device.h"
#include "hex_text.h"
#include "image_geometry.h"
#include "simulated_port.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr {
namespace {

using test::FakeTicks;
using test::RecordingChannel;
using test::RecordingView;

TEST(ExchangeFigures, GaugeRoundsHalfToEvenAndStopsAt100) {
  EXPECT_EQ(ProgressPercent(0), 0);
  EXPECT_EQ(ProgressPercent(16), 0);
  EXPECT_EQ(ProgressPercent(4608), 12);   // 12.5
  EXPECT_EQ(ProgressPercent(13824), 38);  // 37.5
  EXPECT_EQ(ProgressPercent(18432), 50);
  EXPECT_EQ(ProgressPercent(36864), 100);
  EXPECT_EQ(ProgressPercent(36865), 100);
  EXPECT_EQ(ProgressPercent(int64_t{1} << 62), 100);
}

TEST(ExchangeFigures, PageAddresses) {
  EXPECT_EQ(PageAddressCommand(0), "DL:1:000000");
  EXPECT_EQ(PageAddressCommand(16), "DL:1:000100");
  EXPECT_EQ(PageAddressCommand(36848), "DL:1:08FF00");
  EXPECT_EQ(PageAddressCommand(16 * 0x12345), "DL:1:1234500");  // more than four digits
  EXPECT_EQ(PageAddressCommand(17), "DL:1:000100");             // off the page grid: rounded
  EXPECT_EQ(PageAddressCommand(24), "DL:1:000200");             // 1.5 -> 2
  EXPECT_EQ(PageAddressCommand(40), "DL:1:000200");             // 2.5 -> 2
}

// The exchange against a recording port, replies fed by hand.
class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() {
    for (int r = 1; r <= 40; ++r) {
      std::string line;
      for (int c = 0; c < 16; ++c) line += HexUpper((r * 16 + c) & 0xFF, 2);
      table.SetLine(r, line);
    }
    file.PageTotal = 2304;
    link.on_reply = [this](std::string_view r) { exchange.OnReply(r); };
    link.SetSendPause(0);  // each command written as it is made
  }
  std::string LineData(int line) {
    std::string out;
    table.AppendLineData(line + 1, out);
    return out;
  }
  std::string LastCommand() const { return port.writes.empty() ? "" : port.Command(port.writes.size() - 1); }

  PageTable table;
  UpdateFileState file;
  RecordingView view;
  RecordingChannel port;
  FakeTicks ticks;
  CommandLink link{port, ticks};
  Exchange exchange{link, table, file, view};
};

// Each reply is answered by its row, and each command names the reply it
// asks for: the one the load's supervision waits for.
TEST_F(ExchangeTest, EachReplyIsAnsweredByItsRow) {
  EXPECT_EQ(exchange.DueReply(), "");
  exchange.Open();
  EXPECT_EQ(LastCommand(), "DL:0");
  EXPECT_EQ(exchange.DueReply(), "PL0");
  exchange.OnReply("PL0");
  EXPECT_EQ(LastCommand(), "DL:6");
  EXPECT_EQ(exchange.DueReply(), "PL6");
  exchange.OnReply("PL6");
  EXPECT_EQ(LastCommand(), "DL:1:000000");
  EXPECT_EQ(exchange.DueReply(), "PL1");
  exchange.OnReply("PL1");
  EXPECT_EQ(LastCommand(), "DL:20:" + LineData(0));
  EXPECT_EQ(LastCommand().size(), 38u);
  EXPECT_EQ(exchange.DueReply(), "PL20");
  static const char* kDigits = "0123456789ABCDEF";
  for (int k = 0; k < 15; ++k) {
    exchange.OnReply(std::string("PL2") + kDigits[k]);
    EXPECT_EQ(LastCommand(), std::string("DL:2") + kDigits[k + 1] + ":" + LineData(k + 1));
    EXPECT_EQ(exchange.DueReply(), std::string("PL2") + kDigits[k + 1]);
  }
  EXPECT_EQ(exchange.LineCounter(), 16);
  exchange.OnReply("PL2F trailing text");  // whatever follows the name is ignored
  EXPECT_EQ(LastCommand(), "DL:7");
  EXPECT_EQ(exchange.DueReply(), "PL7");
  exchange.OnReply("PL7");
  EXPECT_EQ(LastCommand(), "DL:1:000100");
  EXPECT_EQ(exchange.DueReply(), "PL1");
  EXPECT_EQ(view.progress, std::vector<int>{0});
  EXPECT_EQ(view.status, std::vector<std::string>{"Загрузка страницы: 0001 из 0900"});
  EXPECT_EQ(port.writes.size(), 21u);
  // A restart of the page asks for its address again; before any page, the opening.
  exchange.RestartPage();
  EXPECT_EQ(LastCommand(), "DL:1:000100");
  EXPECT_EQ(exchange.DueReply(), "PL1");
  exchange.Reset();
  exchange.RestartPage();
  EXPECT_EQ(LastCommand(), "DL:0");
  EXPECT_EQ(exchange.DueReply(), "PL0");
}

TEST_F(ExchangeTest, UnknownRepliesSendNothing) {
  for (const char* reply : {"", "P", "PL", "PL2", "PL2G", "PL2a", "XPL1", "pl0", " PL0", "PL3", "PLE"})
    exchange.OnReply(reply);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_EQ(exchange.LineCounter(), 0);
  EXPECT_TRUE(view.status.empty());
}

TEST_F(ExchangeTest, RepeatedDataLineReplyShiftsTheLines) {
  for (const char* r : {"PL1", "PL20", "PL21", "PL22", "PL23"}) exchange.OnReply(r);
  EXPECT_EQ(LastCommand(), "DL:24:" + LineData(4));
  exchange.OnReply("PL23");  // the same name again, now with the following line
  EXPECT_EQ(LastCommand(), "DL:24:" + LineData(5));
  EXPECT_EQ(exchange.LineCounter(), 6);
  exchange.OnReply("PL24");
  EXPECT_EQ(LastCommand(), "DL:25:" + LineData(6));
}

TEST_F(ExchangeTest, OpeningRepliesMidLoadLeaveTheCounter) {
  for (const char* r : {"PL1", "PL20", "PL21"}) exchange.OnReply(r);
  exchange.OnReply("PL0");
  EXPECT_EQ(LastCommand(), "DL:6");
  exchange.OnReply("PL6");
  EXPECT_EQ(LastCommand(), "DL:1:000000");
  EXPECT_EQ(exchange.LineCounter(), 3);
  // A "PL20" before any "PL1" still sends the line at the counter.
  exchange.Reset();
  exchange.OnReply("PL20");
  EXPECT_EQ(LastCommand(), "DL:21:" + LineData(0));
}

TEST_F(ExchangeTest, CellsAreReadWhenTheLineIsSent) {
  exchange.OnReply("PL1");
  table.SetCell(1, 2, "ABC");  // an edit during the load
  table.SetCell(2, 2, "");
  exchange.OnReply("PL20");
  EXPECT_EQ(LastCommand(), "DL:21:ABC" + LineData(1).substr(3));
  EXPECT_EQ(LastCommand().size(), 37u);
  EXPECT_EQ(port.writes.back().size(), 39u);  // sent as built: text, sum, CR
}

TEST_F(ExchangeTest, PortFailureEndsTheReplyWithTheCounterAdvanced) {
  port.fail_writes = true;
  EXPECT_THROW(exchange.OnReply("PL1"), std::runtime_error);
  EXPECT_EQ(exchange.LineCounter(), 1);
}

TEST_F(ExchangeTest, NoLineIsSentPastTheImage) {
  // Repeated replies have pushed the counter to the image's end: no row
  // beyond the image goes out, and a page end there completes the load.
  for (int i = 0; i < 36864; ++i) exchange.OnReply("PL20");
  EXPECT_EQ(exchange.LineCounter(), 36864);
  const size_t sent = port.writes.size();
  exchange.OnReply("PL20");
  exchange.OnReply("PL1");
  EXPECT_EQ(port.writes.size(), sent);
  EXPECT_EQ(exchange.LineCounter(), 36864);
  exchange.OnReply("PL7");
  EXPECT_EQ(port.writes.size(), sent);
  EXPECT_EQ(view.status.back(), "Загрузка завершена");
  EXPECT_EQ(view.progress.back(), 100);
  EXPECT_EQ(view.finished, std::vector<LoadOutcome>{LoadOutcome::kComplete});
}

// Whole loads into the simulated boot loader.
struct LoadRun {
  explicit LoadRun(sim::DeviceOptions options = {}) : device(std::move(options)) {
    link.on_reply = [this](std::string_view r) {
      // Gauge values by the line count at which they were set.
      const size_t before = view.progress.size();
      exchange.OnReply(r);
      if (view.progress.size() != before) progress_at[exchange.LineCounter()] = view.progress.back();
    };
  }
  void LoadFile(const std::string& text) {
    const std::string path = dir.File("image.kvr");
    sim::WriteFile(path, text);
    ASSERT_TRUE(OpenUpdateFile(path, table, file, view));
  }
  // Switch on, the start timer's "DL:0", then replies until the device is silent.
  // Each command goes out once its pause is over, the clock moved to then.
  void Run(uint64_t max_events = 10'000'000) {
    view.finished.clear();
    exchange.Open();
    do {
      while (link.SendWaiting()) {
        ticks.now += static_cast<uint32_t>(link.MsUntilSend());
        link.SendIfDue();
      }
      const uint64_t events = port.Pump([this](int count) { link.OnRxChar(count); }, max_events);
      if (events == 0) break;
      max_events -= events;
    } while (max_events > 0);
  }

  test::TempDir dir;
  PageTable table;
  UpdateFileState file;
  RecordingView view;
  sim::BootLoaderDevice device;
  sim::SimulatedPort port{device};
  FakeTicks ticks;
  CommandLink link{port, ticks};
  Exchange exchange{link, table, file, view};
  std::map<int64_t, int> progress_at;
};

TEST(ExchangeLoad, FullStandardImageReachesTheDevice) {
  LoadRun run;
  const std::string text = sim::MakeUpdateFileText(11);
  run.LoadFile(text);
  run.Run();

  EXPECT_EQ(run.device.FramesReceived(), 41474u);
  EXPECT_EQ(run.device.Rejected(), 0u);
  ASSERT_EQ(run.device.Addresses().size(), 2304u);
  for (size_t p = 0; p < 2304; ++p) ASSERT_EQ(run.device.Addresses()[p], p * 256) << "page " << p;
  EXPECT_EQ(run.device.LastCommand(), "DL:7");

  EXPECT_EQ(run.progress_at.at(16), 0);
  EXPECT_EQ(run.progress_at.at(4608), 12);
  EXPECT_EQ(run.progress_at.at(13824), 38);
  EXPECT_EQ(run.progress_at.at(36864), 100);
  EXPECT_EQ(run.view.status.at(1), "Загрузка страницы: 0001 из 0900");
  EXPECT_EQ(run.view.status.at(run.view.status.size() - 2), "Загрузка страницы: 08FF из 0900");
  EXPECT_EQ(run.view.status.back(), "Загрузка завершена");
  EXPECT_EQ(run.view.finished, std::vector<LoadOutcome>{LoadOutcome::kComplete});
  EXPECT_EQ(run.exchange.LineCounter(), 36864);

  EXPECT_EQ(run.device.Image(), sim::ImageFromUpdateText(text));
  // Every command waited more than 50 ms before it went out.
  EXPECT_GE(run.ticks.now, 41474u * 51);
}

TEST(ExchangeLoad, RepliesInPiecesLoadTheSameImage) {
  sim::DeviceOptions options;
  options.pieces = 3;
  LoadRun run(options);
  const std::string text = sim::MakeUpdateFileText(12);
  run.LoadFile(text);
  run.Run();
  EXPECT_EQ(run.device.FramesReceived(), 41474u);
  EXPECT_EQ(run.device.Image(), sim::ImageFromUpdateText(text));
  EXPECT_EQ(run.view.status.back(), "Загрузка завершена");
}

TEST(ExchangeLoad, FileOfAnotherSizeStillEndsWithTheImage) {
  // 36864 lines without the trailing empty line: 1253376 bytes.
  std::string text = sim::MakeUpdateFileText(13);
  text.resize(text.size() - 2);
  LoadRun run;
  run.LoadFile(text);
  EXPECT_EQ(run.view.warnings, 1);
  run.Run();
  EXPECT_EQ(run.device.FramesReceived(), 41474u);
  EXPECT_EQ(run.progress_at.at(4608), 12);
  EXPECT_EQ(run.view.progress.back(), 100);
  EXPECT_EQ(run.view.status.back(), "Загрузка завершена");
  EXPECT_EQ(run.device.Image(), sim::ImageFromUpdateText(text));
}

TEST(ExchangeLoad, NoiseBeforeAReplyStopsTheLoad) {
  sim::DeviceOptions options;
  options.faults.push_back({sim::DeviceFault::Kind::kNoise, 40, "\x07"});
  LoadRun run(options);
  run.LoadFile(sim::MakeUpdateFileText(14));
  run.Run();
  EXPECT_EQ(run.device.FramesReceived(), 41u);  // the noisy 41st reply is answered by nothing
  EXPECT_EQ(run.exchange.LineCounter(), 34);
  EXPECT_TRUE(run.view.finished.empty());
}

TEST(ExchangeLoad, DroppedReplyStopsTheLoad) {
  sim::DeviceOptions options;
  options.faults.push_back({sim::DeviceFault::Kind::kDrop, 5, ""});
  LoadRun run(options);
  run.LoadFile(sim::MakeUpdateFileText(15));
  run.Run();
  EXPECT_EQ(run.device.FramesReceived(), 6u);
  EXPECT_EQ(run.exchange.LineCounter(), 3);
}

TEST(ExchangeLoad, MalformedLineIsRejectedByTheDeviceAndStopsTheLoad) {
  LoadRun run;
  run.LoadFile(sim::MakeUpdateFileText(16));
  run.table.SetCell(4, 3, "G0");  // line 2 no longer hex
  run.Run();
  EXPECT_EQ(run.device.Rejected(), 1u);
  EXPECT_EQ(run.device.FramesReceived(), 6u);
  EXPECT_EQ(run.exchange.LineCounter(), 3);
}

}  // namespace
}  // namespace kvr
