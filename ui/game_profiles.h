// The per-game profiles in the window: every two seconds, while the pedals are connected and
// not being read, one scan of the running programs runs the game switcher as one action of
// the driver. Loads go through the program's PageProfiles (the window shows them as a LOAD
// does), restores refresh the pages through the model's signals, and what the switcher tells
// reaches the driver through Application::tellDriver. Owned by the Application.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <string>
#include <vector>

#include "app/game_switcher.h"
#include "app/process_watcher.h"

namespace tkb::ui {

class Application;

class GameProfiles : public QObject {
  Q_OBJECT

 public:
  explicit GameProfiles(Application& app);
  ~GameProfiles() override;

  // The table from config.ini again (after the dialog changed it).
  void reloadTable();
  // The scan timer runs from now on.
  void start();
  // One scan and switch; nothing while the pedals are being read or are unplugged.
  void scan();
  // The running programs' names, scanned now: what the dialog offers.
  std::vector<std::string> runningNames();

  // While a tkb-cli run holds a profile (from its snapshot to its restore) the switcher stays
  // idle: at the run's end the profile from before it must be in force, not a game's. The
  // hold also ends when the tkb-cli process that took it is gone. It keeps the edits'
  // baseline of its start, given back by release().
  void hold(pid_t holder, const ProfileBaseline& baseline);
  std::optional<ProfileBaseline> release();
  bool held();

  QTimer* timer() const { return timer_; }
  GameSwitcher& switcher() { return *switcher_; }
  ProcessWatcher& watcher() { return watcher_; }

 private:
  class Host;
  Application& app_;
  ProcessWatcher watcher_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<GameSwitcher> switcher_;
  QTimer* timer_ = nullptr;
  pid_t holder_ = 0;
  ProfileBaseline heldBaseline_;
};

}  // namespace tkb::ui
