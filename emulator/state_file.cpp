// The emulated EEPROM between runs (tkb-pedal-emulator --state FILE).
#include "emulator/pedal_emulator.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tkb::emu {
// The state file: one "key=value" line per field; curves and names as lists.
namespace {

void putCurve(std::ostream& out, const char* key, const Curve& c) {
  out << key << '=';
  for (int i = 0; i < kCurvePoints; ++i) out << (i ? "," : "") << c[i];
  out << '\n';
}

bool getCurve(const std::string& text, Curve& c) {
  std::istringstream in(text);
  Curve parsed{};
  for (int i = 0; i < kCurvePoints; ++i) {
    if (!(in >> parsed[i])) return false;
    if (i + 1 < kCurvePoints && in.get() != ',') return false;
  }
  c = parsed;
  return true;
}

std::string nameText(const ProfileName& n) { return profileNameText(n); }

}  // namespace

bool PedalEmulator::saveState(const std::string& path) const {
  const FirmwareState s = state();
  std::ostringstream out;
  out << "version=" << s.versionMajor << '.' << s.versionMinor << '.' << s.versionThird << '\n'
      << "modelReply=" << int(s.modelReply) << '\n'
      << "language=" << int(s.languageCode) << '\n'
      << "configFlags=" << int(s.configFlags) << '\n'
      << "brakeMax=" << int(s.brakeMax) << '\n'
      << "zones=" << s.storedZones.clutchUpper << ',' << s.storedZones.clutchLower << ','
      << s.storedZones.brakeUpper << ',' << s.storedZones.brakeLower << ','
      << s.storedZones.throttleUpper << ',' << s.storedZones.throttleLower << '\n'
      << "letters=" << int(s.letterAbs) << ',' << int(s.letterAutoBrake) << ','
      << int(s.letterMas) << ',' << int(s.letterMenos) << ',' << int(s.letterMas2) << ','
      << int(s.letterMenos2) << '\n'
      << "autoBrake=" << int(s.autoBrake) << '\n'
      << "cheto=" << int(s.cheto) << ',' << int(s.chetoActive) << '\n'
      << "proProfileName=" << nameText(s.proProfileName) << '\n'
      << "sportProfileName=" << nameText(s.sportProfileName) << '\n'
      << "model=" << int(s.model) << ',' << int(s.color) << '\n';
  putCurve(out, "clutchCurve", s.storedCurves.clutch);
  putCurve(out, "brakeCurve", s.storedCurves.brake);
  putCurve(out, "throttleCurve", s.storedCurves.throttle);

  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << out.str();
    if (!file.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool PedalEmulator::loadState(const std::string& path, FirmwareState& s) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    std::vector<int> n;
    {
      std::string item;
      std::istringstream in(value);
      while (std::getline(in, item, key == "version" ? '.' : ','))
        n.push_back(std::atoi(item.c_str()));
    }
    auto has = [&](size_t count) { return n.size() >= count; };
    if (key == "version" && has(3)) {
      s.versionMajor = n[0]; s.versionMinor = n[1]; s.versionThird = n[2];
    } else if (key == "modelReply" && has(1)) {
      s.modelReply = static_cast<uint8_t>(n[0]);
    } else if (key == "language" && has(1)) {
      s.languageCode = static_cast<uint8_t>(n[0]);
    } else if (key == "configFlags" && has(1)) {
      s.configFlags = static_cast<uint8_t>(n[0]);
    } else if (key == "brakeMax" && has(1)) {
      s.brakeMax = static_cast<int8_t>(n[0]);
    } else if (key == "zones" && has(6)) {
      s.storedZones = ZoneSet{n[0], n[1], n[2], n[3], n[4], n[5]};
      s.zones = s.storedZones;  // a power cycle brings back what was stored
    } else if (key == "letters" && has(6)) {
      s.letterAbs = uint8_t(n[0]); s.letterAutoBrake = uint8_t(n[1]); s.letterMas = uint8_t(n[2]);
      s.letterMenos = uint8_t(n[3]); s.letterMas2 = uint8_t(n[4]); s.letterMenos2 = uint8_t(n[5]);
    } else if (key == "autoBrake" && has(1)) {
      s.autoBrake = static_cast<int8_t>(n[0]);
    } else if (key == "cheto" && has(2)) {
      s.cheto = static_cast<int8_t>(n[0]); s.chetoActive = static_cast<int8_t>(n[1]);
    } else if (key == "proProfileName") {
      s.proProfileName = makeProfileName(value);
    } else if (key == "sportProfileName") {
      s.sportProfileName = makeProfileName(value);
    } else if (key == "model" && has(2)) {
      s.model = uint8_t(n[0]); s.color = uint8_t(n[1]);
    } else if (key == "clutchCurve" && getCurve(value, s.storedCurves.clutch)) {
      s.curves.clutch = s.storedCurves.clutch;
    } else if (key == "brakeCurve" && getCurve(value, s.storedCurves.brake)) {
      s.curves.brake = s.storedCurves.brake;
    } else if (key == "throttleCurve" && getCurve(value, s.storedCurves.throttle)) {
      s.curves.throttle = s.storedCurves.throttle;
    }
  }
  return true;
}

}  // namespace tkb::emu
