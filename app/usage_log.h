// UsageLog and BrakeLog: the two plain-text service logs of TKB-Tunedeck. UsageLog keeps
// program runs, readings, calibrations, mode changes and pedal peaks in opt/uselog.sr0
// (one older generation in opt/uselog.sr1); BrakeLog keeps this run's brake peaks in
// brake.txt. Nothing reads them back. While a log is not open its lines are dropped. A
// controller value that was never read (see ControllerState::known) is left empty in its
// line, never written as a value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "link/controller_state.h"
#include "link/settings.h"

namespace tkb {

inline constexpr long kUsageLogLimitBytes = 2'097'152;

// "[%02d/%02d/%04d - %02d:%02d:%02d]": day, month, year, hour, minute, second in UTC.
std::string logStamp(std::time_t when);

class UsageLog {
 public:
  explicit UsageLog(std::string basePath);
  ~UsageLog();
  UsageLog(const UsageLog&) = delete;
  UsageLog& operator=(const UsageLog&) = delete;

  // Tests fix the clock.
  void setClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

  // Start-up with a controller: rotation check, uselog.sr0 opened for appending with its
  // start lines ([Inicio], [Estado]), brake.txt created anew with its start lines.
  void open(const ControllerState& state);
  void close();
  bool isOpen() const { return usage_ != nullptr; }

  std::string usagePath() const { return base_ + "/opt/uselog.sr0"; }
  std::string previousUsagePath() const { return base_ + "/opt/uselog.sr1"; }
  std::string brakePath() const { return base_ + "/brake.txt"; }

  // The lines, each with the time taken when the line is written unless stated.
  void dataLines(const ControllerState& state);  // end of loadData: 4 lines, one time
  void modeLine(bool proMode);
  // The mode the general configuration holds; empty while it was not read.
  void modeLine(const ControllerState& state);
  void calibrationStarted();
  // The readings after the save and "Calibración guardada", both with one time.
  void calibrationSaved(const PedalReadings& readings);
  void calibrationCancelled();
  void pressPeak(Pedal pedal, const std::string& peakText);  // brake also goes to brake.txt
  void setAbs(int point);                                       // both logs

 private:
  void rotateIfNeeded();
  void usageLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void brakeLine(const char* format, ...) __attribute__((format(printf, 2, 3)));

  std::string base_;
  std::FILE* usage_ = nullptr;
  std::FILE* brake_ = nullptr;
  std::function<std::time_t()> clock_;
};

}  // namespace tkb
