#include "ui/controller_model.h"

#include <QMetaObject>
#include <QTimer>

#include "app/suggested_zones.h"
#include "link/trace.h"
#include "ui/localisation.h"

namespace tkb::ui {

// What the profile operations tell the pages, told on the main thread in order.
class ControllerModel::ProfileView : public ProfilePages {
 public:
  explicit ProfileView(ControllerModel& model) : m_(model) {}

  void setProfileLabel(const std::string& text) override {
    if (m_.profileLabelTap_) m_.profileLabelTap_(text);
    m_.publish([&m = m_] { emit m.profileChanged(); });
  }
  void showLoad(ProfileKind kind, bool loaded) override {
    // Both pages put the loaded zones on their boxes and restyle their bars.
    if (loaded && m_.pagesBuiltOnLink_) {
      m_.traceBands();
      if (m_.controller_.state.sportProfileActive) m_.traceBands();
    }
    const bool customActive = m_.controller_.state.sportProfileActive;
    m_.publish([&m = m_, kind, loaded, customActive] {
      emit m.profileLoaded(kind, loaded);
      if (kind == ProfileKind::Sport || (loaded && customActive)) emit m.modeChanged();
      // The profile label names the CUSTOM profile now that CUSTOM is active.
      if (kind == ProfileKind::Sport) emit m.profileChanged();
    });
  }
  Curve chartPoints(Pedal pedal) const override { return m_.jobCharts_[pedalIndex(pedal)]; }
  void showSaved(ProfileKind kind) override {
    m_.publish([&m = m_, kind] { emit m.profileSaved(kind); });
  }
  void fileUsed(ProfileKind kind, const std::string& path) override {
    m_.publish([&m = m_, kind, file = QString::fromStdString(path)] { emit m.profileFileUsed(kind, file); });
  }

 private:
  ControllerModel& m_;
};

// The calibration wizard's and Autocal's places between the frames, told to the pages. What
// the PRO page's boxes and bars printed there is printed here, in its place.
class ControllerModel::WizardView : public CalibrationView {
 public:
  explicit WizardView(ControllerModel& model) : m_(model) {}

  void calibrationStarted() override { tell(&ControllerModel::calibrationStarted); }
  void zoneControlsShown(bool on) override {
    if (on) m_.traceBands();
    m_.publish([&m = m_, on] { emit m.zoneControlsShown(on); });
  }
  void wizardOpened() override { tell(&ControllerModel::wizardOpened); }
  void stepShown(int step) override {
    m_.publish([&m = m_, step] { emit m.calibrationStepShown(step); });
  }
  void calibrationEnding() override { tell(&ControllerModel::calibrationEnding); }
  void zoneAreaShown() override { tell(&ControllerModel::zoneAreaShown); }
  void zoneShown(Field field, std::optional<int> value) override {
    if (value) {
      for (Pedal pedal : kPedals)
        for (bool upper : {true, false})
          if (zoneSetting(pedal, upper).field == field) {
            m_.traceBands();
            traceZoneChange(ZonePage::Pro, pedal, upper, *value);
          }
    }
    m_.publish([&m = m_, field] { emit m.zoneSent(field); });
  }
  void zonesShown() override {
    // The PRO page shows them already; the CUSTOM page shows them from the state.
    m_.resendZonesAsShown(false, true);
    tell(&ControllerModel::zonesChanged);
  }
  void modeShown() override { tell(&ControllerModel::modeChanged); }
  void wizardClosed(bool saved) override {
    m_.publish([&m = m_, saved] { emit m.wizardClosed(saved); });
  }
  void profileShown() override { tell(&ControllerModel::profileChanged); }
  void brakeZonesShown() override {
    m_.resendBrakeZonesOnCustom();
    m_.traceBands();
    tell(&ControllerModel::brakeZonesChanged);
  }

 private:
  void tell(void (ControllerModel::*signal)()) {
    m_.publish([&m = m_, signal] { emit(m.*signal)(); });
  }
  ControllerModel& m_;
};

ControllerModel::ControllerModel(std::unique_ptr<PedalInput> pedals, ProbeOptions probe)
    : pedals_(std::move(pedals)),
      probe_(std::move(probe)),
      profileView_(std::make_unique<ProfileView>(*this)),
      wizardView_(std::make_unique<WizardView>(*this)) {
  probe_.stop = &stopProbe_;
  profiles_ = std::make_unique<Profiles>(controller_, noDialog_, *profileView_);
  CalibrationHooks hooks;
  hooks.resetJoystick = [] { resetJoystickCalibration(); };
  hooks.usageLog = [this] { return usageLog_.get(); };
  hooks.basePath = [this] { return basePath_; };
  wizard_ = std::make_unique<CalibrationWizard>(controller_, *wizardView_, std::move(hooks));
  shown_ = controller_.state;
  // The controller reports from the link thread; the window reacts on its own.
  controller_.setLinkStateListener([this](LinkState state) {
    QMetaObject::invokeMethod(this, [this, state] { onLinkStateChanged(state); }, Qt::QueuedConnection);
  });
  controller_.setFrameListener([this](const Bytes& frame) { recordFrame(frame); });
  feed_ = new QTimer(this);
  feed_->setTimerType(Qt::PreciseTimer);
  feed_->setInterval(kTaskPeriodMs);
  connect(feed_, &QTimer::timeout, this, &ControllerModel::feedTick);
  // Between actions nothing is read or written: the port itself is looked at.
  linkWatch_ = new QTimer(this);
  linkWatch_->setInterval(200);
  connect(linkWatch_, &QTimer::timeout, this, [this] {
    const bool watched = phase_ == Phase::Running || phase_ == Phase::ReadFailed;
    if (!watched || !linkFree() || busy() || worker_.pending() > 0) return;
    worker_.post([this] { controller_.checkLink(); });
  });
  linkWatch_->start();
}

ControllerModel::~ControllerModel() {
  stopSearching();
  worker_.stop();
  controller_.setLinkStateListener({});
  controller_.setFrameListener({});
}

bool ControllerModel::linkFree() const {
  return (phase_ == Phase::Running || phase_ == Phase::ReadFailed) && !reading_ &&
         controller_.linkState() != LinkState::Disconnected && !firmwareUpdating();
}

bool ControllerModel::canSendSettings() const {
  return phase_ == Phase::Running && linkFree() && !calibrationUnderWay();
}

void ControllerModel::post(std::function<void()> work, bool driver) {
  if (phase_ == Phase::Stopped) return;
  if (driver && pendingActions_++ == 0) emit busyChanged(true);
  std::array<Curve, kPedalCount> charts{};
  if (charts_ != nullptr)
    for (Pedal pedal : kPedals) charts[pedalIndex(pedal)] = charts_->chartPoints(pedal);
  worker_.post([this, work = std::move(work), driver, charts] {
    jobCharts_ = charts;
    driverAction_ = driver;
    controller_.beginAction();
    work();
    driverAction_ = false;
    publish([this, driver] {
      if (driver) actionDone();
    });
  });
}

void ControllerModel::actionDone() {
  if (--pendingActions_ == 0) emit busyChanged(false);
}

void ControllerModel::publish(std::function<void()> onMain) {
  struct Snapshot {
    ControllerState state;
    CalibrationWizard::State wizard;
    int step;
    std::string profileName;
  };
  auto snapshot = std::make_shared<Snapshot>(
      Snapshot{controller_.state, wizard_->state(), wizard_->count(), profiles_->currentProfileName()});
  ++publishesInFlight_;
  QMetaObject::invokeMethod(
      this,
      [this, snapshot, onMain = std::move(onMain)] {
        --publishesInFlight_;
        shown_ = snapshot->state;
        wizardState_ = snapshot->wizard;
        wizardStep_ = snapshot->step;
        currentProfileName_ = snapshot->profileName;
        if (onMain) onMain();
      },
      Qt::QueuedConnection);
}

void ControllerModel::feedTick() {
  if (pedals_) pedals_->readPedalAxes();
  const PedalAxes axes = pedals_ ? pedals_->axes() : PedalAxes{};
  // The MAX BRAKE PRESS box shows the brake's upper zone.
  lastPro_ = readout_.pro(shown_, axes, shown_.brakeUpper, usageLog_.get());
  // The monitor is looked up by its name on every send; none bound means none running.
  if (lastPro_.datagram && monitorSender_.send(*lastPro_.datagram)) ++sentDatagrams_;
  lastCustom_ = readout_.custom(shown_, axes);
  if (lastCustom_.datagram && monitorSender_.send(*lastCustom_.datagram)) ++sentDatagrams_;
  traceFeed_.sample(axes, shown_);
  emit pedalsSampled();
}

void ControllerModel::applyZones(std::vector<std::pair<Field, int>> zones) {
  post([this, zones = std::move(zones)] {
    const ZonePlan plan = planSuggestedZones(controller_.state, zones);
    trace("\nPedal check: %zu dead zones to send\n", plan.send.size());
    for (const auto& [field, value] : plan.send) {
      const Setting& row = *findSetting(field);
      if (!operations_.setZone(ZonePage::Pro, *row.pedal, row.role == Role::UpperZone, value)) continue;
      traceBands();
      publish([this, field] { emit zoneSent(field); });
    }
  });
}

void ControllerModel::tellMain(std::function<void()> onMain) { publish(std::move(onMain)); }

CalibrationView& ControllerModel::calibrationView() { return *wizardView_; }


void ControllerModel::runAction(std::function<void(LinkSession&)> action, std::function<void()> done) {
  post([this, action = std::move(action), done = std::move(done)] {
    LinkSession session{controller_, operations_, *profiles_};
    action(session);
    if (done) publish(done);
  });
}

void ControllerModel::setPhase(Phase phase) {
  phase_ = phase;
  emit phaseChanged(static_cast<int>(phase));
}

void ControllerModel::setLinkNotice(LinkNotice notice) {
  linkNotice_ = notice;
  emit linkNoticeChanged();
}

void ControllerModel::traceBands() {
  trace("\nBarras actualizadas");
  publish([this] { emit bandsChanged(); });
}

void ControllerModel::recordFrame(const Bytes& frame) {
  // Only the driver's own changes count: not what the start-up, the reads or a refresh
  // send back, and not the fixed commands (calibration steps, store), which are steps of a
  // procedure rather than settings.
  if (!driverAction_ || refreshing_ || !pagesBuiltOnLink_) return;
  if (frame.empty() || frame[0] == 0xFF) return;
  std::erase_if(driverFrames_, [&](const Bytes& f) { return f[0] == frame[0]; });
  driverFrames_.push_back(frame);
}

void ControllerModel::tellSettingSent(Field field) {
  switch (field) {
    case Field::ClutchUpper: case Field::ClutchLower: case Field::BrakeUpper: case Field::BrakeLower:
    case Field::ThrottleUpper: case Field::ThrottleLower: case Field::BrakeMax:
      traceBands();
      break;
    default: break;
  }
  publish([this, field] {
    emit settingSent(field);
    switch (field) {
      case Field::Cheto: case Field::ChetoActive: emit modeChanged(); break;
      case Field::ClutchCurve: case Field::BrakeCurve: case Field::ThrottleCurve: emit curvesChanged(); break;
      case Field::LetterAbs: case Field::LetterAutoBrake: case Field::LetterMas: case Field::LetterMenos:
      case Field::LetterMas2: case Field::LetterMenos2:
        emit lettersChanged();
        break;
      case Field::AutoBrake: emit autoBrakeChanged(shown_.autoBrake != 0); break;
      case Field::Language:
        if (const auto index = languageIndex(shown_.language)) emit languageChanged(*index);
        break;
      case Field::Model: case Field::Color: emit modelColourChanged(); break;
      case Field::ProProfileName: case Field::SportProfileName: emit profileChanged(); break;
      default: break;
    }
  });
}

void ControllerModel::showProfileInForce() {
  resendZonesAsShown(true, true);
  if (!controller_.state.sportProfileActive) controller_.state.proProfileActive = true;
  publish([this] {
    emit zonesChanged();
    emit curvesChanged();
    emit autoBrakeChanged(shown_.autoBrake != 0);
    emit modeChanged();
    emit profileChanged();
  });
}

}  // namespace tkb::ui
