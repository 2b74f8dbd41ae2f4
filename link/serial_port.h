// The POSIX serial layer under the controller link. Port "COMn" is the device
// <prefix>n, the prefix coming from TKB_SERIAL_PREFIX (default /dev/ttyACM, the CDC-ACM
// name of the ATmega32u4 and of its bootloader); tests point it at links to
// pseudo-terminals. Reads and writes keep the time-outs the controller was designed for:
// a read of N bytes returns after at most 30 + 10*N ms with whatever arrived.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tkb {

inline constexpr int kPortCount = 256;
inline constexpr int kReadIntervalMs = 30;
inline constexpr int kReadTotalConstantMs = 30;
inline constexpr int kReadTotalPerByteMs = 10;
inline constexpr int kWriteTotalConstantMs = 30;
inline constexpr int kWriteTotalPerByteMs = 10;

// "COM7"
std::string portName(int number);
// The device path behind a port name ("COM7" -> "/dev/ttyACM7"); empty for other names.
std::string portPath(const std::string& name);
// The device the name stands for when it exists (links resolved), else nothing.
std::optional<std::string> lookUpPort(const std::string& name);
// What tells one device under a name from another that later took the same name: the
// device node, and for a USB serial port its bus and device numbers, which change when
// the device enumerates again (as the pedals do when they restart into their bootloader).
// Empty when the name does not exist.
std::string portIdentity(const std::string& name);

struct ReadResult {
  bool ok = false;  // false: the read call itself failed (error holds errno)
  int count = 0;
  int error = 0;
};

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens for reading and writing, exclusively; existing devices only.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // The steps of configuring a port, each failing on its own as the probe reports them.
  bool getState();    // read the current settings
  bool buildState();  // overlay 9600 baud, no parity, 8 data bits, 1 stop bit, raw
  bool applyState();
  bool setTimeouts();
  bool clearDtr();
  bool setDtr();
  // Changes the line speed alone (the 1200-baud touch that restarts into the bootloader).
  bool setBaud(int baud);

  // The whole frame within 30 + 10*N ms.
  bool write(std::span<const uint8_t> bytes);
  // Up to buffer.size() bytes into the start of buffer, with the time-outs above.
  ReadResult read(std::span<uint8_t> buffer);

  // Throws away whatever input is pending, so that a stray or late byte is never read
  // as part of the next reply. Returns how many bytes were dropped.
  int discardInput();

  // The device went away under an open port (the cable was pulled): a read or write
  // failed with EIO, ENXIO, ENODEV or EPIPE, or the port hung up. Stays set until the next
  // open().
  bool lost() const { return lost_.load(); }
  // Looks without waiting: a hang-up or error on the descriptor, or the node it was opened
  // by gone or standing for another device now (the pedals enumerated again). False (and
  // lost() from then on) when the link is gone; true while it is open and fine.
  bool checkLink();

  int lastError() const { return lastError_; }

 private:
  void noteError(int error);

  int fd_ = -1;
  int lastError_ = 0;
  std::atomic<bool> lost_{false};
  std::string path_;           // what open() was given (a link is followed at each check)
  unsigned long device_ = 0;   // the device number behind it at open()
  unsigned long inode_ = 0;
  struct Settings;
  Settings* settings_ = nullptr;
};

}  // namespace tkb
