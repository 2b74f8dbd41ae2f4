// The per-game profiles in the window: every two seconds, while the session may send on its
// own (pedals running, not being read, no calibration under way), one scan of the running
// programs runs the game switcher as one action on the link thread. Loads go through the
// session's profile operations (the pages show them as a LOAD), restores show the profile in
// force on every page, and what the switcher tells reaches the driver through `tell`.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "app/app_config.h"
#include "app/game_switcher.h"
#include "app/process_watcher.h"

namespace tkb::ui {

class ControllerModel;

class GameProfiles : public QObject {
  Q_OBJECT

 public:
  GameProfiles(ControllerModel& model, const AppConfig& config, std::function<void(const QString&)> tell);
  ~GameProfiles() override;

  // The table from config.ini again (after the dialog changed it).
  void reloadTable();
  // The scan timer runs from now on; stop() ends it.
  void start();
  void stop();
  // One scan and switch; nothing while the session may not send on its own.
  void scan();
  // The running programs' names, scanned now: what the dialog offers.
  std::vector<std::string> runningNames();
  // The table name of the game whose turn it is (as of the last switch), empty when none.
  const std::string& activeGame() const { return activeGame_; }
  const std::vector<GameEntry>& table() const { return table_; }

  // While a tkb-cli run holds a profile (from its snapshot to its restore) the switcher stays
  // idle: at the run's end the profile from before it must be in force, not a game's. The
  // hold also ends when the tkb-cli process that took it is gone. It keeps the edits'
  // baseline of its start, given back by release(). From any thread.
  void hold(pid_t holder, const ProfileBaseline& baseline);
  std::optional<ProfileBaseline> release();
  bool held();

  QTimer* timer() const { return timer_; }
  ProcessWatcher& watcher() { return watcher_; }

 private:
  class Host;
  ControllerModel& model_;
  const AppConfig& config_;
  std::function<void(const QString&)> tell_;
  ProcessWatcher watcher_;
  // Link thread: the switcher and its host.
  std::unique_ptr<Host> host_;
  std::unique_ptr<GameSwitcher> switcher_;
  // Main thread.
  std::vector<GameEntry> table_;
  std::string activeGame_;
  QTimer* timer_ = nullptr;
  std::mutex holdMutex_;
  pid_t holder_ = 0;
  ProfileBaseline heldBaseline_;
};

}  // namespace tkb::ui
