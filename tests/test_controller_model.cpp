// The pages show what the ControllerModel says changed, and what one page changes reaches
// the other through the model: each page's widgets against the real window on the
// emulated pedal set.
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
  ControllerState& state() { return app_->controller.state; }
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
  app_->mainPage().activateCustom->click();  // the CUSTOM lists send in CUSTOM mode only
  framesOnceThere(2);                         // B3 01, B5 01 in before the count starts
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
    EXPECT_EQ(framesOnceThere(1).size(), 1u) << r.onCustom << mas;
    EXPECT_EQ(mas ? state().letterMas : state().letterMenos, r.index) << r.onCustom << mas;
    EXPECT_EQ(proList->currentIndex(), r.index) << r.onCustom << mas;
    EXPECT_EQ(customList->currentIndex(), r.index) << r.onCustom << mas;
  }
}

// What the model announces, both pages show.
TEST_F(ControllerModelTest, BothPagesShowWhatTheModelAnnounces) {
  ui::ControllerModel& model = app_->model();
  for (const bool on : {true, false}) {
    emit model.autoBrakeChanged(on);
    EXPECT_EQ(pro().autoBrakeSwitch->isOn(), on);
    EXPECT_EQ(custom().autoBrakeSwitch->isOn(), on);
  }
  state().throttleUpper = 83;
  state().clutchLower = 7;
  emit model.zonesChanged();
  EXPECT_EQ(pro().zones[ui::kThrottlePedal].upper->value(), 83);
  EXPECT_EQ(custom().pedals[ui::kThrottlePedal].upper->value(), 83);
  EXPECT_EQ(pro().zones[ui::kClutchPedal].lower->value(), 7);
  EXPECT_EQ(custom().pedals[ui::kClutchPedal].lower->value(), 7);
  state().letterMas = 2;
  state().letterMenos = 1;
  emit model.lettersChanged();
  EXPECT_EQ(pro().masList->currentIndex(), 2);
  EXPECT_EQ(custom().letters[ui::kListMas]->currentIndex(), 2);
  EXPECT_EQ(pro().menosList->currentIndex(), 1);
  EXPECT_EQ(custom().letters[ui::kListMenos]->currentIndex(), 1);
  state().proProfileActive = false;
  state().chetoActive = 1;
  emit model.modeChanged();
  EXPECT_TRUE(app_->mainPage().modeLabels[static_cast<int>(ui::ModeLabel::CustomM)]->isVisible());
}

}  // namespace
}  // namespace tkb::test
