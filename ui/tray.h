// The tray icon (config.ini [GENERAL] tray=1, off by default, switched on the main page):
// shown while the setting is on and the desktop has a tray host. While it is shown,
// closing the window only hides it and the program runs on. Its menu shows the profile in
// force, the recent profiles (a click loads one as the page's LOAD does with that file),
// the window-mode monitor on or off as OPEN/CLOSE MONITOR and its view (bars or trace), the
// per-game profiles, the window, and EXIT.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/recent_profiles.h"
#include "ui/localisation.h"

namespace tkb::ui {

class Application;
struct Services;

class Tray : public QObject {
  Q_OBJECT

 public:
  Tray(Application& app, const Services& services);
  ~Tray() override;

  // The setting and the recent profiles are kept in this config.ini (the base folder's).
  void start(const std::string& configPath);
  // The main page's switch: shows the setting, and writes it at once when clicked.
  void attachSwitch(QCheckBox* box);

  bool enabled() const { return enabled_; }
  // Writes the setting, then shows or hides the icon.
  void setEnabled(bool on);
  // The icon is on show: the setting is on and there is a tray host.
  bool shown() const { return shown_; }
  // Closing the window: hidden (and true) while the icon is shown; the first time in a run
  // the icon says that the program keeps running.
  bool hideOnClose();
  void showWindow();
  // A notice from the icon; false (nothing shown) while the icon is not shown.
  bool showMessage(const QString& text);

  QSystemTrayIcon* icon() const { return icon_.get(); }
  QMenu* menu() const { return menu_.get(); }
  QAction* profileEntry() const { return profileEntry_; }
  QMenu* recentMenu() const { return recentMenu_; }
  QAction* monitorEntry() const { return monitorEntry_; }
  // The monitor's view (bars or trace), as the switch beside OPEN MONITOR sets it.
  QMenu* viewMenu() const { return viewMenu_; }
  QAction* viewBarsEntry() const { return viewBars_; }
  QAction* viewTraceEntry() const { return viewTrace_; }
  QAction* gamesEntry() const { return gamesEntry_; }
  QAction* showEntry() const { return showEntry_; }
  QAction* exitEntry() const { return exitEntry_; }
  // The recent profiles as the menu lists them, most recent first.
  const std::vector<RecentProfile>& recent() const { return recentShown_; }

  // Everything the menu shows, brought up to date (also done before the menu opens).
  void refresh();

 signals:
  void messageShown(const QString& text);

 private:
  void showIcon();
  void refreshProfile();
  void refreshRecent();
  // Loading is for a running program whose pedals answer, outside a calibration.
  bool recentLoadable() const;
  void loadRecent(const RecentProfile& entry);
  // The menu's texts in the language in force, by role (TraySetting ... TrayStillRunning).
  QString text(LabelRole role) const;
  void setText(LabelRole role, const std::string& text);

  Application& app_;
  const Services& services_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::unique_ptr<QMenu> menu_;
  QAction* profileEntry_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* monitorEntry_ = nullptr;
  QMenu* viewMenu_ = nullptr;
  QAction* viewBars_ = nullptr;
  QAction* viewTrace_ = nullptr;
  QAction* gamesEntry_ = nullptr;
  QAction* showEntry_ = nullptr;
  QAction* exitEntry_ = nullptr;
  QPointer<QCheckBox> switch_;
  std::optional<AppConfig> config_;
  std::optional<RecentProfiles> recentFiles_;
  std::vector<RecentProfile> recentShown_;
  std::vector<QString> texts_;
  bool enabled_ = false;
  bool shown_ = false;
  bool toldStillRunning_ = false;
  bool quitOnLastWindowChanged_ = false;
};

}  // namespace tkb::ui
