// The profile loader on any file: the sport load and the PRO load read it into the state and
// the pages (the controller link is closed, so the frames go nowhere). Any file a driver may
// pick in the dialog, damaged or made by hand, must load without a fault.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/profiles.h"
#include "link/trace.h"

namespace {

std::string profilePath;

class GivenFile : public tkb::ProfileFileChooser {
 public:
  std::optional<std::string> choose(const tkb::FileDialogRequest&) override { return profilePath; }
};

class NoPages : public tkb::ProfilePages {
 public:
  void setProfileLabel(const std::string&) override {}
  void showLoad(tkb::ProfileKind, bool) override {}
  tkb::Curve chartPoints(tkb::Pedal) const override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkb::setTraceEnabled(false);
  std::string folder = (std::filesystem::temp_directory_path() / "tkb-fuzz-profile-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return 1;
  profilePath = folder + "/fuzzed.tks";
  std::atexit([] { std::filesystem::remove_all(std::filesystem::path(profilePath).parent_path()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(profilePath.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  tkb::Controller controller;
  GivenFile chooser;
  NoPages pages;
  tkb::Profiles profiles(controller, chooser, pages);
  profiles.CargarPerfilSport();
  profiles.CargarPerfilPro();
  return 0;
}
