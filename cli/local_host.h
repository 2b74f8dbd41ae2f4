// tkb-cli on its own: the host that probes the ports and opens the controller itself, with
// the two commands that need the terminal (the calibration guided step by step, the firmware
// update with its progress); it also runs the commands that read the pedals' joystick. Used when no TKB-Tunedeck holds the pedals.
#pragma once

#include "app/commands.h"

namespace tkb::cli {

// tkb-cli on its own: probes the ports and opens the controller.
class LocalHost : public Host {
 public:
  Controller* connect(int passes, int& result, std::string& oldPort, const Io& io) override;
  void release() override { controller_.closeLink(); }
  ReadReport prepareProfile() override;
  int withProfiles(const Io& io, const std::function<int(Profiles&)>& run) override;
  std::string baseFolder(const Io& io) override;
  int calibrate(int passes, const Io& io) override;
  int firmwareUpdate(const FirmwareCommand& command, int passes, const Io& io) override;
  bool mayReadThePedals() const override { return true; }
  // The running program when one listens (it holds the port), else tkb-cli itself.
  int runCommandLine(const std::vector<std::string>& args, const std::string& workingDirectory,
                     const Io& io) override;

 private:
  Controller controller_;
};

}  // namespace tkb::cli
