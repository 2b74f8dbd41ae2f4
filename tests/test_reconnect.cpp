// A pedal set pulled out and plugged in again, over real pseudo-terminals: the serial
// layer notices the link is gone, and the background search finds the pedals again on
// the same port name or another one.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/reconnect.h"
#include "emulator_fixture.h"

namespace tkb::test {
namespace {

using WallClock = std::chrono::steady_clock;

long long msSince(WallClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(WallClock::now() - start).count();
}

// Polls the port the way the window does between actions until it reports the link gone.
long long msUntilLost(SerialPort& port) {
  const auto start = WallClock::now();
  while (port.checkLink() && msSince(start) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return msSince(start);
}

TEST(LostLink, EveryWayOfGoingIsSeenWithinHalfASecond) {
  struct Case {
    const char* what;
    std::function<void(EmulatedPorts&, emu::PedalEmulator&)> pull;
  };
  const Case cases[] = {
      {"cable pulled (hang-up, node gone)", [](EmulatedPorts&, emu::PedalEmulator& e) { e.unplug(); }},
      {"node gone, descriptor quiet",
       [](EmulatedPorts& ports, emu::PedalEmulator&) { ::unlink((ports.dir() + "/ttyACM3").c_str()); }},
      {"name now another device",
       [](EmulatedPorts& ports, emu::PedalEmulator&) {
         const std::string link = ports.dir() + "/ttyACM3";
         const std::string other = ports.at(4).devicePath();
         ::unlink(link.c_str());
         ASSERT_EQ(::symlink(other.c_str(), link.c_str()), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedPorts ports;
    emu::PedalEmulator& pedals = ports.add(3);
    ports.add(4);
    SerialPort port;
    ASSERT_TRUE(port.open(ports.dir() + "/ttyACM3"));
    ASSERT_TRUE(port.checkLink());
    c.pull(ports, pedals);
    EXPECT_LT(msUntilLost(port), 500);
    EXPECT_TRUE(port.lost());
    EXPECT_FALSE(port.checkLink());
  }
}

TEST(LostLink, ReadAndWriteOnAPulledCableFailAsLostAndAReopenClearsIt) {
  EmulatedPorts ports;
  emu::PedalEmulator& pedals = ports.add(3);
  Controller controller;
  ASSERT_EQ(probeController(controller), 1);
  pedals.unplug();
  uint8_t reply[3];
  const ReadResult r = controller.link().read(reply);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(controller.link().lost());
  EXPECT_EQ(controller.ask(Query::Language), QueryResult::WriteFailed);
  EXPECT_EQ(controller.linkState(), LinkState::Disconnected);

  ASSERT_TRUE(pedals.plugIn());
  ASSERT_TRUE(controller.link().open(ports.dir() + "/ttyACM3"));
  EXPECT_FALSE(controller.link().lost());
}

TEST(Reconnector, FindsThePedalsAgainUnderTheSameNameOrAnother) {
  struct Case {
    const char* what;
    const char* plugInAs;  // empty: the old name
    const char* port;
  };
  for (const Case& c : {Case{"same name", "", "COM3"}, Case{"another name", "ttyACM6", "COM6"}}) {
    SCOPED_TRACE(c.what);
    EmulatedPorts ports;
    emu::PedalEmulator& pedals = ports.add(3);
    Controller controller;
    ASSERT_EQ(probeController(controller), 1);
    pedals.unplug();
    ASSERT_FALSE(controller.checkLink());
    controller.closeLink();

    std::atomic<int> found{0};
    Reconnector search;
    search.start(controller, {}, [&](int result) { found = result; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(found.load(), 0);
    const int passesWhileAway = search.passes();
    EXPECT_LE(passesWhileAway, 2) << "the search waits for the folder, it does not spin";
    const auto plugged = WallClock::now();
    ASSERT_TRUE(pedals.plugIn(*c.plugInAs ? ports.dir() + "/" + c.plugInAs : std::string()));
    while (found == 0 && msSince(plugged) < 5000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(found.load(), 1);
    EXPECT_LT(msSince(plugged), 1500) << "woken by the folder, not by the slow pass";
    search.stop();
    EXPECT_EQ(controller.portName(), c.port);
    controller.setLinkState(LinkState::Connected);
    EXPECT_EQ(controller.ask(Query::Language), QueryResult::Accepted);
  }
}

}  // namespace
}  // namespace tkb::test
