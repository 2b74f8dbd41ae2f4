#include "emulator/intel_hex.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace tkb::emu {

bool writeIntelHex(const std::string& path, const std::vector<uint8_t>& image) {
  std::ofstream hex(path);
  for (size_t at = 0; at < image.size(); at += 16) {
    const size_t count = std::min<size_t>(16, image.size() - at);
    unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
    char record[64];
    std::snprintf(record, sizeof record, ":%02zX%04zX00", count, at);
    hex << record;
    for (size_t k = 0; k < count; ++k) {
      std::snprintf(record, sizeof record, "%02X", image[at + k]);
      hex << record;
      sum += image[at + k];
    }
    std::snprintf(record, sizeof record, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    hex << record;
  }
  hex << ":00000001FF\n";
  return static_cast<bool>(hex.flush());
}

std::vector<uint8_t> patternImage(size_t size, unsigned seed) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>((i * seed + 11) & 0xFF);
  return image;
}

}  // namespace tkb::emu
