#include "ui/tray.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <map>

#include "link/trace.h"
#include "ui/application.h"
#include "ui/main_page.h"
#include "ui/monitor_view.h"
#include "ui/trace_texts.h"

namespace tkb::ui {

namespace {
constexpr LabelRole kFirstRole = LabelRole::TraySetting;
constexpr LabelRole kLastRole = LabelRole::TrayStillRunning;
constexpr int kRoleCount = static_cast<int>(kLastRole) - static_cast<int>(kFirstRole) + 1;
constexpr int kTrayMessageMs = 6000;

int slotOf(LabelRole role) { return static_cast<int>(role) - static_cast<int>(kFirstRole); }

// A menu entry shows '&' as a shortcut mark unless it is doubled.
QString entryText(const QString& text) {
  QString escaped = text;
  return escaped.replace('&', "&&");
}
}  // namespace

Tray::Tray(Application& app, const Services& services)
    : app_(app), services_(services), texts_(kRoleCount) {
  menu_ = std::make_unique<QMenu>();
  menu_->setObjectName("TrayMenu");
  menu_->setToolTipsVisible(true);
  profileEntry_ = menu_->addAction("");
  profileEntry_->setEnabled(false);
  recentMenu_ = menu_->addMenu("");
  recentMenu_->setToolTipsVisible(true);
  menu_->addSeparator();
  monitorEntry_ = menu_->addAction("");
  monitorEntry_->setCheckable(true);
  viewMenu_ = menu_->addMenu("");
  viewMenu_->setObjectName("TrayMonitorView");
  auto* views = new QActionGroup(viewMenu_);
  viewBars_ = views->addAction("");
  viewTrace_ = views->addAction("");
  for (QAction* entry : {viewBars_, viewTrace_}) {
    entry->setCheckable(true);
    viewMenu_->addAction(entry);
  }
  gamesEntry_ = menu_->addAction("");
  showEntry_ = menu_->addAction("");
  menu_->addSeparator();
  exitEntry_ = menu_->addAction("");
  // English until the language is known.
  for (int r = static_cast<int>(kFirstRole); r <= static_cast<int>(kLastRole); ++r) {
    const auto role = static_cast<LabelRole>(r);
    setText(role, labelText(role, 0));
    app_.labels().add(role, [this, role](const std::string& t) { setText(role, t); });
  }

  connect(menu_.get(), &QMenu::aboutToShow, this, &Tray::refresh);
  connect(monitorEntry_, &QAction::triggered, this, [this](bool on) {
    trace("\nTray: monitor %s\n", on ? "on" : "off");
    app_.mainPage().setMonitorOpen(on);
    monitorEntry_->setChecked(app_.mainPage().monitorOpen());  // a start that failed
  });
  connect(&app_.mainPage(), &MainPage::monitorShown, monitorEntry_, &QAction::setChecked);
  for (QAction* entry : {viewBars_, viewTrace_})
    connect(entry, &QAction::triggered, this, [this, entry] {
      const MonitorView view = entry == viewTrace_ ? MonitorView::Trace : MonitorView::Bars;
      trace("\nTray: monitor view %s\n", view == MonitorView::Trace ? "trace" : "bars");
      if (MonitorViewSwitch* views = app_.mainPage().monitorView) views->setView(view);
      refresh();  // a refused write leaves the entry on what the file holds
    });
  followLanguage(this, app_.model(), [this](int language) {
    viewMenu_->setTitle(entryText(traceText(TraceText::MonitorViewMenu, language)));
    viewBars_->setText(entryText(traceText(TraceText::MonitorViewBars, language)));
    viewTrace_->setText(entryText(traceText(TraceText::MonitorViewTrace, language)));
  });
  // The games dialog is the window's: the window comes first.
  gamesEntry_->setText(entryText(QString::fromUtf8(labelText(LabelRole::GamesTitle, 0))));
  app_.labels().add(LabelRole::GamesTitle,
                    [this](const std::string& t) { gamesEntry_->setText(entryText(QString::fromStdString(t))); });
  connect(gamesEntry_, &QAction::triggered, this, [this] {
    showWindow();
    app_.openGamesDialog();
  });
  connect(showEntry_, &QAction::triggered, this, &Tray::showWindow);
  connect(exitEntry_, &QAction::triggered, this, [this] {
    trace("\nTray: exit\n");
    app_.mainPage().exitClicked();
  });
  ControllerModel& model = app_.model();
  connect(&model, &ControllerModel::profileChanged, this, &Tray::refreshProfile);
  connect(&model, &ControllerModel::modeChanged, this, &Tray::refreshProfile);
  connect(&model, &ControllerModel::profileFileUsed, this, [this](ProfileKind kind, const QString& path) {
    if (recentFiles_) recentFiles_->add(path.toStdString(), kind);
    refreshRecent();
  });
  connect(&app_, &Application::phaseChanged, this, &Tray::refresh);
  refresh();
}

Tray::~Tray() {
  if (quitOnLastWindowChanged_) QApplication::setQuitOnLastWindowClosed(true);
}

void Tray::setText(LabelRole role, const std::string& t) {
  texts_[slotOf(role)] = QString::fromStdString(t);
  switch (role) {
    case LabelRole::TraySetting:
      if (switch_) {
        switch_->setText(texts_[slotOf(role)]);
        switch_->adjustSize();
      }
      break;
    case LabelRole::TrayProfile: refreshProfile(); break;
    case LabelRole::TrayRecent:
      if (recentMenu_) recentMenu_->setTitle(texts_[slotOf(role)]);
      break;
    case LabelRole::TrayMonitor:
      if (monitorEntry_) monitorEntry_->setText(texts_[slotOf(role)]);
      break;
    case LabelRole::TrayShowWindow:
      if (showEntry_) showEntry_->setText(texts_[slotOf(role)]);
      break;
    case LabelRole::TrayExit:
      if (exitEntry_) exitEntry_->setText(texts_[slotOf(role)]);
      break;
    default: break;
  }
}

QString Tray::text(LabelRole role) const { return texts_[slotOf(role)]; }

void Tray::start(const std::string& configPath) {
  if (config_) return;
  config_.emplace(configPath);
  recentFiles_.emplace(*config_);
  enabled_ = traySetting(*config_);
  if (switch_) switch_->setChecked(enabled_);
  showIcon();
  refresh();
}

void Tray::attachSwitch(QCheckBox* box) {
  switch_ = box;
  box->setText(text(LabelRole::TraySetting));
  box->adjustSize();
  box->setChecked(enabled_);
  connect(box, &QCheckBox::clicked, this, [this](bool on) { setEnabled(on); });
}

void Tray::setEnabled(bool on) {
  trace("\nTray: %s\n", on ? "on" : "off");
  // The switch says what config.ini holds: a refused write leaves both as they were.
  if (config_ && writeTraySetting(*config_, on)) enabled_ = on;
  if (switch_) switch_->setChecked(enabled_);
  showIcon();
}

void Tray::showIcon() {
  const bool host = services_.trayAvailable ? services_.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
  const bool show = enabled_ && host && app_.phase() != Application::Phase::Stopped;
  if (show && !icon_) {
    icon_ = std::make_unique<QSystemTrayIcon>(QIcon(":/pictures/icon.svg"));
    icon_->setToolTip(kWindowTitle);
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) showWindow();
    });
  }
  if (icon_) icon_->setVisible(show);
  shown_ = show;
  // While the window may be hidden, a message box closed over nothing must not end the
  // program; without the icon, closing the last window ends it as always.
  if (show != quitOnLastWindowChanged_) {
    QApplication::setQuitOnLastWindowClosed(!show);
    quitOnLastWindowChanged_ = show;
  }
}

bool Tray::hideOnClose() {
  if (!shown_) return false;
  trace("\nTray: window hidden\n");
  app_.window()->hide();
  if (!toldStillRunning_) {
    toldStillRunning_ = true;
    showMessage(text(LabelRole::TrayStillRunning));
  }
  return true;
}

void Tray::showWindow() {
  QWidget* window = app_.window();
  window->showNormal();
  window->raise();
  window->activateWindow();
}

bool Tray::showMessage(const QString& message) {
  if (!shown_ || !icon_) return false;
  icon_->showMessage(kWindowTitle, message, QSystemTrayIcon::Information, kTrayMessageMs);
  emit messageShown(message);
  return true;
}

void Tray::refresh() {
  refreshProfile();
  refreshRecent();
  const Application::Phase phase = app_.phase();
  monitorEntry_->setEnabled(app_.mainPage().openMonitor != nullptr && phase != Application::Phase::Stopped);
  monitorEntry_->setChecked(app_.mainPage().monitorOpen());
  const MonitorViewSwitch* views = app_.mainPage().monitorView;
  viewMenu_->setEnabled(views != nullptr && phase != Application::Phase::Stopped);
  if (views) (views->view() == MonitorView::Trace ? viewTrace_ : viewBars_)->setChecked(true);
  gamesEntry_->setEnabled(app_.games() != nullptr && phase == Application::Phase::Running);
  if (phase == Application::Phase::Stopped) showIcon();
}

void Tray::refreshProfile() {
  if (!profileEntry_) return;
  // Before the pedals were read there is no profile in force to name.
  const bool running = app_.phase() == Application::Phase::Running;
  profileEntry_->setVisible(running);
  if (!running) return;
  const QString name = QString::fromStdString(profileInForce(app_.model().state()));
  profileEntry_->setText(entryText(text(LabelRole::TrayProfile).arg(name)));
}

// A profile must not land in the middle of a calibration (the pedals have their zones off),
// nor while the pedals are being read or are away.
bool Tray::recentLoadable() const { return app_.model().canSendSettings(); }

void Tray::refreshRecent() {
  if (!recentMenu_) return;
  recentShown_ = recentFiles_ ? recentFiles_->files() : std::vector<RecentProfile>{};
  recentMenu_->clear();
  std::map<QString, int> sameName;
  for (const RecentProfile& entry : recentShown_) ++sameName[QFileInfo(QString::fromStdString(entry.path)).fileName()];
  const bool loadable = recentLoadable();
  for (const RecentProfile& entry : recentShown_) {
    const QFileInfo file(QString::fromStdString(entry.path));
    QString shown = file.fileName();
    if (sameName[shown] > 1) shown += "  (" + file.absolutePath() + ")";
    QAction* action = recentMenu_->addAction(entryText(shown));
    action->setToolTip(file.absoluteFilePath());
    action->setEnabled(loadable);
    connect(action, &QAction::triggered, this, [this, entry] { loadRecent(entry); });
  }
  recentMenu_->setEnabled(!recentShown_.empty());
}

void Tray::loadRecent(const RecentProfile& entry) {
  if (!recentLoadable() || app_.model().busy()) return;
  trace("\nTray: recent profile %s\n", entry.path.c_str());
  // A refused file is told by the window, as the pages' LOAD tells it.
  app_.model().loadProfileFile(entry.kind, entry.path);
  refresh();
}

}  // namespace tkb::ui
