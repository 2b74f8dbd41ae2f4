// The control channel without the GUI: the message format, the instance lock, the socket
// left by a crash and the peer check, over real Unix sockets in a private folder.
#include "app/control_channel.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "test_support.h"

namespace tkb::control {
namespace {

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(ControlMessages, RequestsAndRepliesSurviveTheRoundTrip) {
  const Request requests[] = {
      ActivateRequest{},
      ActivateRequest{"token-1", "startup 2"},
      CommandRequest{{"set", "brakeUpper", "80"}, "/home/driver"},
      CommandRequest{{"profile", "load", "", std::string("a\0b\n", 4)}, ""},
  };
  for (const Request& request : requests) {
    const auto bytes = encodeRequest(request);
    const auto decoded = decodeRequest(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->index(), request.index());
    if (const auto* c = std::get_if<CommandRequest>(&request)) {
      EXPECT_EQ(std::get<CommandRequest>(*decoded).arguments, c->arguments);
      EXPECT_EQ(std::get<CommandRequest>(*decoded).workingDirectory, c->workingDirectory);
    } else {
      EXPECT_EQ(std::get<ActivateRequest>(*decoded).activationToken, std::get<ActivateRequest>(request).activationToken);
      EXPECT_EQ(std::get<ActivateRequest>(*decoded).startupId, std::get<ActivateRequest>(request).startupId);
    }
  }
  const Reply reply{"{\n  \"port\": \"COM3\"\n}\n", "\nPedimos Freno Max", 3};
  const auto bytes = encodeReply(reply);
  const auto decoded = decodeReply(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->out, reply.out);
  EXPECT_EQ(decoded->err, reply.err);
  EXPECT_EQ(decoded->status, 3);
}

TEST(ControlMessages, MalformedPayloadsDecodeToNothing) {
  std::vector<std::uint8_t> tooMany = bytesOf({2, 0, 0, 0, 0});
  const std::uint32_t count = kMaxArguments + 1;
  for (int i = 0; i < 4; ++i) tooMany.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
  for (std::uint32_t i = 0; i < count; ++i) tooMany.insert(tooMany.end(), {0, 0, 0, 0});
  auto trailing = encodeRequest(ActivateRequest{"t", ""});
  trailing.push_back(0);
  const std::pair<const char*, std::vector<std::uint8_t>> requests[] = {
      {"empty", {}},
      {"unknown type", bytesOf({9, 0, 0, 0, 0, 0, 0, 0, 0})},
      {"a reply where a request belongs", encodeReply({})},
      {"text longer than the payload", bytesOf({1, 5, 0, 0, 0, 'a', 'b'})},
      {"length near 4 GiB", bytesOf({1, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"argument count without arguments", bytesOf({2, 0, 0, 0, 0, 3, 0, 0, 0})},
      {"more arguments than allowed", tooMany},
      {"bytes after the request", trailing},
  };
  for (const auto& [name, bytes] : requests) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(decodeRequest(bytes.data(), bytes.size()).has_value());
  }
  const auto request = encodeRequest(ActivateRequest{});
  EXPECT_FALSE(decodeReply(request.data(), request.size()).has_value());
  const auto badStatus = bytesOf({3, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // status 256
  EXPECT_FALSE(decodeReply(badStatus.data(), badStatus.size()).has_value());
}

TEST(ControlMessages, ReaderTakesMessagesInPiecesAndRefusesOversizedOrExtraBytes) {
  const auto message = frameMessage(encodeRequest(CommandRequest{{"dump"}, "/tmp"}));
  MessageReader pieces(kMaxRequestBytes);
  for (std::size_t i = 0; i + 1 < message.size(); ++i)
    ASSERT_EQ(pieces.feed(&message[i], 1), MessageReader::Status::NeedMore) << i;
  EXPECT_EQ(pieces.feed(&message.back(), 1), MessageReader::Status::Complete);
  EXPECT_EQ(pieces.payload(), encodeRequest(CommandRequest{{"dump"}, "/tmp"}));

  MessageReader oversized(kMaxRequestBytes);
  const auto prefix = bytesOf({0x01, 0x00, 0x01, 0x00});  // 65537 bytes announced
  EXPECT_EQ(oversized.feed(prefix.data(), prefix.size()), MessageReader::Status::Malformed);

  MessageReader twice(kMaxRequestBytes);
  auto doubled = message;
  doubled.insert(doubled.end(), message.begin(), message.end());
  EXPECT_EQ(twice.feed(doubled.data(), doubled.size()), MessageReader::Status::Malformed);
}

class ControlSocketTest : public ::testing::Test {
 protected:
  std::string folder() const { return dir_.file("channel"); }
  test::TempDir dir_;
};

TEST_F(ControlSocketTest, OnlyOneHolderOfTheLockAtATime) {
  auto first = std::make_unique<InstanceLock>(folder());
  InstanceLock second(folder());
  EXPECT_EQ(first->acquire(), InstanceLock::Result::Acquired);
  EXPECT_EQ(second.acquire(), InstanceLock::Result::HeldElsewhere);
  struct stat info {};
  ASSERT_EQ(::stat(folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  first.reset();  // the first program ended
  EXPECT_EQ(second.acquire(), InstanceLock::Result::Acquired);
}

TEST_F(ControlSocketTest, TheLockHolderTakesOverTheSocketOfACrashedProgramAndAnswers) {
  InstanceLock lock(folder());
  ASSERT_EQ(lock.acquire(), InstanceLock::Result::Acquired);
  // A program that crashed left its socket file: nobody answers there.
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder() + "/" + kControlSocketName;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  // The lock is held: the program is there and about to bind; the caller waits for it and
  // does not take it for absent.
  EXPECT_EQ(call(ActivateRequest{}, 300, folder()).outcome, CallResult::Outcome::Busy);

  ControlListener listener(folder());
  ASSERT_TRUE(listener.listen(lock)) << listener.problem();
  std::optional<Request> received;
  std::thread server([&] {
    pollfd p{listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return;
    const int fd = listener.accept();
    received = readRequest(fd, 2000);
    writeMessage(fd, encodeReply({"out", "err", 4}), 2000);
    ::close(fd);
  });
  const CallResult result = call(CommandRequest{{"probe"}, "/w"}, 5000, folder());
  server.join();
  ASSERT_EQ(result.outcome, CallResult::Outcome::Replied);
  EXPECT_EQ(result.reply.out, "out");
  EXPECT_EQ(result.reply.err, "err");
  EXPECT_EQ(result.reply.status, 4);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(std::get<CommandRequest>(*received).arguments, std::vector<std::string>{"probe"});
  EXPECT_EQ(std::get<CommandRequest>(*received).workingDirectory, "/w");
}

// Answers every connection waiting on `listenFd` until one brings a request, which gets
// `reply`; connections without a request (closed) are dropped.
std::thread serveOne(int listenFd, Reply reply) {
  return std::thread([listenFd, reply] {
    for (;;) {
      pollfd p{listenFd, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) return;
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const bool request = readRequest(fd, 1000).has_value();
      if (request) writeMessage(fd, encodeReply(reply), 1000);
      ::close(fd);
      if (request) return;
    }
  });
}

int connectNonBlocking(const std::string& folder) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, (folder + "/" + kControlSocketName).c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

// A same-user flood of connections neither turns a real command away nor makes the caller
// think no program runs: the queue is as long as the system allows, and while the program's
// lock is held the caller keeps trying (a full queue, a socket not bound yet).
TEST_F(ControlSocketTest, AFloodOfConnectsNeverMakesTheCallerThinkNobodyRuns) {
  InstanceLock lock(folder());
  ASSERT_EQ(lock.acquire(), InstanceLock::Result::Acquired);
  ControlListener listener(folder());
  ASSERT_TRUE(listener.listen(lock));
  int systemMaximum = 128;
  if (std::FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "r")) {
    if (std::fscanf(f, "%d", &systemMaximum) != 1) systemMaximum = 128;
    std::fclose(f);
  }
  const int flood = std::min(systemMaximum, 512);
  std::vector<int> flooders;
  for (int i = 0; i < flood; ++i) flooders.push_back(connectNonBlocking(folder()));
  EXPECT_EQ(std::count(flooders.begin(), flooders.end(), -1), 0) << "queued: the system's maximum";
  for (int fd : flooders) ::close(fd);
  std::thread server = serveOne(listener.fd(), {"flooded", "", 0});
  EXPECT_EQ(call(CommandRequest{{"probe"}, "/"}, 5000, folder()).reply.out, "flooded");
  server.join();

  // A queue that stays full while the lock is held: busy, never nobody.
  const std::string small = dir_.file("small");
  InstanceLock smallLock(small);
  ASSERT_EQ(smallLock.acquire(), InstanceLock::Result::Acquired);
  const int full = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, (small + "/" + kControlSocketName).c_str());
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  std::vector<int> queued;
  for (int fd = connectNonBlocking(small); fd >= 0 && queued.size() < 16; fd = connectNonBlocking(small)) queued.push_back(fd);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(call(ActivateRequest{}, 400, small).outcome, CallResult::Outcome::Busy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  for (int fd : queued) ::close(fd);
  ::close(full);

  // The lock held, the socket bound a moment later (a program starting): the caller waits.
  const std::string starting = dir_.file("starting");
  InstanceLock startingLock(starting);
  ASSERT_EQ(startingLock.acquire(), InstanceLock::Result::Acquired);
  ControlListener late(starting);
  std::thread binder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (late.listen(startingLock)) serveOne(late.fd(), {"started", "", 0}).join();
  });
  EXPECT_EQ(call(CommandRequest{{"probe"}, "/"}, 5000, starting).reply.out, "started");
  binder.join();

  // No lock held and nobody bound: nobody runs, said at once.
  const std::string empty = dir_.file("empty");
  { InstanceLock ended(empty); ASSERT_EQ(ended.acquire(), InstanceLock::Result::Acquired); }
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(call(ActivateRequest{}, 5000, empty).outcome, CallResult::Outcome::Nobody);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(200));
}

TEST_F(ControlSocketTest, AListenerServesOnlyItsOwnUser) {
  InstanceLock lock(folder());
  ASSERT_EQ(lock.acquire(), InstanceLock::Result::Acquired);
  // A listener that expects another user takes our connection for a stranger's.
  ControlListener listener(folder(), ::geteuid() + 1);
  ASSERT_TRUE(listener.listen(lock));
  std::thread server([&] {
    pollfd p{listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, 5000) == 1) {
      EXPECT_EQ(listener.accept(), -1);
    }
  });
  EXPECT_EQ(call(ActivateRequest{}, 2000, folder()).outcome, CallResult::Outcome::NoReply);
  server.join();
  // Without the lock there is nothing to listen for.
  ControlListener unlocked(dir_.file("other"));
  EXPECT_FALSE(unlocked.listen(InstanceLock(dir_.file("other"))));
}

}  // namespace
}  // namespace tkb::control
