// Which USB device stands behind a serial port name, read from sysfs before the port is
// ever opened: the probe leaves other makers' devices alone (a DTR pulse resets an Arduino
// or a 3D printer), and tkb-cli doctor lists every port with its ids.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tkb {

struct UsbIds {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const UsbIds&) const = default;
};

// The sysfs folder of the USB device behind a port name: the parent of
// $TKB_SYSFS_ROOT/class/tty/<device node>/device (that is the USB interface), the node
// being the name the port's device resolves to (ttyACM7). Empty when the port does not
// exist or its device is not in sysfs (pseudo-terminals).
std::string usbDeviceFolder(const std::string& portName);

// Pure. Parses one sysfs id file ("16d0\n"): exactly four hexadecimal digits.
std::optional<uint16_t> parseUsbId(const std::string& text);

// The vendor and product of the USB device behind a port name; nothing when either cannot
// be read (pseudo-terminals, other drivers).
std::optional<UsbIds> portUsbIds(const std::string& portName);

// Pure. Whether a device with these ids may be the pedal set or its bootloader: the
// ATmega32u4's bootloader enumerates under the maker's vendor id (0x16D0) with a product
// id of its own, so every product of that vendor is taken for ours.
bool mayBePedalSet(const UsbIds& ids);

}  // namespace tkb
