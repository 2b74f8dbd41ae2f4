// The device doctor over fake device trees: each problem is reported with its fix, foreign
// devices are never opened, and "nothing is wrong" only when that is so.
#include <gtest/gtest.h>
#include <grp.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/doctor.h"
#include "dac_override.h"
#include "fake_event_nodes.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class DoctorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPrefix_ = std::getenv("TKB_SERIAL_PREFIX") ? std::getenv("TKB_SERIAL_PREFIX") : "";
    savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    // The port ids are read where the link reads them: under $TKB_SYSFS_ROOT.
    ::setenv("TKB_SERIAL_PREFIX", (root_ / "dev/ttyACM").c_str(), 1);
    ::setenv("TKB_SYSFS_ROOT", (root_ / "sys").c_str(), 1);
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "proc");
    fs::create_directories(root_ / "rules");
    fs::create_directories(root_ / "base/wkf");
    setup_.roots = {(root_ / "sys").string(), (root_ / "dev").string()};
    setup_.procRoot = (root_ / "proc").string();
    setup_.udevDataRoot = (root_ / "udev").string();
    setup_.ruleFolders = {(root_ / "rules").string()};
    setup_.layout.installed = false;
    setup_.layout.baseFolder = (root_ / "base").string();
    setup_.layout.dataFolder = (root_ / "base").string();
  }
  void TearDown() override {
    ::setenv("TKB_SERIAL_PREFIX", savedPrefix_.c_str(), 1);
    ::setenv("PATH", savedPath_.c_str(), 1);
    ::unsetenv("TKB_SYSFS_ROOT");
  }

  // A USB serial port: /dev/ttyACM<n> (a plain file here) whose sysfs device has these ids.
  // node: what the port name resolves to (default itself).
  void plugPort(int n, const char* vendor, const char* product) {
    const std::string node = "ttyACM" + std::to_string(n);
    const fs::path usb = root_ / "sys/devices/usb1" / ("1-" + std::to_string(n));
    fs::create_directories(usb / "1-1:1.0");
    std::ofstream(usb / "idVendor") << vendor << "\n";
    std::ofstream(usb / "idProduct") << product << "\n";
    fs::create_directories(root_ / "sys/class/tty" / node);
    fs::create_symlink(usb / "1-1:1.0", root_ / "sys/class/tty" / node / "device");
    std::ofstream(root_ / "dev" / node) << "";
  }
  void plugJoystick() {
    fs::create_directories(root_ / "sys/class/hidraw/hidraw2/device");
    std::ofstream(root_ / "sys/class/hidraw/hidraw2/device/uevent") << "HID_ID=0003:000016D0:00000F53\n";
    ASSERT_EQ(::mkfifo((root_ / "dev/hidraw2").c_str(), 0644), 0);
  }
  void healthy() {
    plugPort(0, "16d0", "0f53");
    plugJoystick();
    keyboard_.plug("event5");
    std::ofstream(root_ / "base/wkf/avrdude.conf") << "# parts\n";
    std::ofstream(root_ / "base/wkf/firmcor.wkf") << ":00000001FF\n";
    std::ofstream(root_ / "rules/70-tkb-pedals.rules") << "# rule\n";
  }
  const tkb::Finding* find(const tkb::DoctorReport& report, const std::string& topicStart) {
    for (const tkb::Finding& f : report.findings)
      if (f.topicText().rfind(topicStart, 0) == 0) return &f;
    ADD_FAILURE() << "no finding " << topicStart << " in\n" << report.text();
    return nullptr;
  }

  tkb::test::TempDir temp_;
  fs::path root_ = temp_.path();
  tkb::test::FakeEventNodes keyboard_{root_};
  std::string savedPrefix_, savedPath_;
  tkb::DoctorSetup setup_;
};

TEST_F(DoctorTest, HealthySystemHasNoProblem) {
  healthy();
  const tkb::DoctorReport report = tkb::runDoctor(setup_);
  EXPECT_EQ(report.problems(), 0) << report.text();
  EXPECT_NE(report.text().find("Nothing is wrong."), std::string::npos);
  const tkb::Finding* port = find(report, "Serial port COM0");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->detailText(), "USB 16d0:0f53 (the pedal set), can be opened");
  EXPECT_NE(find(report, "avrdude")->detailText().find("version"), std::string::npos);
}

// Without the rule, a refused node names the command that installs the shipped rule; with the
// rule installed, only the reload. A port of the dialout group also names the group fix.
TEST_F(DoctorTest, RefusedNodesNameTheAccessFix) {
  healthy();
  const gid_t dialout = ::getgrnam("dialout") ? ::getgrnam("dialout")->gr_gid : 20;
  ASSERT_EQ(::chown((root_ / "dev/ttyACM0").c_str(), 0, dialout), 0);
  fs::permissions(root_ / "dev/ttyACM0", fs::perms::none);
  fs::permissions(root_ / "dev/hidraw2", fs::perms::none);
  fs::permissions(root_ / "dev/input/event5", fs::perms::none);
  for (const bool ruleInstalled : {true, false}) {
    if (!ruleInstalled) fs::remove(root_ / "rules/70-tkb-pedals.rules");
    tkb::test::WithoutDacOverride asUser;
    ASSERT_TRUE(asUser.dropped());
    const tkb::DoctorReport report = tkb::runDoctor(setup_);
    EXPECT_TRUE(report.accessDenied());
    // One cause, named once: the port's finding gives the fix, the nodes (and a key source
    // missing for want of the keyboard node) follow from it.
    EXPECT_EQ(report.problems(), 1) << report.text();
    const std::string install = "sudo install -m 0644 '" + (root_ / "base/70-tkb-pedals.rules").string() +
                                "' /etc/udev/rules.d/ && ";
    const std::string expectedFix =
        (ruleInstalled ? "" : install) + std::string("sudo udevadm control --reload && sudo udevadm trigger");
    const tkb::Finding* port = find(report, "Serial port COM0");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->verdict, tkb::Verdict::Problem);
    EXPECT_TRUE(port->accessDenied);
    ASSERT_EQ(port->fix.size(), 2u);
    EXPECT_EQ(port->fix[0].command, expectedFix);
    EXPECT_EQ(port->fix[1].command, "sudo usermod -aG dialout $USER");
    for (const char* topic : {"Raw HID node", "Keyboard event node"}) {
      const tkb::Finding* f = find(report, topic);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->verdict, tkb::Verdict::Follows);
      EXPECT_EQ(&report.findings[static_cast<size_t>(f->followsFrom)], port);
      EXPECT_TRUE(f->accessDenied);
      EXPECT_TRUE(f->fix.empty());
    }
    const std::vector<std::string> pkexec = tkb::pkexecAccessFix(setup_);
    ASSERT_GE(pkexec.size(), 4u);
    EXPECT_EQ(pkexec[0], "pkexec");
    EXPECT_EQ(pkexec.back() == setup_.layout.udevRule(), !ruleInstalled);
  }
}

// Another maker's device is reported but never opened (opening pulses DTR): even a port that
// would refuse us is "ok" then.
TEST_F(DoctorTest, ForeignDeviceIsLeftAloneAndMissingPedalsAreProblems) {
  plugPort(0, "2341", "0043");
  fs::permissions(root_ / "dev/ttyACM0", fs::perms::none);
  tkb::test::WithoutDacOverride asUser;
  const tkb::DoctorReport report = tkb::runDoctor(setup_);
  const tkb::Finding* port = find(report, "Serial port COM0");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->verdict, tkb::Verdict::Ok);
  EXPECT_EQ(port->detailText(), "USB 2341:0043, another device: left alone, not opened");
  const tkb::Finding* hid = find(report, "Raw HID node");
  ASSERT_NE(hid, nullptr);
  EXPECT_EQ(hid->verdict, tkb::Verdict::Problem);
  EXPECT_EQ(hid->fix.at(0).command, "sudo dmesg | tail");
  // Nothing at all under the prefix: that is a problem too.
  fs::remove(root_ / "dev/ttyACM0");
  const tkb::DoctorReport empty = tkb::runDoctor(setup_);
  const tkb::Finding* none = find(empty, "Serial ports");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->verdict, tkb::Verdict::Problem);
}

// Pedals not plugged in at all: no port, raw HID or keyboard node, and so no key source.
// tkb-cli names that cause and its fix once, not once per missing part.
TEST_F(DoctorTest, PedalsNotPluggedInIsOneProblem) {
  std::ofstream(root_ / "base/wkf/avrdude.conf") << "# parts\n";
  const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
  ::unsetenv("DISPLAY");  // no X server to hear the keys through either
  const tkb::DoctorReport report = tkb::runDoctor(setup_);
  if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
  const std::string text = report.text();
  EXPECT_EQ(report.problems(), 1) << text;
  EXPECT_EQ(find(report, "Serial ports")->verdict, tkb::Verdict::Problem);
  for (const char* topic : {"Raw HID node", "Keyboard event node", "Key source"})
    EXPECT_EQ(find(report, topic)->verdict, tkb::Verdict::Follows) << topic;
  const std::string fix = "plug the pedal set in";
  EXPECT_EQ(text.find(fix), text.rfind(fix)) << text;
  EXPECT_NE(text.find("[follows] Key source: none: the pedals' keys are not heard (follows from: Serial ports)\n"),
            std::string::npos)
      << text;
}

// A port another program holds exclusively is a problem, unless this program is searching:
// its own probe holds each port for a moment, and it is no one else's doing.
TEST_F(DoctorTest, APortInUseIsAnotherProgramsUnlessOurSearchRuns) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  fs::create_symlink(::ptsname(master), root_ / "dev/ttyACM1");
  const int held = ::open((root_ / "dev/ttyACM1").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);
  tkb::test::WithoutCapability noAdmin(1u << CAP_SYS_ADMIN);  // TIOCEXCL binds all but root
  ASSERT_TRUE(noAdmin.dropped());
  for (const bool searching : {false, true}) {
    setup_.searching = searching;
    const tkb::Finding* port = find(tkb::runDoctor(setup_), "Serial port COM1");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->verdict, searching ? tkb::Verdict::Note : tkb::Verdict::Problem) << port->detailText();
    EXPECT_EQ(port->fix.empty(), searching);
  }
  ::close(held);
  ::close(master);
}

// ModemManager grabs ttyACM ports unless udev marked them; the check reads udev's database
// entry of the port's character device (here /dev/null stands for the pedal port).
TEST_F(DoctorTest, ModemManagerIsAProblemOnlyWhereTheRuleDoesNotKeepItAway) {
  healthy();
  fs::remove(root_ / "dev/ttyACM0");
  fs::create_symlink("/dev/null", root_ / "dev/ttyACM0");
  fs::create_directories(root_ / "sys/class/tty/null");
  fs::create_symlink(root_ / "sys/devices/usb1/1-0/1-1:1.0", root_ / "sys/class/tty/null/device");
  EXPECT_EQ(find(tkb::runDoctor(setup_), "ModemManager")->detailText(), "not running");

  fs::create_directories(root_ / "proc/4242");
  std::ofstream(root_ / "proc/4242/comm") << "ModemManager\n";
  tkb::DoctorReport report = tkb::runDoctor(setup_);
  const tkb::Finding* mm = find(report, "ModemManager");
  ASSERT_NE(mm, nullptr);
  EXPECT_EQ(mm->verdict, tkb::Verdict::Problem);
  EXPECT_NE(mm->fixText().find("\n  sudo systemctl disable --now ModemManager"), std::string::npos);

  struct stat null {};
  ASSERT_EQ(::stat("/dev/null", &null), 0);
  fs::create_directories(root_ / "udev");
  std::ofstream(root_ / "udev" / ("c" + std::to_string(major(null.st_rdev)) + ":" + std::to_string(minor(null.st_rdev))))
      << "E:ID_MM_DEVICE_IGNORE=1\nG:uaccess\n";
  report = tkb::runDoctor(setup_);
  mm = find(report, "ModemManager");
  ASSERT_NE(mm, nullptr);
  EXPECT_EQ(mm->verdict, tkb::Verdict::Ok) << mm->detailText();
}

TEST_F(DoctorTest, ToolsImageAndBaseFolder) {
  healthy();
  fs::remove(root_ / "base/wkf/firmcor.wkf");
  fs::remove(root_ / "base/wkf/avrdude.conf");
  fs::create_directories(root_ / "empty-bin");
  ::setenv("PATH", (root_ / "empty-bin").c_str(), 1);
  tkb::DoctorReport report = tkb::runDoctor(setup_);
  EXPECT_EQ(find(report, "avrdude")->fix.at(0).command, "sudo apt install avrdude");
  EXPECT_EQ(find(report, "avrdude.conf")->verdict, tkb::Verdict::Problem);
  const tkb::Finding* image = find(report, "Firmware image");
  EXPECT_EQ(image->verdict, tkb::Verdict::Note);  // needed only for an update
  EXPECT_NE(image->fixText().find((root_ / "base/wkf").string()), std::string::npos);

  // Installed: the folder is made on first start; a file in its way is a problem.
  setup_.layout.baseFolder = (root_ / "data/tkb-tunedeck").string();
  EXPECT_EQ(find(tkb::runDoctor(setup_), "Base folder")->detailText(),
            setup_.layout.baseFolder + ", made on first start");
  std::ofstream(root_ / "data") << "";
  report = tkb::runDoctor(setup_);
  const tkb::Finding* base = find(report, "Base folder");
  EXPECT_EQ(base->verdict, tkb::Verdict::Problem);
  EXPECT_EQ(base->fix.at(0).command.rfind("mv '" + (root_ / "data").string() + "'", 0), 0u) << base->fixText();
}

struct CliRun {
  int status = -1;
  std::string out;
};

// tkb-cli doctor in the staged layout (base folder = its working directory).
CliRun runDoctorCli(const fs::path& root) {
  const std::string command = "cd '" + (root / "base").string() + "' && TKB_SYSFS_ROOT='" +
                              (root / "sys").string() + "' TKB_DEV_ROOT='" + (root / "dev").string() +
                              "' " + TKB_CLI_PATH + " doctor 2>/dev/null";
  CliRun run;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

TEST_F(DoctorTest, CliExitStatusSaysWhetherAnythingIsWrong) {
  healthy();
  CliRun run = runDoctorCli(root_);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Nothing is wrong."), std::string::npos) << run.out;
  fs::remove(root_ / "dev/hidraw2");
  fs::remove_all(root_ / "sys/class/hidraw");
  run = runDoctorCli(root_);
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("[PROBLEM] Raw HID node (pedal axes): no hidraw device of the pedal set (16d0:0f53)\n"
                         "          fix: plug the pedal set in"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("1 problem found."), std::string::npos);
}

}  // namespace
