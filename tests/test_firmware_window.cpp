// The window during a firmware update: its stages are shown, and closing the window neither
// ends avrdude nor the program before the update has ended.
#include <set>

#include "emulator/intel_hex.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

class FirmwareWindowTest : public WindowTest {
 protected:
  std::vector<uint8_t> stageTools() {
    std::filesystem::create_directories(dir_ + "/wkf");
    for (const char* tool : {"modo.sh", "avrdude.conf"})
      std::filesystem::copy_file(std::string(TKB_STAGE_DIR) + "/wkf/" + tool, dir_ + "/wkf/" + tool);
    const std::vector<uint8_t> image = emu::patternImage(28672, 53);
    EXPECT_TRUE(emu::writeIntelHex(dir_ + "/wkf/firmcor.wkf", image));
    return image;
  }
};

TEST_F(FirmwareWindowTest, ClosingTheWindowWaitsForTheUpdateThatShowsItsStages) {
  const std::vector<uint8_t> image = stageTools();
  startEmulatorOnTerminal([](emu::FirmwareState& s) { s.versionMinor = 5; });
  emulator_->terminal()->setVersionAfterFlash(7, 6);
  makeApp();
  app_->useFirmwareUpdate();
  std::set<std::string> shown;
  QObject::connect(app_.get(), &ui::Application::firmwareStageShown,
                   [&](const QString& text) { shown.insert(text.toStdString()); });
  app_->startApplication();

  ASSERT_TRUE(waitFor([&] { return emulator_->terminal()->flashBlocksWritten() > 0; }, 60000)) << "avrdude never wrote";
  EXPECT_TRUE(app_->firmwareUpdating());
  EXPECT_FALSE(app_->window()->close()) << "the window closed during the update";
  EXPECT_TRUE(app_->firmwareNotice()->isVisible());
  EXPECT_EQ(app_->firmwareNotice()->text().toStdString(), "Updating the pedal firmware - do not unplug the pedals");
  EXPECT_EQ(rec_.quits, 0);

  ASSERT_TRUE(waitFor([&] { return rec_.quits > 0; }, 60000)) << "the program did not end after the update";
  EXPECT_EQ(rec_.quits, 1);
  EXPECT_FALSE(app_->firmwareUpdating());
  const std::vector<uint8_t> flash = emulator_->terminal()->flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << "flash differs from image";
  EXPECT_EQ(shown.count("Restarting the pedals for the firmware update..."), 1u);
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const std::string& t) {
    return t.rfind("Writing the new firmware: ", 0) == 0 && t != "Writing the new firmware: 0 %";
  })) << "no percentage from avrdude";
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/opt/avrdude.log"));
}

// avrdude fails: the driver is told what failed and where its output is, and the pages are
// built on the old firmware.
TEST_F(FirmwareWindowTest, FailedUpdateIsToldWithItsLogAndThePedalsAreUsedAsTheyAre) {
  stageTools();
  const std::string bin = dir_ + "/bin";
  std::filesystem::create_directories(bin);
  std::filesystem::create_symlink(TKB_TOOL_STUB, bin + "/avrdude");
  const std::string path = std::getenv("PATH");
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  startEmulatorOnTerminal([](emu::FirmwareState& s) { s.versionMinor = 5; });
  makeApp();
  app_->useFirmwareUpdate();
  startAndWait(ui::Application::Phase::Running);
  setenv("PATH", path.c_str(), 1);

  EXPECT_EQ(emulator_->terminal()->bootloaderSessions(), 1);
  EXPECT_EQ(state().firmwareVersion[1], 5);
  ASSERT_EQ(rec_.boxes.size(), 1u);
  EXPECT_TRUE(rec_.boxes[0].first.startsWith("avrdude could not write the new firmware."));
  EXPECT_TRUE(rec_.boxes[0].first.contains(QString::fromStdString(dir_ + "/opt/avrdude.log")));
}

}  // namespace
}  // namespace tkb::test
