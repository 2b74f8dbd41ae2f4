#include "ui/control_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>

#include "link/trace.h"

namespace tkb::ui {

namespace {
// A reply the client does not take within this time is dropped: the window never waits
// on a client that stopped reading.
constexpr int kReplyWaitMs = 2000;
// A request that came while a command runs is taken up again after this pause.
constexpr int kBusyRetryMs = 20;
// Connections served at once; the rest wait in the listener's queue. And the pause before
// accepting again when full or out of descriptors.
constexpr std::size_t kMostConnections = 256;
constexpr int kAcceptPauseMs = 100;
}  // namespace

class ControlServer::Connection {
 public:
  Connection(ControlServer& server, int fd)
      : fd(fd), reader(control::kMaxRequestBytes), notifier(fd, QSocketNotifier::Read) {
    QObject::connect(&notifier, &QSocketNotifier::activated, &server, [this, &server] { readSome(server); });
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &server, [this, &server] {
      if (!request) server.drop(this);
    });
    deadline.start(server.requestWaitMs_);
  }
  ~Connection() { ::close(fd); }

  void readSome(ControlServer& server) {
    std::uint8_t buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return server.drop(this);  // gone before its request was whole
      if (reader.feed(buffer, static_cast<std::size_t>(n)) == control::MessageReader::Status::Malformed)
        return server.drop(this);
      if (reader.status() == control::MessageReader::Status::Complete) {
        notifier.setEnabled(false);
        request = control::decodeRequest(reader.payload().data(), reader.payload().size());
        if (!request) return server.drop(this);
        deadline.stop();
        waiting.start();
        return server.handle(this);
      }
    }
  }

  int fd;
  control::MessageReader reader;
  QSocketNotifier notifier;
  QTimer deadline;
  QElapsedTimer waiting;  // since the request was whole
  std::optional<control::Request> request;
};

ControlServer::ControlServer(const control::InstanceLock& lock, std::string folder, uid_t expectedUid,
                             QObject* parent)
    : QObject(parent), lock_(lock), listener_(std::move(folder), expectedUid) {}

ControlServer::~ControlServer() = default;

bool ControlServer::listen() {
  if (!listener_.listen(lock_)) return false;
  listening_ = new QSocketNotifier(listener_.fd(), QSocketNotifier::Read, this);
  connect(listening_, &QSocketNotifier::activated, this, [this] { acceptAll(); });
  return true;
}

void ControlServer::acceptAll() {
  while (connections_.size() < kMostConnections) {
    const int fd = listener_.accept();
    if (fd >= 0) {
      connections_.push_back(std::make_unique<Connection>(*this, fd));
      continue;
    }
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) return;
    break;  // out of descriptors: the waiting connection stays readable
  }
  // Full, or out of descriptors: the listener would wake us at once again and again. The
  // callers wait in the queue meanwhile (tkb-cli keeps trying while the program holds its lock).
  listening_->setEnabled(false);
  QTimer::singleShot(kAcceptPauseMs, this, [this] { listening_->setEnabled(true); });
}

void ControlServer::drop(Connection* connection) {
  // Not deleted under its own notifier's or timer's signal: later, from the event loop.
  connection->notifier.setEnabled(false);
  connection->deadline.stop();
  QTimer::singleShot(0, this, [this, connection] {
    std::erase_if(connections_, [connection](const auto& c) { return c.get() == connection; });
  });
}

void ControlServer::handle(Connection* connection) {
  if (const auto* activate = std::get_if<control::ActivateRequest>(&*connection->request)) {
    trace("\nControl: activate");
    if (activate_) activate_(*activate);
    control::writeMessage(connection->fd, control::encodeReply({}), kReplyWaitMs);
    return drop(connection);
  }
  if (!command_) return drop(connection);
  const QWidget* modal = QApplication::activeModalWidget();
  if (!busy_ && modal != nullptr && connection->waiting.elapsed() >= modalWaitMs_) {
    // Nobody may be at the window to answer it (a box shown at start-up, a dialog left
    // open): the caller hears why now, instead of waiting on for its own time-out.
    control::Reply reply;
    reply.status = 1;
    reply.err = "tkb-cli: TKB-Tunedeck waits for an answer in its window (\"" + modal->windowTitle().toStdString() +
                "\"): answer it, then run the command again\n";
    trace("\nControl: command refused while a dialog waits");
    control::writeMessage(connection->fd, control::encodeReply(reply), kReplyWaitMs);
    return drop(connection);
  }
  if (busy_ || modal != nullptr) {
    // One command at a time, and none while a modal dialog or box waits for the driver (its
    // own event loop runs this): the page's operation behind it is not finished yet.
    QTimer::singleShot(kBusyRetryMs, this, [this, connection] {
      if (std::any_of(connections_.begin(), connections_.end(),
                      [connection](const auto& c) { return c.get() == connection; }))
        handle(connection);
    });
    return;
  }
  busy_ = true;
  auto& command = std::get<control::CommandRequest>(*connection->request);
  command.peerPid = control::peerPid(connection->fd);
  QPointer<ControlServer> server(this);
  command_(command, [server, connection](control::Reply reply) {
    if (!server) return;  // the program is ending
    server->busy_ = false;
    control::writeMessage(connection->fd, control::encodeReply(reply), kReplyWaitMs);
    server->drop(connection);
  });
}

}  // namespace tkb::ui
