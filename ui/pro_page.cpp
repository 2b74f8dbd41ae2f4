#include "ui/pro_page.h"

#include <algorithm>

#include "link/settings.h"
#include "link/trace.h"

namespace tkb::ui {

namespace {
using Page = ControllerModel::Page;

// The key-letter lists: the letter each shows, and the line printed when the driver
// chooses one.
struct ListRole {
  QComboBox* ProPage::*list;
  Field letter;
  const char* traceLine;
  int last;
};
const ListRole kListRoles[] = {{&ProPage::absList, Field::LetterAbs, "Option: Letra ABS\n", 4},
                               {&ProPage::autoBrakeList, Field::LetterAutoBrake, "Option: Letra AB\n", 2},
                               {&ProPage::masList, Field::LetterMas, "Option: Letra mas pro\n", 5},
                               {&ProPage::menosList, Field::LetterMenos, "Option: Lista menos PRO\n", 5}};
}  // namespace

void showWizardStep(std::optional<int> language, int step, QLabel* textLabel, QLabel* noteLabel) {
  if (!language) {
    trace("Language not found\n");
    return;
  }
  static constexpr WizardText kSteps[] = {WizardText::Start, WizardText::Throttle, WizardText::Brake,
                                          WizardText::Clutch, WizardText::Calibrated};
  if (step >= 0 && step <= 4) {
    if (textLabel) setRecolouredText(textLabel, wizardText(kSteps[step], *language));
    return;
  }
  if (textLabel) setRecolouredText(textLabel, wizardText(WizardText::Saved, *language));
  if (noteLabel) setRecolouredText(noteLabel, wizardText(WizardText::Note, *language));
}

ProPage::ProPage(ControllerModel& model, LabelBoard& labels, ProfileDialogs& dialogs, QWidget* window)
    : model_(model), labels_(labels), dialogs_(dialogs), window_(window), bars_(std::make_unique<ProBars>(model)) {
  savedShown_.setSingleShot(true);
  savedShown_.setInterval(kSavedShownMs);
  connect(&savedShown_, &QTimer::timeout, this, &ProPage::endWizardBand);
}

ProPage::~ProPage() = default;

// ---- What the widgets ask ------------------------------------------------------------------

bool ProPage::ignoredWhileBusy(const char* what) const {
  if (!model_.busy()) return false;
  trace("\n%s busy: click ignored", what);
  return true;
}

void ProPage::onClick(QPushButton* b, std::function<void()> run) {
  connect(b, &QPushButton::clicked, this, [this, run] {
    if (!ignoredWhileBusy("PRO page")) run();
  });
}

// The wizard's buttons wait for a step under way: a click meanwhile would interleave frames.
void ProPage::onWizardClick(QPushButton* b, std::function<void()> run) {
  connect(b, &QPushButton::clicked, this, [this, run] {
    if (model_.wizardPending() || model_.busy()) {
      trace("\nPRO wizard busy: click ignored");
      return;
    }
    run();
  });
}

void ProPage::connectButtons() {
  onWizardClick(calibrate, [this] { model_.calibrate(); });
  onWizardClick(next, [this] { model_.calibrationNext(); });
  onWizardClick(saveCalibration, [this] { model_.saveCalibration(); });
  onWizardClick(cancel, [this] { model_.cancelCalibration(); });
  onWizardClick(close, [this] { model_.closeProPage(); });
  onClick(apply, [this] {
    hideConfirmations(0);
    model_.applyPro();
  });
  onClick(saveProfile, [this] {
    hideConfirmations(1);
    model_.saveProfile(ProfileKind::Pro, dialogs_.choose(ProfileKind::Pro, true));
  });
  onClick(loadProfile, [this] {
    hideConfirmations(2);
    loadAsked_ = true;
    model_.loadProfile(ProfileKind::Pro, dialogs_.choose(ProfileKind::Pro, false));
  });
  onClick(abs, [this] { model_.autocal(); });
  // A list set by the page itself (settingLists_) only shows; one the driver sets sends.
  for (const ListRole& role : kListRoles)
    connect(this->*role.list, &QComboBox::currentIndexChanged, this, [this, role](int index) {
      if (settingLists_) return;
      model_.setLetter(Page::Pro, role.letter, index, role.traceLine);
    });
  connect(autoBrakeSwitch, &ToggleSwitch::userToggled, this, [this](bool on) { model_.setAutoBrake(Page::Pro, on); });
  // The test button works on press and release, not on clicks.
  connect(autoBrakeTest, &QPushButton::pressed, this, [this] { model_.testAutoBrake(true); });
  connect(autoBrakeTest, &QPushButton::released, this, [this] { model_.testAutoBrake(false); });
}

// ---- What the page shows ---------------------------------------------------------------------

void ProPage::connectModel() {
  ControllerModel& m = model_;
  connect(&m, &ControllerModel::proPageOpened, this, &ProPage::pageOpened);
  connect(&m, &ControllerModel::proPageClosed, this, &ProPage::pageClosed);
  connect(&m, &ControllerModel::profileLoaded, this, [this](ProfileKind kind, bool loaded) {
    if (kind == ProfileKind::Pro) loadAsked_ = false;
    if (!loaded) return;
    showZonesFromState();
    if (kind == ProfileKind::Sport) autoBrakeSwitch->setOn(model_.state().autoBrake != 0);
  });
  // As on the CUSTOM page, a file that was not written is not called saved.
  connect(&m, &ControllerModel::profileNotSaved, this, [this](ProfileKind kind) {
    if (kind == ProfileKind::Pro) hideConfirmations(3);
  });
  connect(&m, &ControllerModel::profileRefused, this, [this] {
    if (loadAsked_) hideConfirmations();
    loadAsked_ = false;
  });
  connect(&m, &ControllerModel::zonesChanged, this, &ProPage::showZonesFromState);
  connect(&m, &ControllerModel::brakeZonesChanged, this, [this] {
    showZone(Field::BrakeUpper);
    showZone(Field::BrakeLower);
  });
  connect(&m, &ControllerModel::zoneSent, this, &ProPage::showZone);
  connect(&m, &ControllerModel::settingSent, this, &ProPage::showZone);
  connect(&m, &ControllerModel::bandsChanged, this, [this] { bars_->showBands(); });
  connect(&m, &ControllerModel::zoneControlsShown, this, [this](bool on) {
    hideConfirmations();
    showZoneControls(on);
  });
  connect(&m, &ControllerModel::lettersChanged, this, &ProPage::showKeyLetters);
  connect(&m, &ControllerModel::letterChanged, this, &ProPage::selectLetter);
  connect(&m, &ControllerModel::autoBrakeChanged, this, [this](bool on) { autoBrakeSwitch->setOn(on); });
  connect(&m, &ControllerModel::autoBrakeLed, this, [this](bool customPage, int brightness) {
    if (!customPage) led->setBrightness(brightness);
  });
  connect(&m, &ControllerModel::settingsShown, this, &ProPage::placeControls);
  connect(&m, &ControllerModel::pedalsSampled, this, [this] { bars_->RefrescoBarrasPro(); });
  // The wizard's points.
  connect(&m, &ControllerModel::calibrationStarted, this, [this] {
    savedShown_.stop();
    showAutoBrakeWidgets(false);
    hideConfirmations();
  });
  connect(&m, &ControllerModel::wizardOpened, this, [this] {
    next->show();
    next->raise();
    saveCalibration->hide();
    cancel->show();
    cancel->raise();
    mostrar_controles_pro(false);
  });
  connect(&m, &ControllerModel::calibrationStepShown, this, &ProPage::stepShown);
  connect(&m, &ControllerModel::calibrationEnding, this, [this] {
    showArrows(-1);
    showAutoBrakeWidgets(true);
  });
  connect(&m, &ControllerModel::zoneAreaShown, this, [this] {
    mostrar_controles_pro(true);
    hideConfirmations();
  });
  connect(&m, &ControllerModel::wizardClosed, this, &ProPage::wizardClosed);
}

// The Mas and Menos lists show the letter chosen on either page; nothing is sent again.
void ProPage::selectLetter(Field field, int index) {
  QComboBox* list = field == Field::LetterMas ? masList : field == Field::LetterMenos ? menosList : nullptr;
  if (list == nullptr) return;
  settingLists_ = true;
  list->setCurrentIndex(index);
  settingLists_ = false;
}

void ProPage::showKeyLetters() {
  const ControllerState& s = model_.state();
  // A letter that is not known leaves its list without an entry.
  settingLists_ = true;
  for (const ListRole& role : kListRoles)
    (this->*role.list)
        ->setCurrentIndex(s.isKnown(role.letter) ? std::min(settingValue(s, role.letter), role.last) : -1);
  settingLists_ = false;
}

void ProPage::mostrar_controles_pro(bool show) {
  if (page == nullptr) return;  // the page was not built
  trace("\nmostrar_controles_pro - Inicio");
  const bool clutch = model_.state().hasClutch;
  for (int p = 0; p < 3; ++p) {
    const bool visible = show && (p != kClutchPedal || clutch);
    ZoneColumn& z = zones[p];
    for (QWidget* w : std::initializer_list<QWidget*>{z.upper, z.lower, z.upperLabel, z.lowerLabel, z.upperMinus,
                                                      z.upperPlus, z.lowerMinus, z.lowerPlus, z.upperMarker,
                                                      z.lowerMarker, names[p], barColumns[p], valueBoxes[p],
                                                      historyColumns[p]})
      w->setVisible(visible);
  }
  trace("\nmostrar_controles_pro - Final");
}

void ProPage::MostrarPasoCalibracion(int step) {
  if (page == nullptr) return;  // the page was not built
  showWizardStep(languageIndex(model_.state().language), step, wizardText, wizardNote);
  showArrows(step);
}

// Step 0: every pedal rests; steps 1 to 3: the throttle, the brake, the clutch is pressed.
void ProPage::showArrows(int step) {
  const bool clutch = model_.state().hasClutch;
  const int pressed = step == 1 ? kThrottlePedal : step == 2 ? kBrakePedal : step == 3 ? kClutchPedal : -1;
  for (int p = 0; p < 3; ++p) {
    const bool present = p != kClutchPedal || clutch;
    pressArrows[p]->setVisible(present && p == pressed);
    restArrows[p]->setVisible(present && step == 0);
    if (pressArrows[p]->isVisible()) pressArrows[p]->raise();
    if (restArrows[p]->isVisible()) restArrows[p]->raise();
  }
}

void ProPage::hideConfirmations(int except) {
  for (int i = 0; i < 4; ++i) confirmations[i]->setVisible(i == except);
}

void ProPage::showAutoBrakeWidgets(bool show) {
  const bool clutch = model_.state().hasClutch;
  autoBrakeSwitch->setVisible(show);
  autoBrakeLabel->setVisible(show && clutch);
  autoBrakeTest->setVisible(show && !clutch);
  autoBrakeList->setVisible(show && !clutch);
  listCaptions[3]->setVisible(show && !clutch);
  led->setVisible(show && !clutch);
}

void ProPage::showZoneControls(bool on) {
  const bool clutch = model_.state().hasClutch;
  apply->setVisible(on);
  saveProfile->setVisible(on);
  loadProfile->setVisible(on);
  for (int p = 0; p < 3; ++p) zones[p].column->setVisible(on && (p != kClutchPedal || clutch));
  for (QComboBox* list : {absList, masList, menosList}) list->setVisible(on);
  for (int i = 0; i < 3; ++i) listCaptions[i]->setVisible(on);
  moveColumns(on);
  if (on) {
    bars_->showBands();
  } else {
    bars_->plainProBars();
  }
}

void ProPage::updateScaleLabels() {
  for (auto& labels : scaleLabels)
    for (QLabel* l : labels)
      if (l) l->update();
}

// A zone box shows the controller's value (within 0..100), or nothing while it is not known.
void ProPage::showZone(Field field) {
  if (page == nullptr) return;
  const ControllerState& s = model_.state();
  for (Pedal pedal : kPedals)
    for (bool upper : {true, false}) {
      if (zoneSetting(pedal, upper).field != field) continue;
      ValueBox* box = upper ? zones[pedalIndex(pedal)].upper : zones[pedalIndex(pedal)].lower;
      if (!s.isKnown(field)) {
        box->showUnknown();
        return;
      }
      const int value = std::clamp(settingValue(s, field), 0, 100);
      box->showValue(value);
      moveMarker(pedalIndex(pedal), upper, value);
      return;
    }
}

void ProPage::showZonesFromState() {
  if (page == nullptr) return;  // the page was not built
  for (Pedal pedal : kPedals)
    for (bool upper : {true, false}) showZone(zoneSetting(pedal, upper).field);
  updateScaleLabels();
}

void ProPage::placeControls() {
  if (page == nullptr) return;  // the page was not built
  // The page shows what the controller holds; nothing is sent.
  const ControllerState& s = model_.state();
  mostrar_controles_pro(s.calibrated);
  showZoneControls(s.zonesEnabled);
  showAutoBrakeWidgets(s.calibrated);
}

void ProPage::pageOpened(bool calibrated) {
  if (page == nullptr) return;  // the page was not built
  page->show();
  page->raise();
  autoBrakeSwitch->setOn(model_.state().autoBrake == 1);
  next->hide();
  hideConfirmations();
  savedShown_.stop();
  placeWizardPanel(false);
  wizardNote->show();
  if (calibrated) {
    mostrar_controles_pro(true);
    MostrarPasoCalibracion(4);
  } else {
    showAutoBrakeWidgets(false);
    mostrar_controles_pro(false);
    MostrarPasoCalibracion(0);
    wizardPanel->show();
    wizardPanel->raise();
    wizardText->show();
    wizardNote->show();
  }
}

void ProPage::stepShown(int step) {
  if (step < 4) {
    placeWizardPanel(false);
    wizardNote->show();
    MostrarPasoCalibracion(step);
    if (step == 1) wizardPanel->show();
    return;
  }
  next->hide();
  saveCalibration->show();
  saveCalibration->raise();
  MostrarPasoCalibracion(4);
  // The text asks the driver to check the calibration: the bars below the panel show what
  // the pedals do with the points just taken.
  wizardNote->hide();
  placeWizardPanel(true);
  showCheckColumns();
}

void ProPage::wizardClosed(bool saved) {
  MostrarPasoCalibracion(5);
  saveCalibration->hide();
  cancel->hide();
  if (!saved) {
    next->hide();
    endWizardBand();
    return;
  }
  // "SAVED CONFIGURATION." and its note stay a while in the band over the page.
  wizardNote->show();
  placeWizardPanel(true);
  wizardPanel->show();
  wizardPanel->raise();
  savedShown_.start();
}

void ProPage::endWizardBand() {
  savedShown_.stop();
  wizardPanel->hide();
  placeWizardPanel(false);
  wizardNote->show();
}

void ProPage::pageClosed() {
  const ControllerState& s = model_.state();
  cancel->hide();
  showArrows(-1);
  hideConfirmations();
  // The calibration hid the AutoBrake widgets; they belong to a calibrated set.
  showAutoBrakeWidgets(s.calibrated);
  page->hide();
  // An unfinished wizard is over: its buttons go with the page.
  next->hide();
  saveCalibration->hide();
  endWizardBand();
}

}  // namespace tkb::ui
