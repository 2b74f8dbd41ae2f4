// TKB_Monitor's window: frameless, always on top, 152 x 102, dragged by its whole surface. It
// receives the pedal updates over the datagram channel, draws the picture, remembers its
// position and mode in config.ini and keeps the VR overlay fed.
#pragma once

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

#include "app/app_config.h"
#include "link/monitor_datagram.h"
#include "monitor/monitor_picture.h"
#include "monitor/monitor_settings.h"

class QSocketNotifier;

namespace tkb::monitor {

class GlContext;
class MessageSink;
class VrOverlay;

struct MonitorOptions {
  std::string configPath = kConfigFileName;  // in the working directory
  std::string channelName = monitorChannelName();
  std::string openVrLibrary;                 // empty: defaultOpenVrLibrary()
  MessageSink* messages = nullptr;           // required
  QString snapshotPath;                      // PNG written after the first drawing
};

class MonitorWindow : public QWidget {
 public:
  explicit MonitorWindow(const MonitorOptions& options, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  void handlePedalUpdate(const PedalUpdate& update);

  const QImage& picture() const { return picture_.image(); }
  bool savePicture(const QString& path) const;
  bool shown() const { return shown_; }
  unsigned mode() const { return mode_; }
  const VrSettings& vrSettings() const { return vrSettings_; }
  VrOverlay& vr() { return *vr_; }
  bool glReady() const;
  bool channelBound() const { return receiver_.bound(); }

 protected:
  void setVisible(bool visible) override;
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void drawMonitor(bool fullBackground);
  void readDatagrams();
  void bindChannel();
  void vrUpkeep();
  void vrTimeout();

  AppConfig config_;
  VrSettings vrSettings_;
  unsigned mode_ = 0;
  PictureValues values_;
  bool shown_ = false;
  MonitorPicture picture_;
  std::unique_ptr<GlContext> gl_;
  std::unique_ptr<VrOverlay> vr_;
  MonitorReceiver receiver_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer bindRetry_;
  QTimer vrUpkeep_;   // every 100 ms while the runtime is not up
  QTimer vrTimeout_;  // fades the overlay after vr_timeout ms without an update
  QTimer repaintPause_;  // the window is repainted at most every kRepaintPeriodMs
  bool repaintPending_ = false;
  QString snapshotPath_;
  QPoint savedPosition_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace tkb::monitor
