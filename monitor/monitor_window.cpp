#include "monitor/monitor_window.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
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
// The configuration program replaces config.ini by writing a new file and renaming it: one
// change is several events in the folder.
constexpr int kConfigSettleMs = 50;

}  // namespace

MonitorWindow::MonitorWindow(const MonitorOptions& options, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      config_(options.configPath),
      messages_(options.messages),
      openVrLibrary_(options.openVrLibrary.empty() ? defaultOpenVrLibrary() : options.openVrLibrary),
      receiver_(options.channelName),
      snapshotPath_(options.snapshotPath) {
  const IniValues file = config_.load();
  vrSettings_ = readVrSettings(file);
  view_ = readMonitorView(file);
  mode_ = static_cast<unsigned>(file.readInt(kMonitorSection, "last_mode", 0)) & 0xFFu;
  values_.mode = mode_;
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(kPictureWidth, kPictureHeight);

  vrTimeout_.setSingleShot(true);
  connect(&vrTimeout_, &QTimer::timeout, this, &MonitorWindow::vrTimeout);
  connect(&vrUpkeep_, &QTimer::timeout, this, &MonitorWindow::vrUpkeep);
  vr_ = std::make_unique<VrOverlay>(vrSettings_, nullptr, openVrLibrary_);
  setVrEnabled(vrSettings_.enableVr == 1);

  const int x = file.readInt(kMonitorSection, "x", -1);
  const int y = file.readInt(kMonitorSection, "y", -1);
  if (x > 0 && y > 0) move(x, y);
  setWindowTitle(QString::fromLatin1(kMonitorWindowTitle));

  drawPause_.setSingleShot(true);
  connect(&drawPause_, &QTimer::timeout, this, &MonitorWindow::endDrawPause);
  drawMonitor();

  configSettle_.setSingleShot(true);
  connect(&configSettle_, &QTimer::timeout, this, &MonitorWindow::followView);
  watchConfig();

  connect(&bindRetry_, &QTimer::timeout, this, &MonitorWindow::bindChannel);
  bindChannel();
}

MonitorWindow::~MonitorWindow() { setVrEnabled(false); }

bool MonitorWindow::glReady() const { return gl_ != nullptr && gl_->ready(); }

void MonitorWindow::setVrEnabled(bool on) {
  if (on == vr_->enabled()) return;
  vrUpkeep_.stop();
  // The overlay and the runtime go before the context their textures live in.
  vr_ = std::make_unique<VrOverlay>(vrSettings_, nullptr, openVrLibrary_);
  gl_.reset();
  if (!on) return;

  gl_ = std::make_unique<GlContext>(*messages_);
  if (!gl_->ready()) {  // said so already; without a context the overlay cannot be fed
    gl_.reset();
    return;
  }
  vr_ = std::make_unique<VrOverlay>(vrSettings_, gl_.get(), openVrLibrary_);
  vr_->startVrOverlay(shown_);
  if (shown_) {
    vr_->pushVrPicture(picture_.image());
    vr_->setVrOpacity(vrSettings_.opacity / 100.0f);
  }
  vrUpkeep_.start(kVrUpkeepMs);
}

void MonitorWindow::bindChannel() {
  if (receiver_.bind()) {
    bindRetry_.stop();
    notifier_ = new QSocketNotifier(receiver_.fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MonitorWindow::readDatagrams);
    // During a pause between drawings the updates wait in the socket (it holds ten; four come
    // in a pause).
    notifier_->setEnabled(!drawPause_.isActive());
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

void MonitorWindow::watchConfig() {
  // The folder, not the file: the file is replaced by a rename, which would end a watch on it.
  const QString folder = QFileInfo(QString::fromStdString(config_.path())).absolutePath();
  configWatcher_ = new QFileSystemWatcher(this);
  if (!configWatcher_->addPath(folder)) {
    std::fprintf(stderr, "TKB_Monitor: cannot watch %s: a change of view needs a restart\n",
                 qPrintable(folder));
    std::fflush(stderr);
    return;
  }
  connect(configWatcher_, &QFileSystemWatcher::directoryChanged, this,
          [this] { configSettle_.start(kConfigSettleMs); });
}

void MonitorWindow::followView() {
  const MonitorView view = readMonitorView(config_.load());
  if (view == view_) return;
  view_ = view;
  backgroundPending_ = true;
  requestDrawing();
}

void MonitorWindow::readDatagrams() {
  bool taken = false;
  while (auto datagram = receiver_.receive()) {
    if (auto update = pedalUpdateOf(*datagram)) {
      takePedalUpdate(*update);
      taken = true;
    }
  }
  if (taken) requestDrawing();
}

void MonitorWindow::handlePedalUpdate(const PedalUpdate& update) {
  takePedalUpdate(update);
  requestDrawing();
}

void MonitorWindow::takePedalUpdate(const PedalUpdate& update) {
  if (update.mode != mode_) {
    mode_ = update.mode;
    config_.write(kMonitorSection, "last_mode", std::to_string(mode_));
    backgroundPending_ = true;
  }
  values_.mode = mode_;
  values_.throttle = update.throttle;
  values_.brake = update.brake;
  values_.clutch = update.clutch;
  values_.maxNumber = update.maxNumber;
  values_.cutNumber = update.cutNumber;
  trace_.add(update.throttle, update.brake, update.clutch);
}

void MonitorWindow::requestDrawing() {
  if (drawPause_.isActive()) {
    drawPending_ = true;
  } else {
    drawMonitor();
  }
}

void MonitorWindow::endDrawPause() {
  if (notifier_ != nullptr) notifier_->setEnabled(true);
  readDatagrams();  // what came during the pause; draws when there was any
  if (drawPending_ && !drawPause_.isActive()) drawMonitor();
}

void MonitorWindow::drawMonitor() {
  const bool fullBackground = backgroundPending_;
  backgroundPending_ = false;
  drawPending_ = false;
  const bool wasShown = shown_;
  shown_ = true;
  if (vrSettings_.timeoutMs > 0) vrTimeout_.start(vrSettings_.timeoutMs);
  // Pedals at rest on a straight send the same values 100 times a second: the bars they would
  // draw are there already, in the window and in the overlay.
  const bool unchanged = !fullBackground && view_ == MonitorView::Bars && values_ == drawnValues_;
  if (!unchanged) {
    if (view_ == MonitorView::Trace) {
      picture_.drawTrace(trace_, mode_, fullBackground);
    } else {
      picture_.draw(values_, fullBackground);
      drawnValues_ = values_;
    }
    ++drawings_;
    update();
    vr_->pushVrPicture(picture_.image());
  }
  if (!unchanged || !wasShown) vr_->setVrOpacity(vrSettings_.opacity / 100.0f);
  if (!snapshotPath_.isEmpty()) {
    if (!savePicture(snapshotPath_)) {
      std::fprintf(stderr, "TKB_Monitor: cannot write %s\n", qPrintable(snapshotPath_));
    }
    snapshotPath_.clear();
  }
  // Until the pause ends the updates wait in the socket: one wake-up per drawing instead of
  // one per update.
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  drawPause_.start(kDrawPeriodMs);
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
