// The recorded pedal inputs of tests/data/pedal_traces/: CSV files as tkb-cli record writes
// them (time in ms, the four raw axes, the three percentages), each named after what it shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/pedal_input.h"

namespace tkb::test {

struct TraceRow {
  double timeMs = 0;
  PedalAxes axes;
  float throttlePercent = 0, brakePercent = 0, clutchPercent = 0;
};

// Parses rows of the record format; a line that is not one fails the test.
inline std::vector<TraceRow> parseTraceRows(const std::string& text) {
  std::vector<TraceRow> rows;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    TraceRow r;
    int a1, a2, a3, a4;
    if (std::sscanf(line.c_str(), "%lf,%d,%d,%d,%d,%f,%f,%f", &r.timeMs, &a1, &a2, &a3, &a4, &r.throttlePercent,
                    &r.brakePercent, &r.clutchPercent) != 8) {
      ADD_FAILURE() << "not a row: " << line;
      continue;
    }
    for (int raw : {a1, a2, a3, a4})
      if (raw < -32768 || raw > 32767) ADD_FAILURE() << "not a 16-bit axis: " << line;
    r.axes = {static_cast<int16_t>(a1), static_cast<int16_t>(a2), static_cast<int16_t>(a3), static_cast<int16_t>(a4)};
    rows.push_back(r);
  }
  return rows;
}

inline std::vector<TraceRow> readTrace(const std::string& name) {
  const char* data = std::getenv("TKB_TEST_DATA");
  std::ifstream in(std::string(data != nullptr ? data : "tests/data") + "/pedal_traces/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::ostringstream text;
  text << in.rdbuf();
  return parseTraceRows(text.str());
}

}  // namespace tkb::test
