// The pages show what the ControllerModel says changed, and what one page changes reaches
// the other through the model: each page's widgets against the real window on the
// emulated pedal set (in memory).
#include <QComboBox>

#include "link/settings.h"
#include "ui/switch_led.h"
#include "window_fixture.h"

namespace tkb::test {
namespace {

using Phase = ui::Application::Phase;

class ControllerModelTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    startEmulator();
    makeApp();
    startAndWait(Phase::Running);
  }
  ui::ProPage& pro() { return *pages_->pro; }
  const ui::SportWidgets& custom() { return pages_->sport->widgets(); }
};

// A key letter chosen on either page is sent once and shown by both pages' lists.
TEST_F(ControllerModelTest, LetterChosenOnOnePageIsShownByTheOther) {
  struct Row {
    bool onCustom;
    Field field;
    int index;
  };
  const Row rows[] = {{false, Field::LetterMas, 3}, {false, Field::LetterMenos, 4},
                      {true, Field::LetterMas, 1}, {true, Field::LetterMenos, 5}};
  click(app_->mainPage().activateCustom);  // the CUSTOM lists send in CUSTOM mode only
  for (const Row& r : rows) {
    const bool mas = r.field == Field::LetterMas;
    QComboBox* proList = mas ? pro().masList : pro().menosList;
    QComboBox* customList = custom().letters[mas ? ui::kListMas : ui::kListMenos];
    emulator_->clearReceived();
    if (r.onCustom) {
      customList->setCurrentIndex(r.index);
      emit customList->activated(r.index);
    } else {
      proList->setCurrentIndex(r.index);
    }
    settle();
    EXPECT_EQ(framesOnceThere(1).size(), 1u) << r.onCustom << mas;
    EXPECT_EQ(mas ? state().letterMas : state().letterMenos, r.index) << r.onCustom << mas;
    EXPECT_EQ(proList->currentIndex(), r.index) << r.onCustom << mas;
    EXPECT_EQ(customList->currentIndex(), r.index) << r.onCustom << mas;
  }
}

// A setting sent from outside the pages (as tkb-cli through the program sends one): both
// pages show it, and nothing is sent again.
TEST_F(ControllerModelTest, BothPagesShowASettingSentFromOutside) {
  ui::ControllerModel& m = model();
  auto sendFromOutside = [&](Field field, int value) {
    m.runAction([&m, field, value](ui::LinkSession& session) {
      session.operations.set(*findSetting(field), value);
      m.tellSettingSent(field);
    });
    settle();
  };
  for (const int on : {1, 0}) {
    sendFromOutside(Field::AutoBrake, on);
    EXPECT_EQ(pro().autoBrakeSwitch->isOn(), on == 1);
    EXPECT_EQ(custom().autoBrakeSwitch->isOn(), on == 1);
  }
  sendFromOutside(Field::ThrottleUpper, 83);
  sendFromOutside(Field::ClutchLower, 7);
  EXPECT_EQ(pro().zones[ui::kThrottlePedal].upper->value(), 83);
  EXPECT_EQ(custom().pedals[ui::kThrottlePedal].upper->value(), 83);
  EXPECT_EQ(pro().zones[ui::kClutchPedal].lower->value(), 7);
  EXPECT_EQ(custom().pedals[ui::kClutchPedal].lower->value(), 7);
  sendFromOutside(Field::LetterMas, 2);
  sendFromOutside(Field::LetterMenos, 1);
  EXPECT_EQ(pro().masList->currentIndex(), 2);
  EXPECT_EQ(custom().letters[ui::kListMas]->currentIndex(), 2);
  EXPECT_EQ(pro().menosList->currentIndex(), 1);
  EXPECT_EQ(custom().letters[ui::kListMenos]->currentIndex(), 1);
  // Each went out once.
  EXPECT_EQ(countFrames({0xC6, 83, 0x6C}), 1);
  EXPECT_EQ(countFrames({0xCA, 2, 0xAC}), 1);
  click(app_->mainPage().activateCustom);
  m.setBrakeStop(40);
  settle();
  EXPECT_TRUE(app_->mainPage().modeLabels[static_cast<int>(ui::ModeLabel::CustomM)]->isVisible());
}

}  // namespace
}  // namespace tkb::test
