#include "ui/game_profiles.h"

#include <signal.h>

#include <cerrno>

#include "ui/application.h"
#include "ui/localisation.h"
#include "ui/pages.h"

namespace tkb::ui {

// The program's own host: its Profiles (the pages show the loads), and after a restore the
// pages shown again from the state.
class GameProfiles::Host : public ProfileSwitchHost {
 public:
  Host(Application& app)
      : ProfileSwitchHost(app.controller, app.pages().profiles.profiles(), app.basePath() + "/tkb",
                          [&app](const GameNotice& notice) { tellNotice(app, notice); }),
        app_(app) {}

  bool restore(const ProfileSnapshot& snapshot) override {
    const bool ok = ProfileSwitchHost::restore(snapshot);
    app_.showProfileInForce();
    return ok;
  }

 private:
  static void tellNotice(Application& app, const GameNotice& notice) {
    const std::string fields[3] = {notice.game, notice.path, notice.detail};
    std::string filled;
    // One pass: a name or path holding "%2" stays as it is.
    for (const char* c = gameNoticeText(static_cast<int>(notice.kind), app.languageIndex().value_or(0)); *c != '\0'; ++c) {
      if (c[0] == '%' && c[1] >= '1' && c[1] <= '3') {
        filled += fields[c[1] - '1'];
        ++c;
      } else {
        filled += *c;
      }
    }
    app.tellDriver(QString::fromStdString(filled));
  }

  Application& app_;
};

GameProfiles::GameProfiles(Application& app)
    : app_(app), host_(std::make_unique<Host>(app)), switcher_(std::make_unique<GameSwitcher>(*host_)) {
  timer_ = new QTimer(this);
  timer_->setInterval(kGameScanPeriodMs);
  connect(timer_, &QTimer::timeout, this, &GameProfiles::scan);
  reloadTable();
}

GameProfiles::~GameProfiles() = default;

void GameProfiles::reloadTable() {
  if (app_.config() != nullptr) switcher_->setTable(readGameTable(*app_.config()));
  watcher_.watch(switcher_->names());
}

void GameProfiles::start() { timer_->start(); }

void GameProfiles::scan() {
  if (app_.phase() != Application::Phase::Running || !app_.controllerFree() || app_.firmwareUpdating()) return;
  // A calibration under way has the zones off and points half taken: a profile sent now would
  // turn the zones on under it. The game is seen once the wizard is over.
  const CalibrationWizard& wizard = app_.pages().pro->wizard();
  if (wizard.pending() || wizard.count() > 0) return;
  if (held()) return;
  // Nothing to watch: no scan at all.
  if (switcher_->table().empty() && switcher_->activeGame().empty()) return;
  const std::vector<RunningProgram>& running = watcher_.scan();
  const Application::Action action(app_);
  switcher_->update(running);
}

void GameProfiles::hold(pid_t holder, const ProfileBaseline& baseline) {
  // A second snapshot of the same run keeps the baseline of the first.
  if (!held() || holder != holder_) heldBaseline_ = baseline;
  holder_ = holder > 0 ? holder : 0;
}

std::optional<ProfileBaseline> GameProfiles::release() {
  if (!held()) return std::nullopt;
  holder_ = 0;
  return heldBaseline_;
}

bool GameProfiles::held() {
  if (holder_ > 0 && ::kill(holder_, 0) != 0 && errno == ESRCH) holder_ = 0;
  return holder_ > 0;
}

std::vector<std::string> GameProfiles::runningNames() {
  watcher_.scan();
  return watcher_.runningNames();
}

}  // namespace tkb::ui
