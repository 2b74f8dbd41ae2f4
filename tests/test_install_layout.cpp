// Where the programs keep the driver's files: installed in the XDG data folder, staged in the
// working directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/install_layout.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class InstallLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path();
    saved_ = fs::current_path();
    for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
      const char* v = std::getenv(name);
      env_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  void TearDown() override {
    fs::current_path(saved_);
    for (const auto& [name, value] : env_)
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
  // <root>/usr/lib/tkb-tunedeck/<program>, with or without <root>/usr/share/tkb-tunedeck.
  std::string installedProgram(bool withShare) {
    fs::create_directories(root_ / "usr/lib/tkb-tunedeck");
    if (withShare) fs::create_directories(root_ / "usr/share/tkb-tunedeck");
    return (root_ / "usr/lib/tkb-tunedeck/TKB-Tunedeck").string();
  }
  tkb::test::TempDir temp_;
  fs::path root_;
  fs::path saved_;
  std::vector<std::pair<std::string, std::optional<std::string>>> env_;
};

TEST_F(InstallLayoutTest, BaseFolderFollowsXdgDataHome) {
  struct Case {
    const char* xdg;  // nullptr: unset
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/me", "/home/me", "/data/me/tkb-tunedeck"},
      {nullptr, "/home/me", "/home/me/.local/share/tkb-tunedeck"},
      {"", "/home/me", "/home/me/.local/share/tkb-tunedeck"},
      // A relative XDG_DATA_HOME is invalid and ignored.
      {"relative/data", "/home/me", "/home/me/.local/share/tkb-tunedeck"},
  };
  for (const Case& c : cases) {
    c.xdg ? ::setenv("XDG_DATA_HOME", c.xdg, 1) : ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", c.home, 1);
    EXPECT_EQ(tkb::userBaseFolder(), c.expected) << (c.xdg ? c.xdg : "(unset)");
  }
}

TEST_F(InstallLayoutTest, InstalledProgramNamesItsFilesUnderItsPrefix) {
  ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  const tkb::InstallLayout layout = tkb::detectInstallLayout(installedProgram(true));
  ASSERT_TRUE(layout.installed);
  const std::string usr = (root_ / "usr").string();
  EXPECT_EQ(layout.baseFolder, (root_ / "data/tkb-tunedeck").string());
  EXPECT_EQ(layout.monitorProgram(), usr + "/lib/tkb-tunedeck/TKB_Monitor");
  EXPECT_EQ(layout.bootloaderScript(), usr + "/share/tkb-tunedeck/modo.sh");
  EXPECT_EQ(layout.avrdudeConfig(), "/etc/avrdude.conf");
  EXPECT_EQ(layout.manualFolder(), usr + "/share/tkb-tunedeck");
  EXPECT_EQ(layout.udevRule(), usr + "/lib/udev/rules.d/70-tkb-pedals.rules");
}

TEST_F(InstallLayoutTest, StagedProgramKeepsTheWorkingDirectory) {
  fs::current_path(root_);
  for (const std::string& program : {installedProgram(false), (root_ / "stage/TKB-Tunedeck").string()}) {
    const tkb::InstallLayout layout = tkb::detectInstallLayout(program);
    EXPECT_FALSE(layout.installed) << program;
    EXPECT_EQ(layout.baseFolder, fs::current_path().string());
    EXPECT_EQ(layout.monitorProgram(), "./opt/TKB_Monitor");
    EXPECT_EQ(layout.bootloaderScript(), "modo.sh");
    EXPECT_EQ(layout.avrdudeConfig(), "avrdude.conf");
    std::string error;
    EXPECT_TRUE(tkb::enterBaseFolder(layout, "opt", error));
    EXPECT_EQ(fs::current_path(), root_) << "a staged program must not change its folder";
  }
}

TEST_F(InstallLayoutTest, InstalledProgramMakesAndEntersThePrivateBaseFolder) {
  ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  const tkb::InstallLayout layout = tkb::detectInstallLayout(installedProgram(true));
  std::string error;
  ASSERT_TRUE(tkb::enterBaseFolder(layout, "opt", error)) << error;
  EXPECT_EQ(fs::current_path(), root_ / "data/tkb-tunedeck/opt");
  for (const char* sub : {"", "/opt", "/tkb", "/wkf"}) {
    struct stat info {};
    ASSERT_EQ(::stat((layout.baseFolder + sub).c_str(), &info), 0) << sub;
    EXPECT_EQ(info.st_mode & 0777, 0700u) << sub;
  }
  // Again, with everything there already.
  EXPECT_TRUE(tkb::enterBaseFolder(layout, "", error)) << error;
  EXPECT_EQ(fs::current_path(), root_ / "data/tkb-tunedeck");
}

TEST_F(InstallLayoutTest, UnusableBaseFolderIsRefusedWithTheReason) {
  // A file where the folder should be: nothing can be kept, and the caller is told why.
  std::ofstream(root_ / "data") << "not a folder";
  ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  const tkb::InstallLayout layout = tkb::detectInstallLayout(installedProgram(true));
  fs::current_path(root_);
  std::string error;
  EXPECT_FALSE(tkb::enterBaseFolder(layout, "", error));
  EXPECT_NE(error.find((root_ / "data").string()), std::string::npos) << error;
  EXPECT_EQ(fs::current_path(), root_);
}

}  // namespace
