// Firmware images as avrdude reads them (Intel HEX: 16-byte data records from address 0,
// then the end record). The tests and the benchmark make the images the emulated
// bootloader is flashed with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tkb::emu {

// Writes the image to path; false when the file could not be written.
bool writeIntelHex(const std::string& path, const std::vector<uint8_t>& image);

// A test image of `size` bytes with a repeatable pattern (seed picks the pattern).
std::vector<uint8_t> patternImage(size_t size, unsigned seed);

}  // namespace tkb::emu
