// A pedal recording as CSV: one row per joystick report, written by tkb-cli record and by the
// trace panel's RECORD/STOP (into the profile folder's records/). The file appears whole when
// the recording ends; until then a file of that name stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/file_replace.h"
#include "link/pedal_input.h"

namespace tkb {

// The percentages are the PRO bars': ((raw + 32767) * 100 in integers) / 65534, limited to
// 0..100; the header line says so ("pct_pro").
inline constexpr const char* kPedalRecordHeader =
    "time_ms,throttle_raw,brake_raw,clutch_raw,brake_total_raw,"
    "throttle_pct_pro,brake_pct_pro,clutch_pct_pro\n";
// The longest row formatRecordRow writes, line end included.
inline constexpr std::size_t kPedalRecordRowMax = 96;

// Pure. One row: the time in milliseconds (three decimals) since the recording started, the
// four raw axes in report order (throttle, brake, clutch, brake total), then the throttle,
// brake and clutch percentages rounded to two decimals. Returns the row's length; out holds
// at least kPedalRecordRowMax bytes. Whole numbers only: a row costs well under a
// microsecond, a thousand of them a second.
std::size_t formatRecordRow(char* out, int64_t timeUs, const PedalAxes& axes);
// Pure. A percentage of the row in hundredths: the PRO bars' conversion, rounded, 0..10000.
int recordPercentHundredths(int16_t raw);

class PedalRecordWriter {
 public:
  // Starts the recording into path (the header row first). False with why in `error`.
  bool open(const std::string& path, std::string& error);
  // One report's row. Rows are buffered and written whole; false once the disk refused
  // one (the recording then cannot be finished).
  bool add(int64_t timeUs, const PedalAxes& axes);
  // Writes what is left and puts the file in place: every row complete. False with why.
  bool finish(std::string& error);
  // Drops the recording; a file of that name stays as it was.
  void abandon() { file_.abandon(); }

  long rows() const { return rows_; }
  bool isOpen() const { return file_.active(); }

 private:
  bool flush();

  StreamedReplacement file_;
  std::string buffer_;
  long rows_ = 0;
};

}  // namespace tkb
