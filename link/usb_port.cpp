#include "link/usb_port.h"

#include <climits>
#include <cstdlib>
#include <fstream>

#include "link/pedal_input.h"
#include "link/serial_port.h"

namespace tkb {
namespace {

std::string sysfsRoot() {
  const char* root = std::getenv("TKB_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? root : "/sys";
}

std::string firstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

}  // namespace

std::string usbDeviceFolder(const std::string& portName) {
  const std::optional<std::string> device = lookUpPort(portName);
  if (!device) return {};
  const std::string node = device->substr(device->rfind('/') + 1);
  char usbInterface[PATH_MAX];
  if (::realpath((sysfsRoot() + "/class/tty/" + node + "/device").c_str(), usbInterface) == nullptr)
    return {};
  const std::string interfacePath = usbInterface;
  return interfacePath.substr(0, interfacePath.rfind('/'));
}

std::optional<uint16_t> parseUsbId(const std::string& text) {
  std::string digits = text;
  while (!digits.empty() && (digits.back() == '\n' || digits.back() == '\r')) digits.pop_back();
  if (digits.size() != 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return static_cast<uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

std::optional<UsbIds> portUsbIds(const std::string& portName) {
  const std::string folder = usbDeviceFolder(portName);
  if (folder.empty()) return std::nullopt;
  const std::optional<uint16_t> vendor = parseUsbId(firstLine(folder + "/idVendor"));
  const std::optional<uint16_t> product = parseUsbId(firstLine(folder + "/idProduct"));
  if (!vendor || !product) return std::nullopt;
  return UsbIds{*vendor, *product};
}

bool mayBePedalSet(const UsbIds& ids) { return ids.vendor == kPedalVendorId; }

}  // namespace tkb
