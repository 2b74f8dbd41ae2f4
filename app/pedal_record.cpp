#include "app/pedal_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/pedal_readout.h"

namespace tkb {
namespace {

// Rows go to the disk in pieces of about this size: a few a second at the pedals' rate.
constexpr std::size_t kFlushBytes = 32 * 1024;

float recordPercent(int16_t raw) { return std::clamp(proPercent(raw), 0.0f, 100.0f); }

}  // namespace

std::size_t formatRecordRow(char* out, double timeMs, const PedalAxes& axes) {
  const int n = std::snprintf(out, kPedalRecordRowMax, "%.3f,%d,%d,%d,%d,%.2f,%.2f,%.2f\n", timeMs, axes.axis1,
                              axes.axis2, axes.axis3, axes.axis4, recordPercent(axes.axis1),
                              recordPercent(axes.axis2), recordPercent(axes.axis3));
  return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), kPedalRecordRowMax - 1);
}

bool PedalRecordWriter::open(const std::string& path, std::string& error) {
  rows_ = 0;
  buffer_.clear();
  buffer_.reserve(kFlushBytes + kPedalRecordRowMax);
  switch (file_.begin(path)) {
    case ReplaceResult::Replaced: break;
    case ReplaceResult::ReadOnly: error = "the file is read-only"; return false;
    case ReplaceResult::Failed: error = std::strerror(errno != 0 ? errno : EIO); return false;
  }
  buffer_ = kPedalRecordHeader;
  return true;
}

bool PedalRecordWriter::add(double timeMs, const PedalAxes& axes) {
  if (!file_.active()) return false;
  char row[kPedalRecordRowMax];
  buffer_.append(row, formatRecordRow(row, timeMs, axes));
  ++rows_;
  return buffer_.size() < kFlushBytes || flush();
}

bool PedalRecordWriter::flush() {
  const bool ok = file_.write(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool PedalRecordWriter::finish(std::string& error) {
  if (!file_.active()) {
    error = "the recording was not started";
    return false;
  }
  errno = 0;
  if (!flush()) {
    error = std::strerror(errno != 0 ? errno : EIO);
    file_.abandon();
    return false;
  }
  if (file_.commit() != ReplaceResult::Replaced) {
    error = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace tkb
