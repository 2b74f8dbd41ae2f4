#include "app/startup_reads.h"

#include <array>
#include <cstdio>

#include "link/trace.h"

namespace tkb {

void ReadReport::add(const ReadReport& other) {
  failed.insert(failed.end(), other.failed.begin(), other.failed.end());
}

bool ReadReport::ask(Controller& controller, Query query) {
  const QueryResult result = controller.ask(query);
  if (result == QueryResult::Accepted) return true;
  failed.emplace_back(query, result);
  return false;
}

std::string ReadReport::describe() const {
  std::string text;
  for (const auto& [query, result] : failed) {
    char item[48];
    std::snprintf(item, sizeof item, "%s%02X %s", text.empty() ? "" : ", ", querySpec(query).request,
                  queryResultName(result));
    text += item;
  }
  return text;
}

ReadReport readStartReadings(Controller& controller) {
  ReadReport report;
  report.ask(controller, Query::StartReadings);
  return report;
}

ReadReport readModelAndColour(Controller& controller, bool sendBack) {
  ReadReport report;
  const bool model = report.ask(controller, Query::Model);
  const bool colour = report.ask(controller, Query::Color);
  if (sendBack && model) controller.MandarModelo();
  if (sendBack && colour) controller.MandarColor();
  return report;
}

ReadReport readFirmwareVersion(Controller& controller) {
  ReadReport report;
  const std::array<int, 3> before = controller.state.firmwareVersion;
  controller.state.firmwareVersion[2] = kFirmwareThirdPreset;
  if (!report.ask(controller, Query::Identify)) controller.state.firmwareVersion = before;
  return report;
}

namespace {
constexpr Query kLoadDataOrder[] = {
      Query::Language,      Query::GeneralConfig,  Query::ChetoActive,   Query::BrakeMax,
      Query::ClutchZones,   Query::BrakeZones,     Query::ThrottleZones, Query::ClutchCurve,
      Query::BrakeCurve,    Query::ThrottleCurve,  Query::LetterAbs,     Query::LetterAutoBrake,
      Query::LetterMas,     Query::LetterMenos,    Query::LetterMas2,    Query::LetterMenos2,
      Query::AutoBrake,     Query::Cheto,          Query::ProProfileName, Query::SportProfileName,
      Query::ProProfileState, Query::SportProfileState,
};
}  // namespace

ReadReport loadData(Controller& controller, UsageLog* log) {
  ReadReport report;
  // The preset is what the log shows when the controller does not say; it is never known.
  controller.state.brakeMax = kBrakeMaxPreset;
  controller.state.known.remove(Field::BrakeMax);
  trace("\nloadData - Inicio");
  for (Query q : kLoadDataOrder) report.ask(controller, q);
  if (log != nullptr) log->dataLines(controller.state);
  trace("\nloadData - Final");
  return report;
}

ReadReport readConfiguration(Controller& controller) {
  controller.beginAction();
  ReadReport report;
  for (Query q : kLoadDataOrder) report.ask(controller, q);
  for (Query q : {Query::Model, Query::Color}) report.ask(controller, q);
  return report;
}

ReadReport readControllerAtStartup(Controller& controller, UsageLog* log, bool writeBack) {
  controller.beginAction();
  ReadReport report = readStartReadings(controller);
  if (log != nullptr) log->open(controller.state);
  report.add(readModelAndColour(controller, writeBack));
  report.add(readFirmwareVersion(controller));
  report.add(loadData(controller, log));
  return report;
}

}  // namespace tkb
