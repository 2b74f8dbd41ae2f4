#include "app/profile_snapshot.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "app/profiles.h"
#include "link/controller.h"
#include "link/trace.h"

namespace tkb {
namespace {

constexpr std::string_view kSnapshotHeader = "tkb-snapshot/1";
// The text keys of the two controller names and of the program's current profile name.
constexpr const char* kProName = "proProfileName";
constexpr const char* kSportName = "sportProfileName";
constexpr const char* kCurrentName = "profile";
constexpr Field kModeFields[] = {Field::SportProfileActive, Field::ZonesEnabled};

// The one-value and curve rows of the snapshot, in the settings table's order.
std::vector<const Setting*> snapshotRows() {
  std::vector<const Setting*> rows;
  const FieldSet fields = snapshotFields();
  for (const Setting& row : settingsTable())
    if (fields.has(row.field)) rows.push_back(&row);
  return rows;
}

bool sameValue(const ControllerState& a, const ControllerState& b, const Setting& row) {
  return row.curve ? curveOf(a, row.field) == curveOf(b, row.field) : row.get(a) == row.get(b);
}

// Printable ASCII but the separators of the encoding stays as it is; every other byte is %XX.
bool plainByte(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%' && c != '=' && c != ','; }

std::string escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (plainByte(c)) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of an escaped value; none for a broken escape, a byte that should have been
// escaped, or a control byte (names never hold one).
std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<unsigned char>(high * 16 + low);
      if (plainByte(c)) return std::nullopt;  // one text, one encoding
      i += 2;
    } else if (!plainByte(c)) {
      return std::nullopt;
    }
    if (c < 0x20 || c == 0x7F) return std::nullopt;
    out += static_cast<char>(c);
  }
  return out;
}

// Plain decimal: an optional '-', one to four digits, no leading zero. Every value of a
// snapshot fits in 0..100 or in 16 bits.
std::optional<int> decimal(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::optional<Curve> curveText(std::string_view text) {
  Curve curve{};
  for (int point = 0; point < kCurvePoints; ++point) {
    const size_t comma = text.find(',');
    const bool last = point == kCurvePoints - 1;
    if (last != (comma == std::string_view::npos)) return std::nullopt;
    const auto value = decimal(text.substr(0, comma));
    if (!value) return std::nullopt;
    curve[point] = *value;
    text = last ? std::string_view() : text.substr(comma + 1);
  }
  return curve;
}

}  // namespace

FieldSet snapshotFields() {
  FieldSet fields = profileFields(ProfileKind::Sport);
  for (Field f : kModeFields) fields.add(f);
  fields.add(Field::ProProfileName);
  fields.add(Field::SportProfileName);
  return fields;
}

std::optional<ProfileSnapshot> ProfileSnapshot::capture(const ControllerState& state,
                                                        std::string currentProfileName) {
  if (!state.known.hasAll(snapshotFields())) return std::nullopt;
  ProfileSnapshot snapshot;
  ControllerState& v = snapshot.values_;
  for (const Setting* row : snapshotRows()) {
    if (row->curve) {
      curveOf(v, row->field) = curveOf(state, row->field);
    } else {
      row->put(v, row->get(state));
      if (row->field == Field::Cheto) v.chetoActive = state.cheto != kBrakeStopInactive ? 1 : 0;
    }
  }
  v.proProfileName = makeProfileName(profileNameText(state.proProfileName));
  v.sportProfileName = makeProfileName(profileNameText(state.sportProfileName));
  v.known = snapshotFields();
  snapshot.currentProfileName_ = std::move(currentProfileName);
  return snapshot;
}

bool ProfileSnapshot::restore(Operations& operations) const {
  Controller& c = operations.controller();
  if (c.linkState() == LinkState::Disconnected) {
    trace("\nSnapshot not restored: the pedals are disconnected");
    return false;
  }
  const int failedBefore = c.failedWrites();
  ControllerState& s = c.state;
  const ControllerState& v = values_;
  setSetting(s, Field::BrakeMax, v.brakeMax);
  operations.setAutoBrake(v.autoBrake != 0);
  for (Pedal pedal : kPedals) {
    operations.setZone(ZonePage::Pro, pedal, true, zoneValue(v, pedal, true));
    operations.setZone(ZonePage::Pro, pedal, false, zoneValue(v, pedal, false));
  }
  setSetting(s, Field::Cheto, v.cheto);
  findSetting(Field::Cheto)->send(c);
  setProfileName(s, Field::ProProfileName, v.proProfileName);
  setProfileName(s, Field::SportProfileName, v.sportProfileName);
  c.MandarPerfilPro();
  c.MandarPerfilSport();
  c.SetPerfilSport();
  c.SetPerfilPro();
  for (Field f : kModeFields) {
    setSetting(s, f, settingValue(v, f));
    findSetting(f)->send(c);
  }
  for (Pedal pedal : kPedals) {
    const Setting& row = curveSetting(pedal);
    curveOf(s, row.field) = curveOf(v, row.field);
    s.markKnown(row.field);
    row.send(c);
  }
  // The controller never acknowledges a command: its mode, read back, tells whether it
  // still listens and took the flags.
  const bool answered = c.query(Query::GeneralConfig);
  const bool modeKept = answered && s.sportProfileActive == v.sportProfileActive && s.zonesEnabled == v.zonesEnabled;
  const bool ok = modeKept && c.failedWrites() == failedBefore;
  if (!ok) trace("\nSnapshot not restored: the controller %s", answered ? "did not take it" : "stopped answering");
  return ok;
}

std::string ProfileSnapshot::encode() const {
  std::string out(kSnapshotHeader);
  for (const Setting* row : snapshotRows()) {
    out += ' ';
    out += row->name;
    out += '=';
    if (row->curve) {
      const Curve& curve = curveOf(values_, row->field);
      for (int point = 0; point < kCurvePoints; ++point) {
        if (point > 0) out += ',';
        out += std::to_string(curve[point]);
      }
    } else {
      out += std::to_string(row->get(values_));
    }
  }
  out += std::string(" ") + kProName + "=" + escaped(profileNameText(values_.proProfileName));
  out += std::string(" ") + kSportName + "=" + escaped(profileNameText(values_.sportProfileName));
  out += std::string(" ") + kCurrentName + "=" + escaped(currentProfileName_);
  return out;
}

std::optional<ProfileSnapshot> ProfileSnapshot::decode(std::string_view text) {
  const std::string_view whole = text;
  if (text.substr(0, kSnapshotHeader.size()) != kSnapshotHeader) return std::nullopt;
  text.remove_prefix(kSnapshotHeader.size());
  std::map<std::string, std::string, std::less<>> pairs;
  while (!text.empty()) {
    if (text.front() != ' ') return std::nullopt;
    text.remove_prefix(1);
    const size_t end = std::min(text.find(' '), text.size());
    const std::string_view token = text.substr(0, end);
    text.remove_prefix(end);
    const size_t equals = token.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    if (!pairs.emplace(std::string(token.substr(0, equals)), std::string(token.substr(equals + 1))).second)
      return std::nullopt;  // a key given twice
  }
  const std::vector<const Setting*> rows = snapshotRows();
  if (pairs.size() != rows.size() + 3) return std::nullopt;

  ProfileSnapshot snapshot;
  ControllerState& v = snapshot.values_;
  for (const Setting* row : rows) {
    const auto found = pairs.find(row->name);
    if (found == pairs.end()) return std::nullopt;
    if (row->curve) {
      const auto curve = curveText(found->second);
      if (!curve || !curveInRange(*curve)) return std::nullopt;
      curveOf(v, row->field) = *curve;
      v.markKnown(row->field);
    } else {
      const auto value = decimal(found->second);
      if (!value || !setSetting(v, row->field, *value)) return std::nullopt;
    }
  }
  const auto name = [&](const char* key, size_t maxBytes) -> std::optional<std::string> {
    const auto found = pairs.find(key);
    if (found == pairs.end()) return std::nullopt;
    auto text = unescaped(found->second);
    if (!text || text->size() > maxBytes) return std::nullopt;
    return text;
  };
  const auto pro = name(kProName, kProfileNameBytes);
  const auto sport = name(kSportName, kProfileNameBytes);
  const auto current = name(kCurrentName, kProfileNameMaxChars);
  if (!pro || !sport || !current) return std::nullopt;
  setProfileName(v, Field::ProProfileName, makeProfileName(*pro));
  setProfileName(v, Field::SportProfileName, makeProfileName(*sport));
  v.known = snapshotFields();  // setSetting(Cheto) also marked chetoActive, which capture leaves out
  snapshot.currentProfileName_ = *current;
  // One snapshot, one text: keys in another order, "-0" or the like are not what encode()
  // writes, and are refused like any other damage.
  if (snapshot.encode() != whole) return std::nullopt;
  return snapshot;
}

void ProfileBaseline::take(const ControllerState& state, const FieldSet& fields) {
  for (const Setting* row : snapshotRows()) {
    if (!fields.has(row->field) || !profileFields(ProfileKind::Sport).has(row->field)) continue;
    if (row->curve) {
      curveOf(values_, row->field) = curveOf(state, row->field);
    } else {
      row->put(values_, row->get(state));
    }
    if (state.isKnown(row->field)) {
      values_.markKnown(row->field);
    } else {
      values_.known.remove(row->field);
    }
  }
}

void ProfileBaseline::take(const ControllerState& state) { take(state, profileFields(ProfileKind::Sport)); }

bool ProfileBaseline::pending(const ControllerState& state) const {
  for (const Setting* row : snapshotRows()) {
    if (!profileFields(ProfileKind::Sport).has(row->field) || !state.isKnown(row->field)) continue;
    if (!values_.isKnown(row->field) || !sameValue(values_, state, *row)) return true;
  }
  return false;
}

}  // namespace tkb
