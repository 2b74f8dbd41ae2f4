#include "app/usage_log.h"

#include <sys/stat.h>

#include <cstdarg>
#include <vector>

namespace tkb {
namespace {

// Copies a whole file byte for byte through a temporary name, so that an interrupted copy
// never leaves a half-written uselog.sr1.
bool copyFile(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return false;
  const std::string temporary = to + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  std::vector<char> buffer(64 * 1024);
  bool ok = true;
  for (;;) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, out) != n) ok = false;
    if (n < buffer.size()) break;
  }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), to.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

// A value the controller's reply gave, or nothing when that reply was never accepted: the
// log keeps its keys and tags, but an unknown value is left empty rather than written as
// the 0 the state holds until it is read.
std::string valueText(const ControllerState& s, Field field, int value) {
  return s.isKnown(field) ? std::to_string(value) : std::string();
}

const char* pedalTag(Pedal pedal) {
  switch (pedal) {
    case Pedal::Clutch: return "Embrague Max";
    case Pedal::Brake: return "Freno Max";
    case Pedal::Throttle: return "Acelerador Max";
  }
  return "";
}

}  // namespace

std::string logStamp(std::time_t when) {
  std::tm t{};
  gmtime_r(&when, &t);
  char text[64];
  std::snprintf(text, sizeof text, "[%02d/%02d/%04d - %02d:%02d:%02d]", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

UsageLog::UsageLog(std::string basePath)
    : base_(std::move(basePath)), clock_([] { return std::time(nullptr); }) {}

UsageLog::~UsageLog() { close(); }

void UsageLog::rotateIfNeeded() {
  struct stat info {};
  const long size = ::stat(usagePath().c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
  if (size <= kUsageLogLimitBytes) return;
  if (!copyFile(usagePath(), previousUsagePath())) return;  // no rotation, nothing lost
  if (std::FILE* f = std::fopen(usagePath().c_str(), "wb")) {
    std::fputs(" ", f);
    std::fclose(f);
  }
}

void UsageLog::open(const ControllerState& state) {
  close();
  rotateIfNeeded();
  usage_ = std::fopen(usagePath().c_str(), "a");
  const std::time_t now = clock_();
  const PedalReadings& start = state.startReadings;
  usageLine("%s Embrague:%s - Freno:%s - Acelerador:%s [Inicio]\n", logStamp(now).c_str(),
            valueText(state, Field::StartReadings, start.clutch).c_str(),
            valueText(state, Field::StartReadings, start.brake).c_str(),
            valueText(state, Field::StartReadings, start.throttle).c_str());
  usageLine("%s %d [Estado]\n", logStamp(now).c_str(), state.probeResult);
  brake_ = std::fopen(brakePath().c_str(), "w");
  brakeLine("%s\n", logStamp(now).c_str());
  brakeLine("Freno:%s [Inicio]\n", valueText(state, Field::StartReadings, start.brake).c_str());
}

void UsageLog::close() {
  if (usage_ != nullptr) std::fclose(usage_);
  if (brake_ != nullptr) std::fclose(brake_);
  usage_ = nullptr;
  brake_ = nullptr;
}

void UsageLog::usageLine(const char* format, ...) {
  if (usage_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(usage_, format, args);
  va_end(args);
  // One write per line keeps every line on disk even if the program is killed.
  std::fflush(usage_);
}

void UsageLog::brakeLine(const char* format, ...) {
  if (brake_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(brake_, format, args);
  va_end(args);
  std::fflush(brake_);
}

void UsageLog::dataLines(const ControllerState& s) {
  const std::string stamp = logStamp(clock_());
  const char* cheto = !s.isKnown(Field::ChetoActive) ? "" : s.chetoActive != 0 ? "ON" : "OFF";
  usageLine("%s Cheto:%s Max_freno:%s [Datos iniciales]\n", stamp.c_str(), cheto,
            valueText(s, Field::BrakeMax, s.brakeMax).c_str());
  const char* const tags[kPedalCount] = {"Embrague", "Freno", "Acelerador"};
  for (Pedal pedal : kPedals) {
    const Setting& upper = zoneSetting(pedal, true);
    const Setting& lower = zoneSetting(pedal, false);
    usageLine("%s Max:%s Min:%s [%s]\n", stamp.c_str(), valueText(s, upper.field, upper.get(s)).c_str(),
              valueText(s, lower.field, lower.get(s)).c_str(), tags[pedalIndex(pedal)]);
  }
}

void UsageLog::modeLine(bool proMode) {
  usageLine("%s Modo:%s [Modo]\n", logStamp(clock_()).c_str(), proMode ? "PRO" : "Custom");
}

void UsageLog::modeLine(const ControllerState& state) {
  if (state.isKnown(Field::SportProfileActive))
    modeLine(state.proProfileActive);
  else
    usageLine("%s Modo: [Modo]\n", logStamp(clock_()).c_str());
}

void UsageLog::calibrationStarted() {
  const std::time_t now = clock_();
  usageLine("%s Calibración inicio [Calibrado]\n", logStamp(now).c_str());
}

void UsageLog::calibrationSaved(const PedalReadings& r) {
  const std::string stamp = logStamp(clock_());
  usageLine("%s Embrague: %d - Freno: %d - Acelerador: %d [Calibrado]\n", stamp.c_str(),
            r.clutch, r.brake, r.throttle);
  usageLine("%s Calibración guardada [Calibrado]\n", stamp.c_str());
}

void UsageLog::calibrationCancelled() {
  usageLine("%s Calibración cancelada [Calibrado]\n", logStamp(clock_()).c_str());
}

void UsageLog::pressPeak(Pedal pedal, const std::string& peakText) {
  const std::time_t now = clock_();
  usageLine("%s %s [%s]\n", logStamp(now).c_str(), peakText.c_str(), pedalTag(pedal));
  if (pedal == Pedal::Brake) brakeLine("%s\n", peakText.c_str());
}

void UsageLog::setAbs(int point) {
  const std::time_t now = clock_();
  usageLine("%s %d [Set ABS]\n", logStamp(now).c_str(), point);
  brakeLine("[%d]-- Set ABS --\n", point);
}

}  // namespace tkb
