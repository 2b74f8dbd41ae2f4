// The POSIX serial layer under the controller link. Port "COMn" is the device
// <prefix>n, the prefix coming from TKB_SERIAL_PREFIX (default /dev/ttyACM, the CDC-ACM
// name of the ATmega32u4 and of its bootloader); tests point it at links to
// pseudo-terminals. SerialPort is the Transport (link/transport.h) over a termios device,
// with the time-outs the controller was designed for, on the wall clock; the configuring
// steps, DTR and the line speed are its own, for the probe and the firmware update.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/transport.h"

namespace tkb {

inline constexpr int kPortCount = 256;

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

class SerialPort final : public Transport {
 public:
  SerialPort() = default;
  ~SerialPort() override;
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

  bool write(std::span<const uint8_t> bytes) override;
  std::size_t lastWriteCount() const override { return lastWriteCount_; }
  ReadResult read(std::span<uint8_t> buffer) override;
  // tcflush and a drain of what a pseudo-terminal still had in flight.
  int discardInput() override;
  bool inputWithin(int ms) override;

  // The device went away under an open port (the cable was pulled): a read or write
  // failed with EIO, ENXIO, ENODEV or EPIPE, or the port hung up. Stays set until the next
  // open().
  bool lost() const override { return lost_.load(); }
  // Looks without waiting: a hang-up or error on the descriptor, or the node it was opened
  // by gone or standing for another device now (the pedals enumerated again). False (and
  // lost() from then on) when the link is gone; true while it is open and fine.
  bool checkLink() override;

  Clock& clock() override { return SteadyClock::instance(); }

  int lastError() const { return lastError_; }

 private:
  void noteError(int error);

  int fd_ = -1;
  int lastError_ = 0;
  std::size_t lastWriteCount_ = 0;
  std::atomic<bool> lost_{false};
  std::string path_;           // what open() was given (a link is followed at each check)
  unsigned long device_ = 0;   // the device number behind it at open()
  unsigned long inode_ = 0;
  struct Settings;
  Settings* settings_ = nullptr;
};

}  // namespace tkb
