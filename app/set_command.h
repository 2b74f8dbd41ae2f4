// tkb-cli set: the arguments checked against the settings table, the frame sent, and the
// field read back with its query where the controller can be asked for it, so that the exit
// status says whether the controller holds the value. Part of tkb-cli's commands
// (app/commands), run by tkb-cli on its own and by the running program alike.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"

namespace tkb::cli {

struct SetAction {
  Field field = Field::Language;
  std::string name;  // as tkb-cli names the field
  std::function<void(Controller&)> run;
};

// The actions of "set FIELD VALUE... [FIELD VALUE...]" (each field takes the values up to
// the next field name; every field is checked before anything is sent), or nothing after
// saying why on io.err (exit 2).
std::optional<std::vector<SetAction>> parseSet(const std::vector<std::string>& args, const Io& io);

// Sends each field in order and reads it back. 0 when the controller holds every value (or
// cannot be asked for one: said on io.err), kExitNotAnswering when a read-back got no answer
// (the query named), kExitOtherValue when it holds another value (both named); the first
// field that failed decides. A frame that could not be written is not read back: the caller
// reports it.
int runSet(Host& host, Controller& controller, const std::vector<SetAction>& actions, const Io& io);

// The names tkb-cli set takes, with what each wants, for the usage text.
std::string settableFields();

}  // namespace tkb::cli
