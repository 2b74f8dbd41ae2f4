#include "app/set_command.h"

#include <cstdlib>

#include "app/operations.h"
#include "link/settings.h"

namespace tkb::cli {
namespace {

// The settings tkb-cli set can write: those of the table with a sender.
bool settable(const Setting& s) { return s.send != nullptr; }

// The query that reads a field back, none when the controller cannot be asked for it.
std::optional<Query> readBackQuery(Field field) {
  switch (field) {
    case Field::Language: return Query::Language;
    case Field::ProProfileName: return Query::ProProfileName;
    case Field::SportProfileName: return Query::SportProfileName;
    default: break;
  }
  const Setting* row = findSetting(field);
  return row != nullptr ? row->query : std::nullopt;
}

// A field's value in the state as tkb-cli prints it.
std::string valueText(const ControllerState& s, Field field) {
  switch (field) {
    case Field::Language: return s.language;
    case Field::ProProfileName: return "'" + profileNameText(s.proProfileName) + "'";
    case Field::SportProfileName: return "'" + profileNameText(s.sportProfileName) + "'";
    default: break;
  }
  const Setting* row = findSetting(field);
  if (row == nullptr || !row->curve) return std::to_string(settingValue(s, field));
  std::string text;
  for (int point : curveOf(s, field)) text += (text.empty() ? "" : " ") + std::to_string(point);
  return text;
}

}  // namespace

bool parseInt(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

std::string settableFields() {
  std::string fields = "language NAME, proProfileName TEXT, sportProfileName TEXT";
  for (const Setting& s : settingsTable())
    if (settable(s)) fields += std::string(", ") + s.name + (s.curve ? " V0..V10" : " N");
  return fields;
}

namespace {

// One field of "set" and its values against the settings table: the action, or why not
// on io.err (exit 2).
std::optional<SetAction> parseSetField(const std::string& name, const std::vector<std::string>& values,
                                       const Io& io) {
  if (name == "language") {
    ControllerState probe;
    if (values.size() != 1 || !setLanguage(probe, values[0])) {
      commandMessage(io, "tkb-cli set language: expected one of English, Spanish, Italian, French, German, Portuguese");
      return std::nullopt;
    }
    return SetAction{Field::Language, name, [v = values[0]](Controller& c) {
                       setLanguage(c.state, v);
                       c.MandarDatosIdioma();
                     }};
  }
  if (name == "proProfileName" || name == "sportProfileName") {
    if (values.size() != 1 || values[0].size() > kProfileNameBytes) {
      commandMessage(io, "tkb-cli set %s: expected one name of at most %d bytes", name.c_str(), kProfileNameBytes);
      return std::nullopt;
    }
    const Field field = name == "proProfileName" ? Field::ProProfileName : Field::SportProfileName;
    return SetAction{field, name, [field, v = values[0]](Controller& c) {
                       setProfileName(c.state, field, makeProfileName(v));
                       field == Field::ProProfileName ? c.MandarPerfilPro() : c.MandarPerfilSport();
                     }};
  }
  const Setting* setting = findSetting(name);
  if (setting == nullptr || !settable(*setting)) {
    commandMessage(io, "tkb-cli set: unknown field '%s'", name.c_str());
    return std::nullopt;
  }
  const int count = setting->curve ? kCurvePoints : 1;
  if (static_cast<int>(values.size()) != count) {
    commandMessage(io, "tkb-cli set %s: expected %d value%s, got %zu", setting->name, count, count > 1 ? "s" : "",
                   values.size());
    return std::nullopt;
  }
  Curve numbers{};
  for (int i = 0; i < count; ++i) {
    int v = 0;
    if (!parseInt(values[i].c_str(), v) || v < setting->min || v > setting->max) {
      commandMessage(io, "tkb-cli set %s: '%s' is not a whole number from %d to %d", setting->name,
                     values[i].c_str(), setting->min, setting->max);
      return std::nullopt;
    }
    numbers[i] = v;
  }
  if (setting->curve && !curveAllowed(numbers)) {
    commandMessage(io, "tkb-cli set %s: a curve starts at 0, ends at 100 and rises at every point", setting->name);
    return std::nullopt;
  }
  return SetAction{setting->field, name, [setting, numbers](Controller& c) {
                     Operations operations(c);
                     setting->curve ? operations.set(*setting, numbers) : operations.set(*setting, numbers[0]);
                   }};
}

// A name (language, profile name) takes exactly one word, since a profile may be named like
// a field.
bool takesOneWord(const std::string& name) {
  return name == "language" || name == "proProfileName" || name == "sportProfileName";
}
bool isFieldName(const std::string& word) {
  const Setting* setting = findSetting(word);
  return takesOneWord(word) || (setting != nullptr && settable(*setting));
}

}  // namespace

std::optional<std::vector<SetAction>> parseSet(const std::vector<std::string>& args, const Io& io) {
  if (args.empty()) {
    commandMessage(io, "tkb-cli set: missing FIELD");
    return std::nullopt;
  }
  std::vector<SetAction> actions;
  for (std::size_t i = 0; i < args.size();) {
    const std::string& name = args[i++];
    std::vector<std::string> values;
    if (takesOneWord(name)) {
      if (i < args.size()) values.push_back(args[i++]);
    } else {
      while (i < args.size() && !isFieldName(args[i])) values.push_back(args[i++]);
    }
    auto action = parseSetField(name, values, io);
    if (!action) return std::nullopt;
    actions.push_back(std::move(*action));
  }
  return actions;
}

namespace {

int runOne(Host& host, Controller& controller, const SetAction& set, const Io& io) {
  const char* name = set.name.c_str();
  const int failedBefore = controller.failedWrites();
  set.run(controller);
  const std::optional<Query> query = readBackQuery(set.field);
  if (controller.failedWrites() != failedBefore || !query) {
    host.settingSent(set.field);
    if (controller.failedWrites() == failedBefore) commandMessage(io, "tkb-cli set %s: sent; the controller cannot be asked", name);
    return 0;
  }
  // The controller never acknowledges a command: only its answer to the query tells what it
  // took. The read-back's answer is what the state (and the window) holds from now on.
  const std::string sent = valueText(controller.state, set.field);
  controller.beginAction();
  const QueryResult result = controller.ask(*query);
  host.settingSent(set.field);
  if (result != QueryResult::Accepted) {
    commandMessage(io, "tkb-cli set %s: sent, but the controller did not answer when asked for it (%02X %s)", name,
                   querySpec(*query).request, queryResultName(result));
    return kExitNotAnswering;
  }
  const std::string held = valueText(controller.state, set.field);
  if (held != sent) {
    commandMessage(io, "tkb-cli set %s: sent %s, but the controller holds %s", name, sent.c_str(), held.c_str());
    return kExitOtherValue;
  }
  return 0;
}

}  // namespace

int runSet(Host& host, Controller& controller, const std::vector<SetAction>& actions, const Io& io) {
  // In the order given; the first field the controller did not take decides the status.
  int status = 0;
  for (const SetAction& set : actions) {
    const int one = runOne(host, controller, set, io);
    if (status == 0) status = one;
  }
  return status;
}

}  // namespace tkb::cli
