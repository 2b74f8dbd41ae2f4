// The TKB_Monitor program as the configuration program runs it: started in its folder, fed
// over the channel, ended with SIGTERM, after which it has shut the VR runtime down.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "link/monitor_datagram.h"
#include "x11_display.h"

using namespace tkb::monitor;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool waitFor(const std::function<bool()>& done, int milliseconds = 15000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Waits for the child; -1 when it is still running after the time allowed.
int waitForExit(pid_t child, int milliseconds) {
  int status = 0;
  pid_t done = 0;
  waitFor([&] { return (done = ::waitpid(child, &status, WNOHANG)) != 0; }, milliseconds);
  if (done != child) return -1;
  return status;
}

}  // namespace

TEST(MonitorProgram, RunsInItsFolderAndEndsCleanlyOnSigterm) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  std::ofstream(folder + "/config.ini") << "[MONITOR]\nenable_vr=1\nlast_mode=0\n";
  const std::string channel = "tkb-monitor-process-" + std::to_string(::getpid());
  const std::string snapshot = folder + "/first.png";
  const std::string vrLog = folder + "/vr.log";

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TKB_MONITOR_CHANNEL", channel.c_str(), 1);
    ::setenv("TKB_OPENVR_LIBRARY", FAKE_OPENVR_PATH, 1);
    ::setenv("TKB_FAKE_VR_LOG", vrLog.c_str(), 1);
    ::execl(TKB_MONITOR_PATH, TKB_MONITOR_PATH, "--snapshot", snapshot.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }

  EXPECT_TRUE(waitFor([&] { return QImage(QString::fromStdString(snapshot)).width() == 152; }));
  const QImage first(QString::fromStdString(snapshot));
  EXPECT_EQ(first.size(), QSize(152, 102));
  EXPECT_EQ(first.pixel(77, 39), qRgb(221, 102, 40)) << "one-number panel of mode 0";

  MonitorSender sender(channel);
  const auto update = pedalUpdateDatagram({3, 70, 90, 10, 20, 30});
  EXPECT_TRUE(waitFor([&] { return sender.send(update); })) << "the monitor never bound its name";
  EXPECT_TRUE(waitFor([&] {
    return readFile(folder + "/config.ini").find("last_mode=3") != std::string::npos;
  }));

  ASSERT_EQ(::kill(child, SIGTERM), 0);
  int status = waitForExit(child, 15000);
  if (status == -1) {
    ::kill(child, SIGKILL);
    status = waitForExit(child, 5000);
    FAIL() << "the monitor ignored SIGTERM";
  }
  EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string log = readFile(vrLog);
  EXPECT_NE(log.find("VR_Init\n"), std::string::npos) << log;
  EXPECT_NE(log.find("SetOverlayTexture\n"), std::string::npos) << log;
  const std::string ending = "DestroyOverlay\nVR_Shutdown\n";
  ASSERT_GE(log.size(), ending.size());
  EXPECT_EQ(log.substr(log.size() - ending.size()), ending) << "VR shut down on the way out";
  EXPECT_FALSE(sender.send(update)) << "the name is free again";
}

TEST(MonitorProgram, RunsOnTheXDisplayWhenTheSessionExportsWayland) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string snapshot = folder + "/first.png";
  const std::string output = folder + "/stdout.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0 || !std::freopen(output.c_str(), "w", stdout)) ::_exit(126);
    // A Wayland session as the desktop gives it, with a compositor that is not there: only
    // the X display (the test run's) can show the window.
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    ::setenv("XDG_SESSION_TYPE", "wayland", 1);
    ::setenv("WAYLAND_DISPLAY", "tkb-no-such-compositor", 1);
    const std::string channel = "tkb-monitor-platform-" + std::to_string(::getpid());
    ::setenv("TKB_MONITOR_CHANNEL", channel.c_str(), 1);
    ::execl(TKB_MONITOR_PATH, TKB_MONITOR_PATH, "--snapshot", snapshot.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const bool started =
      waitFor([&] { return QImage(QString::fromStdString(snapshot)).width() == 152; });
  ::kill(child, SIGTERM);
  int status = waitForExit(child, 15000);
  if (status == -1) {
    ::kill(child, SIGKILL);
    status = waitForExit(child, 5000);
  }
  EXPECT_TRUE(started) << "the monitor did not come up on X11";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(readFile(output).find("without XWayland"), std::string::npos) << readFile(output);
}
