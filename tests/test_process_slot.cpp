// ProcessSlot with a real child program (the monitor stub).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/process_slot.h"

namespace tkb {
namespace {

bool alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

class ProcessSlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tkb-slot-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/opt");
    std::filesystem::copy_file(TKB_MONITOR_STUB, dir_ + "/opt/TKB_Monitor");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    unsetenv("TKB_STUB_IGNORE_TERM");
    unsetenv("TKB_STUB_EXIT");
    if (chdir("/") != 0) ADD_FAILURE();
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(ProcessSlotTest, StartsInItsFolderAndStopsWithTerm) {
  ProcessSlot slot;
  ASSERT_TRUE(slot.start("./opt/TKB_Monitor", "./opt/"));
  const pid_t pid = slot.pid();
  const std::string marker = dir_ + "/opt/started-" + std::to_string(pid);
  for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(marker));
  slot.stop();
  EXPECT_TRUE(slot.empty());
  EXPECT_FALSE(alive(pid));
  slot.stop();  // an empty slot: nothing
}

TEST_F(ProcessSlotTest, HungMonitorIsKilledAfterTheGracePeriod) {
  setenv("TKB_STUB_IGNORE_TERM", "1", 1);
  ProcessSlot slot;
  ASSERT_TRUE(slot.start("./opt/TKB_Monitor", "./opt/"));
  const pid_t pid = slot.pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it set up its signals
  const auto t0 = std::chrono::steady_clock::now();
  slot.stop();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(alive(pid));
  EXPECT_GE(took, std::chrono::milliseconds(kStopGraceMs - 50));
}

TEST_F(ProcessSlotTest, MonitorThatEndedByItselfStaysUntilStopReapsIt) {
  setenv("TKB_STUB_EXIT", "1", 1);
  ProcessSlot slot;
  ASSERT_TRUE(slot.start("./opt/TKB_Monitor", "./opt/"));
  const pid_t pid = slot.pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(slot.empty());
  slot.stop();
  EXPECT_TRUE(slot.empty());
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped
}

TEST_F(ProcessSlotTest, MissingProgramOrFolderIsNotStarted) {
  ProcessSlot slot;
  EXPECT_FALSE(slot.start("./opt/NoSuchMonitor", "./opt/"));
  EXPECT_TRUE(slot.empty());
  EXPECT_FALSE(slot.start("./opt/TKB_Monitor", "./no-such-folder/"));
  EXPECT_TRUE(slot.empty());
}

TEST_F(ProcessSlotTest, ChildGetsNoDescriptorOfOurs) {
  // A descriptor without close-on-exec, as a serial port or log might have been opened.
  const int fd = dup(1);
  ASSERT_GE(fd, 3);
  ProcessSlot slot;
  ASSERT_TRUE(slot.start("./opt/TKB_Monitor", "./opt/"));
  const std::string link = "/proc/" + std::to_string(slot.pid()) + "/fd/" + std::to_string(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  slot.stop();
  close(fd);
}

}  // namespace
}  // namespace tkb
