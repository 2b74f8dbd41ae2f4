#include "ui/program_commands.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/commands.h"
#include "link/probe.h"
#include "ui/application.h"
#include "ui/game_profiles.h"
#include "ui/pages.h"

namespace tkb::ui {
namespace {

// The running program as tkb-cli's host: no probe (the program holds the port, the probe
// result and the firmware version), the program's profile operations and pages.
class ProgramHost : public cli::Host {
 public:
  ProgramHost(Application& app, pid_t peer) : app_(app), peer_(peer) {}

  Controller* connect(int, int& result, std::string& oldPort, const cli::Io& io) override {
    ControllerState& state = app_.controller.state;
    result = state.probeResult;
    // Searching, reading, unplugged or updating: as tkb-cli finds no controller on its own.
    const bool usable = (app_.phase() == Application::Phase::Running || app_.phase() == Application::Phase::ReadFailed) &&
                        state.connected && app_.controllerFree() && !app_.firmwareUpdating();
    if (!usable) {
      std::fprintf(io.err, "tkb-cli: no pedal controller answered (result %d)\n", result);
      return nullptr;
    }
    const auto& v = state.firmwareVersion;
    if (state.isKnown(Field::FirmwareVersion) && v[0] * 100 + v[1] < kMinimumFirmware)
      oldPort = app_.controller.portName();
    return &app_.controller;
  }

  // dump reads into a state of its own, as a direct dump after the probe would, and the
  // window keeps what it shows: a value read while the driver has not applied it is the
  // same as the state's, and a reply that fails half-way must not take the pages' values
  // (the brake limiter is preset for the read) away from them.
  void beginDump() override {
    ControllerState& state = app_.controller.state;
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
    if (saved_) app_.controller.state = *saved_;
    saved_.reset();
  }

  void settingSent(Field field) override {
    ControllerModel& model = app_.model();
    const ControllerState& state = app_.controller.state;
    emit model.settingSent(field);
    switch (field) {
      case Field::ClutchUpper: case Field::ClutchLower: case Field::BrakeUpper: case Field::BrakeLower:
      case Field::ThrottleUpper: case Field::ThrottleLower: case Field::BrakeMax:
        model.showBands();
        break;
      case Field::Cheto: case Field::ChetoActive: emit model.modeChanged(); break;
      case Field::ClutchCurve: case Field::BrakeCurve: case Field::ThrottleCurve: emit model.curvesChanged(); break;
      case Field::LetterAbs: case Field::LetterAutoBrake: case Field::LetterMas: case Field::LetterMenos:
      case Field::LetterMas2: case Field::LetterMenos2:
        emit model.lettersChanged();
        break;
      case Field::AutoBrake: emit model.autoBrakeChanged(state.autoBrake != 0); break;
      case Field::Language:
        if (const auto index = app_.languageIndex()) app_.labels().apply(*index);
        break;
      case Field::Model: case Field::Color:
        if (app_.phase() == Application::Phase::Running) app_.mainPage().showReadSettings();
        break;
      case Field::ProProfileName: case Field::SportProfileName: emit model.profileChanged(); break;
      default: break;
    }
  }

  // The program holds the state the pages show: the saves write it (the curves from the
  // CUSTOM page's charts), the loads start from it.
  ReadReport prepareProfile() override { return {}; }
  int withProfiles(const std::string& path, const cli::Io& io, const std::function<int(Profiles&)>& run) override {
    PageProfiles& pageProfiles = app_.pages().profiles;
    pageProfiles.answerNextDialog(path);
    app_.model().setProfileLabelTap([out = io.out](const std::string& text) { std::fprintf(out, "%s\n", text.c_str()); });
    const int status = run(pageProfiles.profiles());
    app_.model().setProfileLabelTap({});
    pageProfiles.answerNextDialog(std::nullopt);
    return status;
  }

  std::string currentProfileName() override { return app_.pages().profiles.profiles().currentProfileName(); }
  // The game switcher stays idle from the snapshot of a run to its restore.
  void snapshotTaken() override {
    if (app_.games() != nullptr && peer_ > 0) app_.games()->hold(peer_, app_.pages().profiles.profiles().baseline());
  }
  bool restoreSnapshot(Controller& controller, const ProfileSnapshot& snapshot) override {
    const bool ok = cli::Host::restoreSnapshot(controller, snapshot);
    Profiles& profiles = app_.pages().profiles.profiles();
    profiles.setCurrentProfileName(snapshot.currentProfileName());
    // The edits that were pending before the run are pending again, and only those.
    if (app_.games() != nullptr) {
      if (const auto baseline = app_.games()->release()) profiles.baseline() = *baseline;
    }
    app_.showProfileInForce();
    return ok;
  }

  std::string baseFolder(const cli::Io&) override {
    if (!app_.basePath().empty()) return app_.basePath();
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
  }
  DoctorSetup doctorSetup() override { return app_.doctorSetup(); }

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
  Application& app_;
  pid_t peer_ = 0;
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

}  // namespace

namespace {

// set and the profile commands send (or, for a snapshot, take what must be sent back
// later): none of them may land while the calibration wizard has the zones off and points
// half taken.
bool sendsSettings(const std::vector<std::string>& arguments) {
  const std::size_t first = cli::commandIndex(arguments);
  return first < arguments.size() && (arguments[first] == "set" || arguments[first] == "profile");
}

}  // namespace

control::Reply runProgramCommand(Application& app, const control::CommandRequest& request) {
  const CalibrationWizard& wizard = app.pages().pro->wizard();
  if (app.phase() == Application::Phase::Running && (wizard.pending() || wizard.count() > 0) &&
      sendsSettings(request.arguments)) {
    control::Reply reply;
    reply.status = cli::kExitNoController;
    reply.err = "tkb-cli: TKB-Tunedeck is calibrating the pedals: finish or cancel the calibration in its "
                "window, then run the command again\n";
    return reply;
  }
  MemoryStream out, err;
  ProgramHost host(app, request.peerPid);
  control::Reply reply;
  {
    const Application::Action action(app);
    reply.status = cli::runCommand(request.arguments, host, request.workingDirectory, {out.file(), err.file()});
  }
  reply.out = out.take();
  reply.err = err.take();
  return reply;
}

}  // namespace tkb::ui
