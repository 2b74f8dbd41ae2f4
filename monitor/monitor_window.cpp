#include "monitor/monitor_window.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QWindow>

#include <cstdio>

#include "monitor/gl_context.h"
#include "monitor/message_box.h"
#include "monitor/vr_overlay.h"

namespace tkb::monitor {
namespace {

constexpr int kVrUpkeepMs = 100;
constexpr int kBindRetryMs = 1000;
// Updates arrive every 10 ms; the screen needs no more than 50 pictures a second, and every
// repaint costs a trip through the window system.
constexpr int kRepaintPeriodMs = 20;

}  // namespace

MonitorWindow::MonitorWindow(const MonitorOptions& options, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      config_(options.configPath),
      vrSettings_(readVrSettings(config_)),
      receiver_(options.channelName),
      snapshotPath_(options.snapshotPath) {
  mode_ = static_cast<unsigned>(config_.readInt(kMonitorSection, "last_mode", 0)) & 0xFFu;
  values_.mode = mode_;
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(kPictureWidth, kPictureHeight);

  gl_ = std::make_unique<GlContext>(*options.messages);
  vr_ = std::make_unique<VrOverlay>(
      vrSettings_, gl_.get(),
      options.openVrLibrary.empty() ? defaultOpenVrLibrary() : options.openVrLibrary);
  vr_->startVrOverlay(shown_);

  const int x = config_.readInt(kMonitorSection, "x", -1);
  const int y = config_.readInt(kMonitorSection, "y", -1);
  if (x > 0 && y > 0) move(x, y);
  setWindowTitle(QString::fromLatin1(kMonitorWindowTitle));
  drawMonitor(true);

  vrTimeout_.setSingleShot(true);
  connect(&vrTimeout_, &QTimer::timeout, this, &MonitorWindow::vrTimeout);
  connect(&vrUpkeep_, &QTimer::timeout, this, &MonitorWindow::vrUpkeep);
  if (vr_->enabled()) vrUpkeep_.start(kVrUpkeepMs);

  repaintPause_.setSingleShot(true);
  connect(&repaintPause_, &QTimer::timeout, this, [this] {
    if (!repaintPending_) return;
    repaintPending_ = false;
    update();
    repaintPause_.start(kRepaintPeriodMs);
  });

  connect(&bindRetry_, &QTimer::timeout, this, &MonitorWindow::bindChannel);
  bindChannel();
}

MonitorWindow::~MonitorWindow() {
  vr_->shutdown();
  vr_.reset();
  gl_.reset();
}

bool MonitorWindow::glReady() const { return gl_->ready(); }

void MonitorWindow::bindChannel() {
  if (receiver_.bind()) {
    bindRetry_.stop();
    notifier_ = new QSocketNotifier(receiver_.fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MonitorWindow::readDatagrams);
    return;
  }
  // Another monitor holds the name (the configuration program can run two); take it over
  // when that one ends.
  if (!bindRetry_.isActive()) {
    if (receiver_.problem().empty()) {
      std::fprintf(stderr, "TKB_Monitor: the channel \"%s\" is in use, waiting for it\n",
                   receiver_.name().c_str());
    } else {
      std::fprintf(stderr, "TKB_Monitor: cannot open the channel: %s\n", receiver_.problem().c_str());
    }
    std::fflush(stderr);
    bindRetry_.start(kBindRetryMs);
  }
}

void MonitorWindow::readDatagrams() {
  while (auto datagram = receiver_.receive()) {
    if (auto update = pedalUpdateOf(*datagram)) handlePedalUpdate(*update);
  }
}

void MonitorWindow::handlePedalUpdate(const PedalUpdate& update) {
  bool fullBackground = false;
  if (update.mode != mode_) {
    mode_ = update.mode;
    config_.write(kMonitorSection, "last_mode", std::to_string(mode_));
    fullBackground = true;
  }
  values_.mode = mode_;
  values_.throttle = update.throttle;
  values_.brake = update.brake;
  values_.clutch = update.clutch;
  values_.maxNumber = update.maxNumber;
  values_.cutNumber = update.cutNumber;
  drawMonitor(fullBackground);
}

void MonitorWindow::drawMonitor(bool fullBackground) {
  picture_.draw(values_, fullBackground);
  shown_ = true;
  if (vrSettings_.timeoutMs > 0) vrTimeout_.start(vrSettings_.timeoutMs);
  if (repaintPause_.isActive()) {
    repaintPending_ = true;
  } else {
    update();
    repaintPause_.start(kRepaintPeriodMs);
  }
  vr_->pushVrPicture(picture_.image());
  vr_->setVrOpacity(vrSettings_.opacity / 100.0f);
  if (!snapshotPath_.isEmpty()) {
    if (!savePicture(snapshotPath_)) {
      std::fprintf(stderr, "TKB_Monitor: cannot write %s\n", qPrintable(snapshotPath_));
    }
    snapshotPath_.clear();
  }
}

bool MonitorWindow::savePicture(const QString& path) const {
  return picture_.image().save(path, "PNG");
}

void MonitorWindow::vrUpkeep() {
  if (vr_->needsStart()) vr_->startVrOverlay(shown_);
}

void MonitorWindow::vrTimeout() {
  vrTimeout_.stop();
  shown_ = false;
  vr_->setVrOpacity(0.0f);
}

void MonitorWindow::setVisible(bool visible) {
  // While the picture is faded out, requests to show the window are ignored.
  if (visible && !shown_) return;
  QWidget::setVisible(visible);
}

void MonitorWindow::paintEvent(QPaintEvent*) {
  // In two bands of 51 rows: Qt hands blends of more than 96 rows to its thread pool, and
  // waking two threads for a picture this small costs more than the copy itself.
  QPainter painter(this);
  const int band = kPictureHeight / 2;
  for (int top = 0; top < kPictureHeight; top += band) {
    painter.drawImage(QPoint(0, top), picture_.image(), QRect(0, top, kPictureWidth, band));
  }
}

void MonitorWindow::showEvent(QShowEvent* event) {
  // The place the window appears at is not a move by the user: no write for it.
  savedPosition_ = pos();
  QWidget::showEvent(event);
}

void MonitorWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!shown_ || !isVisible() || pos() == savedPosition_) return;
  savedPosition_ = pos();
  config_.write(kMonitorSection, "x", std::to_string(savedPosition_.x()));
  config_.write(kMonitorSection, "y", std::to_string(savedPosition_.y()));
}

void MonitorWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The whole window is the caption: let the window manager move it where it can.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - pos();
}

void MonitorWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) move(event->globalPosition().toPoint() - dragOffset_);
}

void MonitorWindow::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void MonitorWindow::keyPressEvent(QKeyEvent* event) {
  // The standard dialog keys end the monitor.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      close();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

}  // namespace tkb::monitor
