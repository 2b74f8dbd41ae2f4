// The datagram channel between the configuration program and the monitor: the 20-byte layout,
// the byte extraction of the pedal update, the sender's packing and the receiver's filter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "monitor/monitor_datagram.h"

using namespace tkb::monitor;

namespace {

std::string uniqueName(const char* what) {
  return std::string("tkb-test-") + what + "-" + std::to_string(::getpid());
}

// Datagrams travel through the kernel at once, but allow for a loaded machine.
std::optional<MonitorDatagram> receiveWithin(MonitorReceiver& receiver, int milliseconds = 2000) {
  for (int waited = 0; waited < milliseconds; waited += 5) {
    if (auto datagram = receiver.receive()) return datagram;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::nullopt;
}

}  // namespace

TEST(MonitorDatagram, EncodesLittleEndianTwentyBytes) {
  const MonitorDatagram datagram{0x401, 0x0102030405060708LL, -2};
  const auto bytes = encodeDatagram(datagram);
  const std::uint8_t expected[20] = {0x01, 0x04, 0x00, 0x00,                          // 0x401
                                     0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // wParam
                                     0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // -2
  for (int i = 0; i < 20; ++i) EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;

  const auto decoded = decodeDatagram(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->message, 0x401u);
  EXPECT_EQ(decoded->wParam, 0x0102030405060708LL);
  EXPECT_EQ(decoded->lParam, -2);
}

TEST(MonitorDatagram, OnlyExactlyTwentyBytesDecode) {
  const std::uint8_t bytes[32] = {0x01, 0x04};
  for (std::size_t length : {0, 1, 12, 19, 21, 32}) {
    EXPECT_FALSE(decodeDatagram(bytes, length)) << length;
  }
  EXPECT_TRUE(decodeDatagram(bytes, 20));
  EXPECT_FALSE(decodeDatagram(nullptr, 20));
}

TEST(MonitorDatagram, PedalUpdateTakesBytesZeroToTwoOfEachParameter) {
  struct Row {
    std::int64_t w, l;
    PedalUpdate expected;
  };
  const Row rows[] = {
      // PRO page with clutch: mode 2, limiter 80, brake maximum 95; throttle 10, brake 20,
      // clutch 30.
      {0x5F5002, 0x1E140A, {2, 80, 95, 10, 20, 30}},
      // Higher bits are not the monitor's business.
      {static_cast<std::int64_t>(0xFFFFFFFF01020301ULL), 0x7F00000000646464LL,
       {1, 3, 2, 100, 100, 100}},
      {0, 0, {0, 0, 0, 0, 0, 0}},
  };
  for (const Row& row : rows) {
    const auto update = pedalUpdateOf(MonitorDatagram{kPedalUpdateMessage, row.w, row.l});
    ASSERT_TRUE(update);
    EXPECT_EQ(update->mode, row.expected.mode);
    EXPECT_EQ(update->maxNumber, row.expected.maxNumber);
    EXPECT_EQ(update->cutNumber, row.expected.cutNumber);
    EXPECT_EQ(update->throttle, row.expected.throttle);
    EXPECT_EQ(update->brake, row.expected.brake);
    EXPECT_EQ(update->clutch, row.expected.clutch);
  }
  EXPECT_FALSE(pedalUpdateOf(MonitorDatagram{0x400, 0x5F5002, 0}));
  EXPECT_FALSE(pedalUpdateOf(MonitorDatagram{0x402, 0x5F5002, 0}));
}

TEST(MonitorDatagram, SenderPackingWrapsIn32BitsAndSignExtends) {
  EXPECT_EQ(packParameter(95, 80, 2), 0x5F5002);
  // A 16-bit brake maximum of 0xC000 overflows 32 bits: the sender's value is negative and
  // sign-extended, and the three low bytes still arrive intact.
  const std::int64_t packed = packParameter(0xC000, 0x50, 0x02);
  EXPECT_LT(packed, 0);
  const auto update = pedalUpdateOf(MonitorDatagram{kPedalUpdateMessage, packed, 0});
  ASSERT_TRUE(update);
  EXPECT_EQ(update->mode, 2);
  EXPECT_EQ(update->maxNumber, 0x50);
  EXPECT_EQ(update->cutNumber, 0x00);

  const PedalUpdate sent{3, 12, 130, 40, 50, 60};
  const auto back = pedalUpdateOf(pedalUpdateDatagram(sent));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mode, 3);
  EXPECT_EQ(back->cutNumber, 130);
  EXPECT_EQ(back->clutch, 60);
}

TEST(MonitorChannel, SenderSeesNoMonitorWhenNobodyIsBound) {
  MonitorSender sender(uniqueName("absent"));
  EXPECT_FALSE(sender.send(MonitorDatagram{kPedalUpdateMessage, 0, 0}));
}

TEST(MonitorChannel, ReceiverPassesOnlyWellFormedDatagrams) {
  const std::string name = uniqueName("filter");
  MonitorReceiver receiver(name);
  ASSERT_TRUE(receiver.bind());
  MonitorReceiver second(name);
  EXPECT_FALSE(second.bind()) << "the name belongs to the first monitor";

  MonitorSender sender(name);
  const std::uint8_t shortDatagram[19] = {0x01, 0x04};
  const std::uint8_t longDatagram[21] = {0x01, 0x04};
  ASSERT_TRUE(sender.sendBytes(shortDatagram, sizeof shortDatagram));
  ASSERT_TRUE(sender.sendBytes(longDatagram, sizeof longDatagram));
  ASSERT_TRUE(sender.send(MonitorDatagram{kPedalUpdateMessage, 0x0203, 0x040506}));

  const auto received = receiveWithin(receiver);
  ASSERT_TRUE(received);
  EXPECT_EQ(received->wParam, 0x0203);
  EXPECT_EQ(received->lParam, 0x040506);
  EXPECT_FALSE(receiver.receive()) << "the malformed ones were dropped, not queued";
}

TEST(MonitorChannel, DatagramsFromAnotherUserAreDropped) {
  // The kernel stamps every datagram with the sender's credentials; a receiver that belongs to
  // another user must drop ours.
  const std::string name = uniqueName("user");
  MonitorReceiver receiver(name, ::getuid() + 1);
  ASSERT_TRUE(receiver.bind());
  MonitorSender sender(name);
  ASSERT_TRUE(sender.send(MonitorDatagram{kPedalUpdateMessage, 1, 1}));
  EXPECT_FALSE(receiveWithin(receiver, 200));
}
