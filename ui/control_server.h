// The running program's end of the control channel (app/control_channel): a second start
// asks it to come to the front, and tkb-cli hands it its commands. Everything runs on the
// main thread from the event loop: a client is read without blocking, and one that sends
// nothing, half a request or garbage within a few seconds is dropped without a reply. A
// command is handed on and answered when its handler says it is done; one at a time.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/control_channel.h"

class QSocketNotifier;

namespace tkb::ui {

class ControlServer : public QObject {
  Q_OBJECT

 public:
  using ActivateHandler = std::function<void(const control::ActivateRequest&)>;
  // A command's reply is handed to `reply` once the command is done (later, from the event loop).
  using Reply = std::function<void(control::Reply)>;
  using CommandHandler = std::function<void(const control::CommandRequest&, Reply reply)>;

  // The lock must be held (InstanceLock::acquire) and outlive the server.
  explicit ControlServer(const control::InstanceLock& lock, std::string folder = control::controlFolder(),
                         uid_t expectedUid = ::geteuid(), QObject* parent = nullptr);
  ~ControlServer() override;

  // Binds the socket; false (problem() says why) when it cannot be made.
  bool listen();
  const std::string& problem() const { return listener_.problem(); }

  void onActivate(ActivateHandler handler) { activate_ = std::move(handler); }
  // Without a handler, commands get no reply (the caller reports the program's silence).
  void onCommand(CommandHandler handler) { command_ = std::move(handler); }
  // How long a connected client may take to send its whole request.
  void setRequestWaitMs(int ms) { requestWaitMs_ = ms; }
  // How long a command waits for an open modal dialog or box to be answered before the
  // caller is told that the window waits for the driver (exit status 1).
  void setModalWaitMs(int ms) { modalWaitMs_ = ms; }

 private:
  class Connection;
  void acceptAll();
  void handle(Connection* connection);
  void drop(Connection* connection);

  const control::InstanceLock& lock_;
  control::ControlListener listener_;
  QSocketNotifier* listening_ = nullptr;
  ActivateHandler activate_;
  CommandHandler command_;
  int requestWaitMs_ = control::kRequestWaitMs;
  int modalWaitMs_ = 10'000;
  bool busy_ = false;  // a command is running
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace tkb::ui
