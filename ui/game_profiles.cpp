#include "ui/game_profiles.h"

#include <signal.h>

#include <cerrno>

#include "ui/controller_model.h"
#include "ui/localisation.h"

namespace tkb::ui {

// The session's host on the link thread: its profile operations (the pages show the
// loads), and after a restore every page shown again from the state.
class GameProfiles::Host : public ProfileSwitchHost {
 public:
  Host(GameProfiles& owner, LinkSession session, const std::string& folder)
      : ProfileSwitchHost(session.controller, session.profiles, folder,
                          [&owner](const GameNotice& notice) { owner.model_.tellMain([&owner, notice] {
                            owner.tell_(QString::fromStdString(fill(notice, owner.model_)));
                          }); }),
        owner_(owner) {}

  bool restore(const ProfileSnapshot& snapshot) override {
    const bool ok = ProfileSwitchHost::restore(snapshot);
    owner_.model_.showProfileInForce();
    return ok;
  }

 private:
  static std::string fill(const GameNotice& notice, const ControllerModel& model) {
    const std::string fields[3] = {notice.game, notice.path, notice.detail};
    std::string filled;
    // One pass: a name or path holding "%2" stays as it is.
    const int language = languageIndex(model.state().language).value_or(0);
    for (const char* c = gameNoticeText(static_cast<int>(notice.kind), language); *c != '\0'; ++c) {
      if (c[0] == '%' && c[1] >= '1' && c[1] <= '3') {
        filled += fields[c[1] - '1'];
        ++c;
      } else {
        filled += *c;
      }
    }
    return filled;
  }

  GameProfiles& owner_;
};

GameProfiles::GameProfiles(ControllerModel& model, const AppConfig& config, std::function<void(const QString&)> tell)
    : model_(model),
      config_(config),
      tell_(std::move(tell)),
      host_(std::make_unique<Host>(*this, model.linkSession(), model.basePath() + "/tkb")),
      switcher_(std::make_unique<GameSwitcher>(*host_)) {
  timer_ = new QTimer(this);
  timer_->setInterval(kGameScanPeriodMs);
  connect(timer_, &QTimer::timeout, this, &GameProfiles::scan);
  reloadTable();
}

GameProfiles::~GameProfiles() = default;

void GameProfiles::reloadTable() {
  table_ = readGameTable(config_);
  std::vector<std::string> names;
  for (const GameEntry& entry : table_) names.push_back(entry.name);
  watcher_.watch(names);
  model_.runAction([this, table = table_](LinkSession&) { switcher_->setTable(table); });
}

void GameProfiles::start() { timer_->start(); }

void GameProfiles::stop() { timer_->stop(); }

void GameProfiles::scan() {
  // A calibration under way has the zones off and points half taken: a profile sent now would
  // turn the zones on under it. The game is seen once the wizard is over.
  if (!model_.canSendSettings() || model_.busy() || held()) return;
  // Nothing to watch: no scan at all.
  if (table_.empty() && activeGame_.empty()) return;
  const std::vector<RunningProgram>& running = watcher_.scan();
  model_.runAction([this, running](LinkSession&) {
    switcher_->update(running);
    model_.tellMain([this, active = switcher_->activeGame()] { activeGame_ = active; });
  });
}

void GameProfiles::hold(pid_t holder, const ProfileBaseline& baseline) {
  const std::lock_guard lock(holdMutex_);
  // A second snapshot of the same run keeps the baseline of the first.
  const bool held = holder_ > 0 && !(::kill(holder_, 0) != 0 && errno == ESRCH);
  if (!held || holder != holder_) heldBaseline_ = baseline;
  holder_ = holder > 0 ? holder : 0;
}

std::optional<ProfileBaseline> GameProfiles::release() {
  if (!held()) return std::nullopt;
  const std::lock_guard lock(holdMutex_);
  holder_ = 0;
  return heldBaseline_;
}

bool GameProfiles::held() {
  const std::lock_guard lock(holdMutex_);
  if (holder_ > 0 && ::kill(holder_, 0) != 0 && errno == ESRCH) holder_ = 0;
  return holder_ > 0;
}

std::vector<std::string> GameProfiles::runningNames() {
  watcher_.scan();
  return watcher_.runningNames();
}

}  // namespace tkb::ui
