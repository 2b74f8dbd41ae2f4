// TKB_Monitor's window: frameless, always on top, 152 x 102, dragged by its whole surface. It
// receives the pedal updates over the datagram channel, draws the picture in the view that
// config.ini names (following a change while it runs), remembers its position and mode there
// and keeps the VR overlay fed. The OpenGL context and the VR runtime library exist only while
// VR is on.
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
#include "monitor/pedal_trace.h"

class QFileSystemWatcher;
class QSocketNotifier;

namespace tkb::monitor {

class GlContext;
class MessageSink;
class VrOverlay;

struct MonitorOptions {
  std::string configPath = kConfigFileName;  // in the working directory
  std::string channelName = monitorChannelName();
  std::string openVrLibrary;                 // empty: defaultOpenVrLibrary()
  MessageSink* messages = nullptr;           // required: the OpenGL start's failures
  QString snapshotPath;                      // PNG written after the first drawing
};

class MonitorWindow : public QWidget {
 public:
  // Updates arrive every 10 ms; the picture is drawn (and the window repainted, the overlay's
  // texture uploaded) at most every 40 ms, with the latest values: one trace column per
  // picture. A repaint costs about the same whatever it shows, so this pace sets what the
  // monitor costs: at 20 ms a bare Qt window of this size alone took 1.5 % of a core under
  // Xvfb (bench_monitor), at 40 ms the whole monitor takes 1 %.
  static constexpr int kDrawPeriodMs = 40;

  explicit MonitorWindow(const MonitorOptions& options, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  // Takes the update at once (the trace keeps every one); the picture follows within
  // kDrawPeriodMs.
  void handlePedalUpdate(const PedalUpdate& update);

  // VR on: the OpenGL context (its failures shown through the message sink; VR then stays
  // off), the runtime library and the overlay. VR off: all three released. At construction VR
  // is on when enable_vr is 1.
  void setVrEnabled(bool on);

  const QImage& picture() const { return picture_.image(); }
  bool savePicture(const QString& path) const;
  bool shown() const { return shown_; }
  unsigned mode() const { return mode_; }
  MonitorView view() const { return view_; }
  const PedalTrace& trace() const { return trace_; }
  // Pictures drawn so far; an update that would draw the same bars again draws none.
  int drawings() const { return drawings_; }
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
  void takePedalUpdate(const PedalUpdate& update);
  void requestDrawing();
  void drawMonitor();
  void endDrawPause();
  void readDatagrams();
  void bindChannel();
  void watchConfig();
  void followView();
  void vrUpkeep();
  void vrTimeout();

  AppConfig config_;
  MessageSink* messages_;
  std::string openVrLibrary_;
  VrSettings vrSettings_;
  MonitorView view_ = MonitorView::Bars;
  unsigned mode_ = 0;
  PictureValues values_;
  PictureValues drawnValues_;  // what the bars view shows
  PedalTrace trace_;
  bool shown_ = false;
  MonitorPicture picture_;
  std::unique_ptr<GlContext> gl_;
  std::unique_ptr<VrOverlay> vr_;
  MonitorReceiver receiver_;
  QSocketNotifier* notifier_ = nullptr;
  QFileSystemWatcher* configWatcher_ = nullptr;
  QTimer configSettle_;  // one read of the file after a burst of changes in its folder
  QTimer bindRetry_;
  QTimer vrUpkeep_;   // every 100 ms while the runtime is not up
  QTimer vrTimeout_;  // fades the overlay after vr_timeout ms without an update
  QTimer drawPause_;  // the picture is drawn at most every kDrawPeriodMs
  bool drawPending_ = false;
  bool backgroundPending_ = true;
  int drawings_ = 0;
  QString snapshotPath_;
  QPoint savedPosition_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace tkb::monitor
