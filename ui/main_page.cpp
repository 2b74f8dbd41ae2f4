#include "ui/main_page.h"

#include <QDir>
#include <QListWidget>
#include <QUrl>

#include "link/settings.h"
#include "link/trace.h"
#include "ui/addresses.h"
#include "ui/application.h"
#include "ui/controller_model.h"
#include "ui/vr_panel.h"
#include "ui/window_geometry.h"

namespace tkb::ui {

std::optional<int> photoIndex(int model, int colour, bool hasClutch) {
  if (model < 1 || model > kModelCount) return std::nullopt;
  const bool black = colour == 2;
  const int index = hasClutch ? (black ? model + 15 : model + 5) : (black ? model + 9 : model - 1);
  if (index < 0 || index >= kPhotoCount) return std::nullopt;
  return index;
}

std::string profileInForce(const ControllerState& state) {
  return profileNameText(state.sportProfileActive ? state.sportProfileName : state.proProfileName);
}

MainPage::MainPage(Application& app, ControllerModel& model, const Services& services)
    : app_(app), model_(model), services_(services), window_(app.window()) {
  connectModel();
}

void MainPage::onClick(QPushButton* button, void (MainPage::*branch)()) {
  connect(button, &QPushButton::clicked, this, [this, branch] { (this->*branch)(); });
}

// A click that would send: ignored while an action runs.
bool MainPage::ignoredWhileBusy() const {
  if (!model_.busy()) return false;
  trace("\nMain page busy: click ignored");
  return true;
}

void MainPage::connectModel() {
  ControllerModel& m = model_;
  connect(&m, &ControllerModel::modeChanged, this, &MainPage::applyModeLabel);
  connect(&m, &ControllerModel::profileChanged, this, &MainPage::refreshProfileLabel);
  connect(&m, &ControllerModel::modelColourChanged, this, &MainPage::showReadSettings);
  connect(&m, &ControllerModel::settingsShown, this, [this] {
    const ControllerState& state = model_.state();
    if (!activatePro || !activateCustom) return;
    activateCustom->setVisible(state.sportProfileLoaded);
    // Without a calibration there is nothing to activate and no CUSTOM page to open.
    if (!state.calibrated) {
      activatePro->hide();
      activateCustom->hide();
      custom->hide();
    }
    styleModeButtons();
  });
  connect(&m, &ControllerModel::proPageOpened, this, [this](bool calibrated) {
    languageList->hide();
    manualList->hide();
    hideEntriesUnderPage();
    // The wizard starts on the calibration picture.
    if (!calibrated) showCalibrationPicture(false);
  });
  connect(&m, &ControllerModel::modeChanged, this, [this] {
    // PRO put in force by its page: its ACTIVATE button marked.
    if (model_.openPage() == ControllerModel::Page::Pro && model_.state().proProfileActive && activatePro)
      setButtonLook(activatePro, ButtonLook::Highlighted);
  });
  connect(&m, &ControllerModel::customPageOpened, this, [this] {
    languageList->hide();
    manualList->hide();
    hideEntriesUnderPage();
    placeMenus(true);
    for (QPushButton* b : {language, manual, exit}) b->show();
    for (QPushButton* b : {language, manual, exit}) b->raise();
  });
  connect(&m, &ControllerModel::proPageClosed, this, [this] {
    showModelPicturesAgain();
    showModeButtonsAfterPage();
  });
  connect(&m, &ControllerModel::customPageClosed, this, &MainPage::showModeButtonsAfterPage);
  // The calibration wizard: its picture, its arrows' place, and no ACTIVATE meanwhile.
  connect(&m, &ControllerModel::calibrationStarted, this, [this] { showCalibrationPicture(true); });
  connect(&m, &ControllerModel::wizardOpened, this, &MainPage::hideActivateButtons);
  connect(&m, &ControllerModel::calibrationStepShown, this, [this](int step) {
    if (step < 4) {
      showCalibrationPicture(false);
    } else {
      markActiveMode(false);
    }
  });
  connect(&m, &ControllerModel::calibrationEnding, this, &MainPage::showModelPicturesAgain);
  // A sport profile loaded, a curve set back to DEFAULT: CUSTOM is in force.
  connect(&m, &ControllerModel::profileLoaded, this, [this](ProfileKind kind) {
    if (kind == ProfileKind::Sport) markActiveMode(true);
  });
  connect(&m, &ControllerModel::customModeShown, this, [this] { markActiveMode(true); });
}

void MainPage::showModelPictures() {
  const ControllerState& state = model_.state();
  for (QLabel* logo : logos) logo->hide();
  for (QLabel* photo : photos) photo->hide();
  if (state.model >= 1 && state.model <= kModelCount) logos[state.model - 1]->show();
  if (const auto photo = photoIndex(state.model, state.color, state.hasClutch))
    photos[*photo]->show();
}

void MainPage::exitClicked() {
  trace("\nClose main pressed - Inicio\n");
  app_.shutDown();
  trace("\nClose main pressed - Final\n");
}

void MainPage::exitButtonClicked() {
  const ControllerModel::Page open = model_.openPage();
  if (open != ControllerModel::Page::None && services_.question) {
    const int language = app_.languageIndex().value_or(0);
    auto text = [language](LabelRole role) { return QString::fromUtf8(labelText(role, language)); };
    const QString close = text(open == ControllerModel::Page::Pro ? LabelRole::ProClose : LabelRole::CustomClose);
    const Question question{kWindowTitle, text(LabelRole::ExitQuestion).arg(close), text(LabelRole::ExitQuit),
                            text(LabelRole::ExitStay)};
    if (!services_.question(window_, question)) {
      trace("\nClose main pressed - not confirmed, the page stays open\n");
      return;
    }
  }
  exitClicked();
}

bool MainPage::monitorOpen() const { return closeMonitor != nullptr && !closeMonitor->isHidden(); }

void MainPage::setMonitorOpen(bool open) {
  if (openMonitor == nullptr || open == monitorOpen()) return;
  open ? openMonitorClicked() : closeMonitorClicked();
}

void MainPage::placeMenus(bool underPhoto) {
  if (!language) return;
  menusUnderPhoto_ = underPhoto;
  if (traySwitch) traySwitch->setVisible(!underPhoto);
  if (underPhoto) {
    int x = kMenuRowX;
    for (QPushButton* b : {language, manual, exit}) {
      b->move(x, kMenuRowY);
      x += kMenuWidth + kMenuRowGap;
    }
    return;
  }
  placeAligned(language, Align::TopRight, -100, 50);
  placeAligned(manual, Align::TopRight, -100, 110);
  placeAligned(exit, Align::TopRight, -100, 480);
}

// A menu opens beside its button; under the photo it opens upwards, over the photo.
void MainPage::placeMenuList(QListWidget* list, QPushButton* button, int dy) {
  if (menusUnderPhoto_) {
    list->move(button->x(), button->geometry().bottom() + 1 - list->height());
  } else {
    placeAligned(list, Align::TopRight, -90, dy);
  }
}

// A page covers the middle of the main page; the entries it would cut in half go while it
// is open (showModeButtonsAfterPage brings them back).
void MainPage::hideEntriesUnderPage() {
  for (QWidget* w : std::initializer_list<QWidget*>{pro, custom, activatePro,
                                                    activateCustom, proMark, customMark})
    if (w) w->hide();
}

void MainPage::closeMenus() {
  if (!languageList) return;
  languageList->hide();
  manualList->hide();
  language->show();
  manual->show();
  setButtonLook(language, ButtonLook::Normal);
  setButtonLook(manual, ButtonLook::Normal);
}

void MainPage::openManual() {
  QString dir = services_.manualFolder.isEmpty() ? QDir::currentPath() : services_.manualFolder;
  dir.replace('\\', '/');
  const auto file = manualFile(model_.state().language);
  if (!file) {
    trace("manual not found /n");
    return;
  }
  const QUrl url = QUrl::fromLocalFile(dir + "/" + QString::fromStdString(*file));
  trace("\nAbrimos manual %s\n", url.toString().toUtf8().constData());
  if (services_.openUrl) services_.openUrl(url);
}

void MainPage::manualListClicked(const QString& entry) {
  trace("%s is selected\n", entry.toUtf8().constData());
  if (entry == ".PDF") {
    openManual();
  } else if (entry == "YOUTUBE") {
    if (services_.openUrl) services_.openUrl(QUrl(kVideoChannelAddress));
  } else {
    trace("No Manual");
  }
  manualList->hide();
  manual->show();
  setButtonLook(manual, ButtonLook::Normal);
}

void MainPage::openMonitorClicked() {
  trace("\nMonitor Button pressed - Inicio\n");
  if (app_.startMonitor(app_.MonitorProcess, false)) {
    openMonitor->hide();
    closeMonitor->show();
    emit monitorShown(true);
  }
  trace("\nMonitor Button pressed - Final\n");
}

void MainPage::openVrMonitorClicked() {
  trace("\nVR Button pressed - Inicio\n");
  vrPanel_->show();
  vrPanel_->raise();
  if (app_.startMonitor(app_.VrMonitorProcess, true)) {
    openVrMonitor->hide();
    closeVrMonitor->show();
  }
  trace("\nVR Button pressed - Final\n");
}

void MainPage::closeMonitorClicked() {
  trace("\nMonitor OFF Button pressed - Inicio\n");
  if (!app_.MonitorProcess.empty()) {
    app_.MonitorProcess.stop();
    openMonitor->show();
    closeMonitor->hide();
    emit monitorShown(false);
  }
  trace("\nMonitor OFF Button pressed - Final\n");
}

void MainPage::closeVrMonitorClicked() {
  trace("\nVR Button off pressed - Inicio\n");
  if (!app_.VrMonitorProcess.empty()) {
    vrPanel_->hide();
    app_.VrMonitorProcess.stop();
    openVrMonitor->show();
    closeVrMonitor->hide();
  }
  trace("\nVR Button off pressed - Final\n");
}

// Shut-down stopped a monitor: its buttons are as CLOSE MONITOR (CLOSE VR MONITOR) leaves them.
void MainPage::showMonitorStopped(bool vr) {
  if (vr && vrPanel_) vrPanel_->hide();
  if (!openMonitor) return;
  (vr ? openVrMonitor : openMonitor)->show();
  (vr ? closeVrMonitor : closeMonitor)->hide();
  if (!vr) emit monitorShown(false);
}

void MainPage::languageClicked() {
  trace("\nLanguage Button pressed - Inicio\n");
  language->hide();
  manual->hide();
  placeMenuList(languageList, language, 50);
  languageList->show();
  languageList->raise();
  manualList->hide();
  trace("\nLanguage Button pressed - Final\n");
}

void MainPage::manualClicked() {
  trace("\nManual Button pressed - Inicio\n");
  manual->hide();
  placeMenuList(manualList, manual, 120);
  manualList->show();
  manualList->raise();
  languageList->hide();
  trace("\nManual Button pressed - Final\n");
}

void MainPage::proClicked() {
  if (ignoredWhileBusy()) return;
  model_.openProPage();
}

void MainPage::customClicked() {
  if (ignoredWhileBusy()) return;
  model_.openCustomPage();
}

// The two ACTIVATE buttons: zones on, one mode in force, both flags sent.
void MainPage::activateClicked(bool custom) {
  if (ignoredWhileBusy()) return;
  setButtonLook(activatePro, custom ? ButtonLook::Normal : ButtonLook::Highlighted);
  setButtonLook(activateCustom, custom ? ButtonLook::Highlighted : ButtonLook::Normal);
  model_.activateMode(custom);
}

void MainPage::backgroundClicked() {
  trace("\nBackground main page\n");
  closeMenus();
  window_->update();
}

void MainPage::webLinkClicked() {
  trace("\nAbrimos web %s\n", kMakerWebAddress);
  if (services_.openUrl) services_.openUrl(QUrl(kMakerWebAddress));
}

void MainPage::showReadSettings() {
  const ControllerState& state = model_.state();
  if (firmwareLabel)
    firmwareLabel->setText(QString::asprintf("Firmware: TKB-V%d.%d", state.firmwareVersion[0],
                                             state.firmwareVersion[1]));
  if (modelList && state.isKnown(Field::Model))
    modelList->setCurrentIndex(std::clamp(state.model - 1, 0, modelList->count() - 1));
  if (colourList && state.isKnown(Field::Color)) colourList->setCurrentIndex(state.color > 1 ? 1 : 0);
  showModelPictures();
}

void MainPage::refreshProfileLabel() {
  if (!profileLabel) return;
  const ControllerState& state = model_.state();
  std::string name = profileInForce(state);
  if (name.size() > kProfileLabelChars) name.resize(kProfileLabelChars);
  profileLabel->setText(QString::asprintf("Profile: %s", name.c_str()));
  profileLabel->adjustSize();
}

void MainPage::applyModeLabel() {
  const ControllerState& state = model_.state();
  const ModeLabel shown = state.proProfileActive ? ModeLabel::Pro
                          : state.chetoActive    ? ModeLabel::CustomM
                                                 : ModeLabel::Custom;
  for (int i = 0; i < 3; ++i)
    if (modeLabels[i]) modeLabels[i]->setVisible(i == static_cast<int>(shown));
}

void MainPage::styleModeButtons() {
  const ControllerState& state = model_.state();
  if (!activatePro || !activateCustom) return;
  if (!state.sportProfileActive) {
    setButtonLook(activatePro, ButtonLook::Highlighted);
    setButtonLook(activateCustom, ButtonLook::Normal);
  } else if (!state.proProfileActive) {
    setButtonLook(activateCustom, ButtonLook::Highlighted);
    setButtonLook(activatePro, ButtonLook::Normal);
  }
}

void MainPage::showCalibrationPicture(bool hideLogo) {
  QLabel* picture = calibrationPhotos[model_.state().hasClutch ? 0 : 1];
  if (picture == nullptr) return;  // the pictures are not built yet
  if (hideLogo)
    for (QLabel* logo : logos) logo->hide();
  for (QLabel* photo : photos) photo->hide();
  picture->show();
}

void MainPage::showModelPicturesAgain() {
  for (QLabel* picture : calibrationPhotos)
    if (picture) picture->hide();
  showModelPictures();
}

void MainPage::markActiveMode(bool custom) {
  if (activatePro) setButtonLook(activatePro, custom ? ButtonLook::Normal : ButtonLook::Highlighted);
  if (activateCustom) setButtonLook(activateCustom, custom ? ButtonLook::Highlighted : ButtonLook::Normal);
}

void MainPage::hideActivateButtons() {
  if (activatePro) activatePro->hide();
  if (activateCustom) activateCustom->hide();
}

void MainPage::showModeButtonsAfterPage() {
  const ControllerState& state = model_.state();
  placeMenus(false);
  if (state.sportProfileLoaded) {
    activatePro->show();
    activateCustom->show();
    pro->show();
    custom->show();
  } else {
    pro->show();
    activateCustom->hide();
    activatePro->setVisible(state.calibrated);
    custom->setVisible(state.calibrated);
  }
  styleModeButtons();
}

}  // namespace tkb::ui
