#include "app/pedal_record.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>

namespace tkb {
namespace {

// Rows go to the disk in pieces of about this size: a few a second at the pedals' rate.
constexpr std::size_t kFlushBytes = 32 * 1024;

// Whole numbers with a fixed count of decimals: "<whole>.<fraction>".
char* fixed(char* at, char* end, int64_t value, int64_t scale, int digits) {
  if (value < 0) {
    *at++ = '-';
    value = -value;
  }
  at = std::to_chars(at, end, value / scale).ptr;
  *at++ = '.';
  int64_t fraction = value % scale;
  for (int d = digits - 1; d >= 0; --d) {
    at[d] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return at + digits;
}

}  // namespace

int recordPercentHundredths(int16_t raw) {
  const int64_t scaled = (int64_t{raw} + 32767) * 10000;
  return static_cast<int>(std::clamp<int64_t>((scaled + 32767) / 65534, 0, 10000));
}

std::size_t formatRecordRow(char* out, int64_t timeUs, const PedalAxes& axes) {
  char* const end = out + kPedalRecordRowMax;
  char* at = fixed(out, end, timeUs, 1000, 3);
  for (int16_t raw : {axes.axis1, axes.axis2, axes.axis3, axes.axis4}) {
    *at++ = ',';
    at = std::to_chars(at, end, raw).ptr;
  }
  for (int16_t raw : {axes.axis1, axes.axis2, axes.axis3}) {
    *at++ = ',';
    at = fixed(at, end, recordPercentHundredths(raw), 100, 2);
  }
  *at++ = '\n';
  return static_cast<std::size_t>(at - out);
}

bool PedalRecordWriter::open(const std::string& path, std::string& error) {
  rows_ = 0;
  buffer_.clear();
  buffer_.reserve(kFlushBytes + kPedalRecordRowMax);
  // A folder or a device would refuse the finished file only at the end, with every row.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  switch (file_.begin(path)) {
    case ReplaceResult::Replaced: break;
    case ReplaceResult::ReadOnly: error = "the file is read-only"; return false;
    case ReplaceResult::Failed: error = std::strerror(errno != 0 ? errno : EIO); return false;
  }
  buffer_ = kPedalRecordHeader;
  return true;
}

bool PedalRecordWriter::add(int64_t timeUs, const PedalAxes& axes) {
  if (!file_.active()) return false;
  char row[kPedalRecordRowMax];
  buffer_.append(row, formatRecordRow(row, timeUs, axes));
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
