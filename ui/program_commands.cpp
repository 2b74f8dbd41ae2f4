#include "ui/program_commands.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/commands.h"
#include "link/probe.h"
#include "ui/controller_model.h"
#include "ui/game_profiles.h"

namespace tkb::ui {
namespace {

// What the host takes from the window when the command is handed over (main thread).
struct ProgramView {
  bool running = false;  // the pages run on a free link
  std::string baseFolder;
  DoctorSetup doctor;
  GameProfiles* games = nullptr;
  pid_t peer = 0;
};

// The running program as tkb-cli's host, on the link thread: no probe (the program holds the
// port, the probe result and the firmware version), the session's profile operations.
class ProgramHost : public cli::Host {
 public:
  ProgramHost(ControllerModel& model, LinkSession& session, ProgramView view)
      : model_(model), session_(session), view_(std::move(view)) {}

  Controller* connect(int, int& result, std::string& oldPort, const cli::Io& io) override {
    Controller& controller = session_.controller;
    const ControllerState& state = controller.state;
    result = state.probeResult;
    // Searching, reading, unplugged or updating: as tkb-cli finds no controller on its own.
    const bool usable = view_.running && state.connected && controller.linkState() != LinkState::Disconnected;
    if (!usable) {
      std::fprintf(io.err, "tkb-cli: no pedal controller answered (result %d)\n", result);
      return nullptr;
    }
    const auto& v = state.firmwareVersion;
    if (state.isKnown(Field::FirmwareVersion) && v[0] * 100 + v[1] < kMinimumFirmware)
      oldPort = controller.portName();
    return &controller;
  }

  // dump reads into a state of its own, as a direct dump after the probe would, and the
  // window keeps what it shows: a value read while the driver has not applied it is the
  // same as the state's, and a reply that fails half-way must not take the pages' values
  // (the brake limiter is preset for the read) away from them.
  void beginDump() override {
    ControllerState& state = session_.controller.state;
    saved_ = state;
    ControllerState fresh;
    fresh.connected = state.connected;
    fresh.hasClutch = state.hasClutch;
    fresh.probeResult = state.probeResult;
    fresh.firmwareVersion = state.firmwareVersion;
    if (state.isKnown(Field::FirmwareVersion)) fresh.markKnown(Field::FirmwareVersion);
    state = fresh;
  }
  void endDump() override {
    if (saved_) session_.controller.state = *saved_;
    saved_.reset();
  }

  void settingSent(Field field) override { model_.tellSettingSent(field); }

  // The program holds the state the pages show: the saves write it (the curves from the
  // CUSTOM page's charts), the loads start from it.
  ReadReport prepareProfile() override { return {}; }
  int withProfiles(const cli::Io& io, const std::function<int(Profiles&)>& run) override {
    model_.setProfileLabelTap([out = io.out](const std::string& text) { std::fprintf(out, "%s\n", text.c_str()); });
    const int status = run(session_.profiles);
    model_.setProfileLabelTap({});
    return status;
  }

  std::string currentProfileName() override { return session_.profiles.currentProfileName(); }
  // The game switcher stays idle from the snapshot of a run to its restore.
  void snapshotTaken() override {
    if (view_.games != nullptr && view_.peer > 0) view_.games->hold(view_.peer, session_.profiles.baseline());
  }
  bool restoreSnapshot(Controller& controller, const ProfileSnapshot& snapshot) override {
    const bool ok = cli::Host::restoreSnapshot(controller, snapshot);
    Profiles& profiles = session_.profiles;
    profiles.setCurrentProfileName(snapshot.currentProfileName());
    // The edits that were pending before the run are pending again, and only those.
    if (view_.games != nullptr) {
      if (const auto baseline = view_.games->release()) profiles.baseline() = *baseline;
    }
    model_.showProfileInForce();
    return ok;
  }

  std::string baseFolder(const cli::Io&) override { return view_.baseFolder; }
  DoctorSetup doctorSetup() override { return view_.doctor; }

  // Both need the driver at the pedals and the port for the whole time: the window has them.
  int calibrate(int, const cli::Io& io) override {
    std::fprintf(io.err, "tkb-cli calibrate: TKB-Tunedeck is running and holds the pedals: calibrate them "
                         "in its window (PRO page, CALIBRATE)\n");
    return cli::kExitNoController;
  }
  int firmwareUpdate(const cli::FirmwareCommand&, int, const cli::Io& io) override {
    std::fprintf(io.err, "tkb-cli firmware update: TKB-Tunedeck is running and holds the pedals: end it "
                         "first; it updates firmware older than 7.06 itself when it starts\n");
    return cli::kExitNoController;
  }

 private:
  ControllerModel& model_;
  LinkSession& session_;
  ProgramView view_;
  std::optional<ControllerState> saved_;
};

// A stream into memory, read once closed.
class MemoryStream {
 public:
  MemoryStream() : file_(::open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() const { return file_ ? file_ : stderr; }
  std::string take() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    return data_ ? std::string(data_, size_) : std::string();
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_ = nullptr;
};

// set and the profile commands send (or, for a snapshot, take what must be sent back
// later): none of them may land while the calibration wizard has the zones off and points
// half taken.
bool sendsSettings(const std::vector<std::string>& arguments) {
  const std::size_t first = cli::commandIndex(arguments);
  return first < arguments.size() && (arguments[first] == "set" || arguments[first] == "profile");
}

std::string workingDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

}  // namespace

void runProgramCommand(ControllerModel& model, const ProgramWindow& window, const control::CommandRequest& request,
                       std::function<void(control::Reply)> done) {
  if (model.phase() == ControllerModel::Phase::Running && model.calibrationUnderWay() &&
      sendsSettings(request.arguments)) {
    control::Reply reply;
    reply.status = cli::kExitNoController;
    reply.err = "tkb-cli: TKB-Tunedeck is calibrating the pedals: finish or cancel the calibration in its "
                "window, then run the command again\n";
    return done(std::move(reply));
  }
  ProgramView view;
  view.running = (model.phase() == ControllerModel::Phase::Running ||
                  model.phase() == ControllerModel::Phase::ReadFailed) &&
                 model.linkFree();
  view.baseFolder = model.basePath().empty() ? workingDirectory() : model.basePath();
  view.doctor = window.doctor;
  view.games = window.games;
  view.peer = request.peerPid;
  auto reply = std::make_shared<control::Reply>();
  model.runAction(
      [&model, request, view, reply](LinkSession& session) {
        MemoryStream out, err;
        ProgramHost host(model, session, view);
        reply->status = cli::runCommand(request.arguments, host, request.workingDirectory, {out.file(), err.file()});
        reply->out = out.take();
        reply->err = err.take();
      },
      [reply, done = std::move(done)] { done(std::move(*reply)); });
}

}  // namespace tkb::ui
