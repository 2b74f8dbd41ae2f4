// The datagram channel between the configuration program and the monitor: the 20-byte layout,
// the byte extraction of the pedal update, the sender's packing and the receiver's filter.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/monitor_datagram.h"

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

// Address of a socket file, for the raw attempts another user's program would make.
sockaddr_un addressOf(const std::string& path, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  length = sizeof address;
  return address;
}

bool rawBind(int fd, const std::string& path) {
  socklen_t length;
  const sockaddr_un address = addressOf(path, length);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool rawSend(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  socklen_t length;
  const sockaddr_un address = addressOf(path, length);
  const auto bytes = encodeDatagram(MonitorDatagram{kPedalUpdateMessage, 1, 1});
  const bool sent = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                             length) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  return sent;
}

struct TempFolder {
  explicit TempFolder(mode_t mode = 0700) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tkb-test-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
    ::chmod(path.c_str(), mode);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string path;
};
// A temporary folder anybody may write, as /tmp is.
struct SharedTempDir : TempFolder {
  SharedTempDir() : TempFolder(01777) {}
};

// Another user of the machine ("nobody") running body in a child process. The child signals
// once it is set up, then waits until the parent lets it go on; its exit status is body's.
class OtherUser {
 public:
  OtherUser(const std::function<void()>& setUp, const std::function<int()>& body) {
    if (::pipe(ready_) != 0 || ::pipe(go_) != 0) return;
    child_ = ::fork();
    if (child_ != 0) {
      ::close(ready_[1]);
      ::close(go_[0]);
      return;
    }
    const gid_t nogroup = 65534;
    if (::setgroups(1, &nogroup) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(100);
    setUp();
    char byte = 'r';
    if (::write(ready_[1], &byte, 1) != 1 || ::read(go_[0], &byte, 1) != 1) ::_exit(101);
    ::_exit(body());
  }
  // A test that stopped early does not leave the child waiting for ever.
  ~OtherUser() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
  }
  bool waitReady() {
    char byte;
    return child_ > 0 && ::read(ready_[0], &byte, 1) == 1;
  }
  // Lets the child go on and gives its exit status (-1 when it did not exit normally).
  int finish() {
    const char byte = 'g';
    if (::write(go_[1], &byte, 1) != 1) return -1;
    int status = 0;
    const pid_t reaped = ::waitpid(child_, &status, 0);
    child_ = -1;
    if (reaped <= 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

 private:
  int ready_[2] = {-1, -1}, go_[2] = {-1, -1};
  pid_t child_ = -1;
};

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

// One sender for the program's life: each monitor started in turn gets the updates from its
// first one on, and none goes anywhere while none runs.
TEST(MonitorChannel, OneSenderReachesEachMonitorStartedInTurn) {
  const std::string name = uniqueName("restart");
  MonitorSender sender(name);
  EXPECT_FALSE(sender.send(MonitorDatagram{kPedalUpdateMessage, 0, 0}));
  for (int run = 1; run <= 2; ++run) {
    MonitorReceiver receiver(name);
    ASSERT_TRUE(receiver.bind());
    for (int update = 0; update < 2; ++update) {
      ASSERT_TRUE(sender.send(MonitorDatagram{kPedalUpdateMessage, run, update}));
      const auto received = receiveWithin(receiver);
      ASSERT_TRUE(received);
      EXPECT_EQ(received->wParam, run);
      EXPECT_EQ(received->lParam, update);
    }
  }
  EXPECT_FALSE(sender.send(MonitorDatagram{kPedalUpdateMessage, 3, 3}));
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

TEST(MonitorChannel, LivesInAFolderOnlyItsUserMayEnter) {
  TempFolder runtime;
  const std::string folder = runtime.path + "/tkb-tunedeck";
  const std::string name = uniqueName("folder");
  {
    MonitorReceiver receiver(name, ::getuid(), folder);
    ASSERT_TRUE(receiver.bind()) << receiver.problem();
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    MonitorSender sender(name, folder);
    EXPECT_TRUE(sender.send(MonitorDatagram{kPedalUpdateMessage, 7, 8}));
    EXPECT_TRUE(receiveWithin(receiver));
  }
  // A monitor that died leaves its socket file; the next one takes the name over.
  const int dead = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_TRUE(rawBind(dead, folder + "/" + name));
  ::close(dead);
  MonitorReceiver next(name, ::getuid(), folder);
  EXPECT_TRUE(next.bind()) << next.problem();

  ::chmod(folder.c_str(), 0755);
  EXPECT_FALSE(MonitorSender(name, folder).send(MonitorDatagram{kPedalUpdateMessage, 1, 1}))
      << "a folder others may enter is not trusted";
}

TEST(MonitorChannel, AnotherUserCanNeitherTakeNorReachOurChannel) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
  SharedTempDir shared;
  const std::string name = uniqueName("users");
  MonitorReceiver ours(name);
  const std::string ourPath = ours.path();
  // The other user's monitor runs first, in that user's own folder.
  std::unique_ptr<MonitorReceiver> theirs;
  OtherUser other(
      [&] {
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("XDG_CACHE_HOME");
        const std::string home = shared.path + "/home-of-nobody";
        ::mkdir(home.c_str(), 0700);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("TMPDIR", shared.path.c_str(), 1);
        theirs = std::make_unique<MonitorReceiver>(name);
        if (!theirs->bind()) ::_exit(102);
      },
      [&] {
        if (rawSend(ourPath)) return 1;  // nobody may deliver a datagram to us
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        if (rawBind(fd, ourPath + "-theirs")) return 2;  // nor make a socket beside ours
        if (receiveWithin(*theirs, 300)) return 3;  // and our updates do not reach them
        return 0;
      });
  ASSERT_TRUE(other.waitReady());
  ASSERT_TRUE(ours.bind()) << "our monitor starts while another user's runs: " << ours.problem();
  ASSERT_TRUE(MonitorSender(name).send(MonitorDatagram{kPedalUpdateMessage, 5, 6}));
  const auto received = receiveWithin(ours);
  ASSERT_TRUE(received);
  EXPECT_EQ(received->wParam, 5);
  EXPECT_EQ(other.finish(), 0);
  EXPECT_FALSE(receiveWithin(ours, 100));
}

// The environment variables a test changes, put back as they were.
class SavedEnvironment {
 public:
  explicit SavedEnvironment(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~SavedEnvironment() {
    for (const auto& [name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Without XDG_RUNTIME_DIR another user may make our old folder in the shared temporary folder
// first; the channels live in our own home instead, where the monitor still gets its updates.
TEST(MonitorChannel, AFolderSquattedInTheTemporaryFolderDoesNotDenyUsTheChannel) {
  SavedEnvironment saved{"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME", "TMPDIR"};
  SharedTempDir shared;
  TempFolder home;
  ::unsetenv("XDG_RUNTIME_DIR");
  ::unsetenv("XDG_CACHE_HOME");
  ::setenv("HOME", home.path.c_str(), 1);
  ::setenv("TMPDIR", shared.path.c_str(), 1);
  const std::string name = uniqueName("squatted");
  const std::string squatted = shared.path + "/tkb-tunedeck-" + std::to_string(::geteuid());
  OtherUser other(
      [&] {
        ::mkdir(squatted.c_str(), 0777);
        ::mkdir((home.path + "/.cache").c_str(), 0777);  // refused: the home is ours alone
      },
      [] { return 0; });
  ASSERT_TRUE(other.waitReady());
  ASSERT_TRUE(std::filesystem::exists(squatted));
  ASSERT_FALSE(std::filesystem::exists(home.path + "/.cache"));
  MonitorReceiver receiver(name);
  ASSERT_TRUE(receiver.bind()) << receiver.problem();
  EXPECT_EQ(receiver.path().rfind(home.path + "/.cache/tkb-tunedeck-", 0), 0u) << receiver.path();
  ASSERT_TRUE(MonitorSender(name).send(MonitorDatagram{kPedalUpdateMessage, 9, 9}));
  EXPECT_TRUE(receiveWithin(receiver));
  EXPECT_EQ(other.finish(), 0);
}

TEST(MonitorChannel, AFolderAnotherUserMadeFirstIsNeverUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
  SharedTempDir shared;
  const std::string folder = shared.path + "/tkb-tunedeck-" + std::to_string(::geteuid());
  const std::string name = uniqueName("squat");
  int trap = -1;
  OtherUser other(
      [&] {
        ::mkdir(folder.c_str(), 0777);
        ::chmod(folder.c_str(), 0777);
        trap = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        if (!rawBind(trap, folder + "/" + name)) ::_exit(102);
      },
      [&] {
        char buffer[64];
        ::usleep(100 * 1000);
        return ::recv(trap, buffer, sizeof buffer, 0) > 0 ? 1 : 0;
      });
  ASSERT_TRUE(other.waitReady());
  MonitorReceiver receiver(name, ::getuid(), folder);
  EXPECT_FALSE(receiver.bind());
  EXPECT_NE(receiver.problem().find("belongs to another user"), std::string::npos) << receiver.problem();
  EXPECT_FALSE(MonitorSender(name, folder).send(MonitorDatagram{kPedalUpdateMessage, 1, 1}));
  EXPECT_EQ(other.finish(), 0) << "the other user received our update";
}
