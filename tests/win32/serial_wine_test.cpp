// The serial component's Windows layer on a real (emulated) COM port: Wine
// maps the port named by KVR_ECHO_PORT to a pseudo-terminal whose far end,
// kvr-ptyhost echo, sends every byte back and closes the line when it reads
// "~HANGUP~". Also the port list there, as Wine's setup API makes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "main_loop.h"
#include "va_comm.h"
#include "va_ports.h"
#include "va_win32.h"
#include "wine_support.h"

namespace {

using namespace std::chrono;
using kvr::wintest::Env;

class EchoPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string port = Env("KVR_ECHO_PORT");
    if (port.empty()) GTEST_SKIP() << "KVR_ECHO_PORT is not set: run under scripts/wine-tests.sh";
    path_ = "\\\\.\\" + port;
    comm_ = std::make_unique<va::TVaComm>();
    comm_->ClosePause = [](uint32_t) {};
    comm_->SetDeviceName(path_);
    comm_->SetBaudrate(va::br38400);
    comm_->OnRxChar = [this](va::TVaObject*, int count) {
      std::string bytes(static_cast<size_t>(count), '\0');
      bytes.resize(static_cast<size_t>(comm_->ReadBuf(bytes.data(), count)));
      received_ += bytes;
      ++rx_events_;
    };
  }
  void TearDown() override {
    if (comm_) comm_->Close();
  }

  bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
    return loop_.PumpUntil(done, timeout_ms);
  }

  std::string path_;
  va::test::MainLoop loop_;  // declared first: outlives the component
  std::unique_ptr<va::TVaComm> comm_;
  std::string received_;
  int rx_events_ = 0;
};

TEST_F(EchoPort, QueuedWriteComesBackThroughTheEventThread) {
  int tx_empty = 0;
  comm_->OnTxEmpty = [&](va::TVaObject*) { ++tx_empty; };
  comm_->Open();
  ASSERT_TRUE(comm_->Active());
  const std::string text = "DL:0\r0123456789ABCDEF";
  EXPECT_EQ(comm_->WriteBuf(text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
  EXPECT_TRUE(PumpUntil([&] { return received_.size() >= text.size(); })) << received_;
  EXPECT_EQ(received_, text);
  EXPECT_GE(rx_events_, 1);
  EXPECT_TRUE(PumpUntil([&] { return tx_empty >= 1; }));
  EXPECT_TRUE(loop_.reported.empty()) << loop_.reported.front();
}

TEST_F(EchoPort, ManyRoundTripsInSmallPieces) {
  comm_->Open();
  std::string sent;
  for (int i = 0; i < 200; ++i) {
    const std::string piece = "PL" + std::to_string(i) + "\r";
    sent += piece;
    comm_->WriteBuf(piece.data(), static_cast<int>(piece.size()));
    if (!PumpUntil([&] { return received_.size() >= sent.size(); })) {
      const std::string before = received_.substr(received_.size() > 20 ? received_.size() - 20 : 0);
      const int waiting = comm_->InQueue();
      comm_->WriteBuf("Z", 1);
      PumpUntil([&] { return received_.size() >= sent.size() + 1; }, 2000);
      FAIL() << "round trip " << i << ", " << waiting << " bytes waiting unannounced; had [" << before << "] then ["
             << received_.substr(received_.size() > 20 ? received_.size() - 20 : 0) << "]";
    }
  }
  EXPECT_EQ(received_, sent);
}

TEST_F(EchoPort, DirectWriteAndAReadWithTheTimeOut) {
  comm_->SetDirectWrite(true);
  comm_->SetMonitorEvents({});  // no event thread: the test reads itself
  comm_->Buffers().SetReadTimeout(300);
  comm_->Open();
  char buf[64];
  // Nothing on the line: the read ends after its time-out with nothing (the
  // time-outs handed to Windows are checked on the fake table; a read that
  // never ended would run into ctest's limit).
  EXPECT_EQ(comm_->ReadBuf(buf, sizeof buf), 0);
  // Written straight to the device, read back in one or more pieces.
  const std::string text = "DL:1:000000\r";
  EXPECT_EQ(comm_->WriteBuf(text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
  std::string got;
  for (int tries = 0; tries < 10 && got.size() < text.size(); ++tries) {
    const int n = comm_->ReadBuf(buf, static_cast<int>(text.size() - got.size()));
    got.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, text);
}

TEST_F(EchoPort, OpenIsExclusiveWhereTheSystemEnforcesIt) {
  comm_->Open();
  va::TVaComm second;
  second.ClosePause = [](uint32_t) {};
  second.SetDeviceName(path_);
  try {
    second.Open();
    // Wine lets a second share-nothing open through; Windows refuses it.
    second.Close();
  } catch (const va::EVaCommError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Can't open specified device " + path_ + " (Error 5, ", 0), 0u)
        << e.what();
  }
  EXPECT_TRUE(comm_->Active());
}

TEST_F(EchoPort, MissingPortIsNotFound) {
  comm_->SetDeviceName("\\\\.\\COM231");
  try {
    comm_->Open();
    FAIL() << "opened a port that does not exist";
  } catch (const va::EVaCommError& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (\\\\.\\COM231).");
  }
  EXPECT_FALSE(comm_->Active());
}

// What Wine's setup API gives the port list: Wine 8 keeps no device records
// of the Ports class for the COM ports it maps through dosdevices, so the
// mapped port is listed as it opens, by its name alone, and asking the
// records neither fails nor waits.
TEST_F(EchoPort, MappedPortIsListedByItsNameAloneWithoutDeviceRecords) {
  const std::string port = path_.substr(4);
  const auto start = steady_clock::now();
  const std::vector<va::win32::PortDevice> records = va::win32::Calls().PortDevices();
  const double records_ms = duration_cast<microseconds>(steady_clock::now() - start).count() / 1000.0;
  for (const va::win32::PortDevice& r : records)
    std::cout << "record: " << r.PortName << " | " << r.FriendlyName << " | " << r.InstanceId << " | "
              << r.ParentInstanceId << "\n";
  EXPECT_TRUE(
      std::none_of(records.begin(), records.end(), [&](const va::win32::PortDevice& r) { return r.PortName == port; }));

  const auto list_start = steady_clock::now();
  const std::vector<va::TVaPortFound> found = va::FindPorts();
  const double list_ms = duration_cast<microseconds>(steady_clock::now() - list_start).count() / 1000.0;
  std::cout << records.size() << " records in " << records_ms << " ms; " << found.size() << " ports listed in "
            << list_ms << " ms\n";
  EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                          [&](const va::TVaPortFound& f) { return f.Path == port && f.Access == va::acReady; }));
  for (const std::string& asked : {port, path_}) {
    const va::TVaPortIdentity identity = va::IdentifyPort(asked);
    EXPECT_EQ(identity.Name, port);
    EXPECT_FALSE(identity.IsUsb());
    EXPECT_EQ(identity.Kind, va::pkUnknown);
    EXPECT_EQ(identity.ById + identity.Manufacturer + identity.Product + identity.SerialNumber, "");
  }
}

TEST_F(EchoPort, ClosingWithOperationsOutstanding) {
  // The event thread waits on the line and the write thread on its queue;
  // Close ends both, again and again, and the port opens each time.
  for (int i = 0; i < 5; ++i) {
    comm_->Open();
    std::string text = "x";
    text += std::to_string(i);
    comm_->WriteBuf(text.data(), static_cast<int>(text.size()));
    comm_->Close();  // one that waited for ever would run into ctest's limit
    EXPECT_FALSE(comm_->Active());
  }
  // Echoes of the last cycle may still come in: the port is not purged on open.
  comm_->Open();
  comm_->WriteBuf("ok", 2);
  EXPECT_TRUE(PumpUntil([&] { return received_.find("ok") != std::string::npos; })) << received_;
}

TEST_F(EchoPort, TheFarEndHangingUpIsReportedOnceAndNothingSpins) {
  int lost = 0, errors = 0;
  comm_->OnError = [&](va::TVaObject*, int bits) {
    ++errors;
    if (bits & static_cast<int>(va::kCeDeviceLost)) ++lost;
  };
  comm_->Open();
  const std::string hangup = "~HANGUP~";
  comm_->WriteBuf(hangup.data(), static_cast<int>(hangup.size()));
  // The event thread's wait notices it; the program need not touch the line.
  PumpUntil([&] { return lost > 0; });
  ASSERT_EQ(lost, 1);
  // A silence: no second report. That the threads then leave the device
  // alone (no further waits) is counted on the fake table, which fails the
  // calls with the codes Wine gives here.
  loop_.PumpFor(600);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(errors, 1);
  char buf[8];
  EXPECT_EQ(comm_->ReadBuf(buf, sizeof buf), 0);
  comm_->Close();
  EXPECT_FALSE(comm_->Active());
}

}  // namespace
