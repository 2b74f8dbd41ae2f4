#include "app/startup_reads.h"

#include "link/trace.h"

namespace tkb {

void readStartReadings(Controller& controller) { controller.query(Query::StartReadings); }

void readModelAndColour(Controller& controller) {
  controller.query(Query::Model);
  controller.query(Query::Color);
  controller.MandarModelo();
  controller.MandarColor();
}

void readFirmwareVersion(Controller& controller) {
  controller.state.firmwareVersion[2] = kFirmwareThirdPreset;
  controller.query(Query::Identify);
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

void loadData(Controller& controller, UsageLog* log) {
  trace("\nloadData - Inicio");
  for (Query q : kLoadDataOrder) controller.query(q);
  if (log != nullptr) log->dataLines(controller.state);
  trace("\nloadData - Final");
}

bool readConfiguration(Controller& controller) {
  bool all = true;
  for (Query q : kLoadDataOrder) all = controller.query(q) && all;
  for (Query q : {Query::Model, Query::Color}) all = controller.query(q) && all;
  return all;
}

void readControllerAtStartup(Controller& controller, UsageLog* log) {
  readStartReadings(controller);
  if (log != nullptr) log->open(controller.state);
  readModelAndColour(controller);
  readFirmwareVersion(controller);
  controller.state.brakeMax = kBrakeMaxPreset;
  loadData(controller, log);
}

}  // namespace tkb
