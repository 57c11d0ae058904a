// Network ports: the telnet stream's decoding, servers that misbehave, and a
// whole RFC 2217 session against ser2net.
#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"
#include "serial_server.h"
#include "serial_test_support.h"
#include "va_comm.h"
#include "va_rfc2217.h"

namespace va {
namespace {

using test::ErrorMessage;
using test::MainLoop;
using test::PtyPair;
using test::TestComm;

// The telnet stream decodes the same however it is cut into arrivals: data
// with doubled IACs, negotiations, the server's com-port answers (an IAC in
// a value doubled too).
TEST(Rfc2217Stream, DecodesTheSameInAnyPieces) {
  namespace tn = rfc2217;
  const std::string stream = std::string(
                                 "ab\xFF\xFF"
                                 "c") +
                             tn::Negotiation(tn::WILL, tn::kComPort) +
                             "\xFF\xFA\x2C\x6B\x31\xFF\xF0" +                                   // modem state 0x31
                             std::string("\xFF\xFA\x2C\x65\x00\x00\xFF\xFF\x00\xFF\xF0", 11) +  // rate 0x0000FF00
                             "d" + tn::Negotiation(tn::DO, 1);
  for (const size_t piece : {stream.size(), size_t{1}, size_t{2}, size_t{5}}) {
    tn::Decoder decoder;
    std::string data;
    std::vector<std::string> seen;
    decoder.OnData = [&](const char* d, size_t n) { data.append(d, n); };
    decoder.OnNegotiation = [&](uint8_t verb, uint8_t option) {
      seen.push_back(std::to_string(verb) + "/" + std::to_string(option));
    };
    decoder.OnComPort = [&](uint8_t command, const std::string& value) {
      seen.push_back(std::to_string(command) + ":" + kvr::Printable(value));
    };
    for (size_t at = 0; at < stream.size(); at += piece)
      decoder.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    EXPECT_EQ(data, std::string("ab\xFF"
                                "cd"))
        << piece;
    EXPECT_EQ(seen, (std::vector<std::string>{"251/44", "107:1", "101:\\x00\\x00\\xFF\\x00", "253/1"})) << piece;
  }
  // A subnegotiation past the limit breaks the stream for good, however the
  // arrivals are cut: a later subnegotiation in the same arrival does not mend
  // it, and nothing after the break is delivered.
  const std::string broken = "d" + std::string("\xFF\xFA\x2C\x65") + std::string(5000, 'x') + "\xFF\xF0" +
                             tn::ComPortCommand(tn::NOTIFY_MODEMSTATE + tn::kServer, "\x01") + "e";
  for (const size_t piece : {broken.size(), size_t{1}, size_t{4097}}) {
    tn::Decoder decoder;
    std::string data;
    decoder.OnData = [&](const char* d, size_t n) { data.append(d, n); };
    for (size_t at = 0; at < broken.size(); at += piece)
      decoder.Feed(broken.data() + at, std::min(piece, broken.size() - at));
    EXPECT_TRUE(decoder.Broken()) << piece;
    EXPECT_EQ(data, "d") << piece;
  }
  EXPECT_EQ(tn::ComPortCommand(tn::SET_BAUDRATE, tn::BigEndian32(0xFF)),
            std::string("\xFF\xFA\x2C\x01\x00\x00\x00\xFF\xFF\xFF\xF0", 11));
}

// Servers that misbehave, scripted on a thread: the port does not open, and
// the message names the server and what it did.
TEST(NetworkPort, AServerThatRefusesOrBreaksTheProtocolIsNamed) {
  namespace tn = rfc2217;
  using Answer = std::function<std::string(uint8_t command, const std::string& value)>;
  const auto same = [](uint8_t command, const std::string& value) {
    return tn::ComPortCommand(command + tn::kServer, value);
  };
  struct Case {
    const char* what;
    std::string greeting;  // sent once the connection is taken
    Answer answer;         // to each com-port request
    int late_ms;           // answers to SET-PARITY come this much later
    std::string message;   // part of the message
  } cases[] = {
      {"refuses the option", tn::Negotiation(tn::DONT, tn::kComPort), nullptr, 0,
       "the server refuses the RFC 2217 com-port option"},
      {"keeps another rate", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, c == tn::SET_BAUDRATE ? tn::BigEndian32(9600) : v); }, 0,
       "took 9600 baud when asked for 38400 baud"},
      {"answers the parity late and otherwise", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, c == tn::SET_PARITY ? std::string(1, '\x04') : v); }, 300,
       "took parity 4 when asked for parity 1"},
      {"no flow control", tn::Negotiation(tn::DO, tn::kComPort),
       [&](uint8_t c, const std::string& v) { return same(c, v == "\x03" ? std::string(1, '\x01') : v); }, 0,
       "took flow control 1 when asked for flow control 3"},
      {"a subnegotiation without end",
       tn::Negotiation(tn::DO, tn::kComPort) + "\xFF\xFA\x2C\x65" + std::string(5000, 'x'), nullptr, 0,
       "the server's telnet stream is broken"},
  };
  for (const Case& c : cases) {
    int port = 0;
    const int listener = kvr::sim::ListenOnLoopback(port);
    ASSERT_GE(listener, 0);
    std::thread server([&] {
      const int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      const auto put = [fd](const std::string& bytes) { return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); };
      put(c.greeting);
      tn::Decoder decoder;
      std::string late;
      decoder.OnComPort = [&](uint8_t command, const std::string& value) {
        if (!c.answer) return;
        if (c.late_ms > 0 && command == tn::SET_PARITY)
          late = c.answer(command, value);
        else
          put(c.answer(command, value));
      };
      char buf[512];
      pollfd p{fd, POLLIN, 0};
      const auto start = std::chrono::steady_clock::now();
      while (poll(&p, 1, 50) >= 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
        if (!late.empty() && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(c.late_ms))
          put(std::exchange(late, std::string()));
        if (!(p.revents & POLLIN)) continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        decoder.Feed(buf, static_cast<size_t>(n));
      }
      close(fd);
    });
    TestComm comm;
    comm.SetDeviceName("rfc2217://127.0.0.1:" + std::to_string(port));
    comm.SetBaudrate(br38400);
    if (std::string(c.what) == "no flow control") comm.FlowControl().SetOutCtsFlow(true);
    const std::string message = ErrorMessage([&] { comm.Open(); });
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_FALSE(comm.Active()) << c.what;
    shutdown(listener, SHUT_RDWR);
    server.join();
    close(listener);
  }
}

// Through a real serial server (ser2net in front of a pseudo-terminal): the
// line settings sent with RFC 2217 reach the server's line, and bytes with the
// value of telnet's IAC pass both ways.
TEST(NetworkPort, Rfc2217SetsTheServersLineAndCarriesEveryByte) {
  MainLoop loop;
  PtyPair line;
  kvr::sim::SerialServer server(line.SlavePath());
  if (!server.Installed()) GTEST_SKIP() << server.Why();
  ASSERT_TRUE(server.Running()) << server.Why();
  TestComm comm;
  comm.SetDeviceName(server.Rfc2217Url());
  comm.SetBaudrate(br9600);
  comm.SetDatabits(db7);
  comm.SetParity(paOdd);
  comm.SetStopbits(sb2);
  std::string got;
  comm.OnRxChar = [&](TVaObject*, int count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    got += bytes.substr(0, static_cast<size_t>(comm.ReadBuf(bytes.data(), count)));
  };
  comm.Open();
  // The server's side of the line (a pseudo-terminal keeps the rate, the stop
  // bits and the parity's sense; it does not keep the data bits).
  termios2 t{};
  ASSERT_EQ(ioctl(line.Master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 9600u);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & PARODD);
  comm.SetBaudrate(br19200);  // a live change goes to the server too
  ASSERT_EQ(ioctl(line.Master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 19200u);
  const std::string bytes(
      "A\xFF\xFF"
      "B\xFF",
      5);
  comm.WriteBuf(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_EQ(line.Read(bytes.size(), 3000), bytes);
  line.Write(std::string("\xFFz\xFF", 3));
  loop.PumpUntil([&] { return got.size() >= 3; });
  EXPECT_EQ(got, std::string("\xFFz\xFF", 3));
  comm.Close();
}

}  // namespace
}  // namespace va
