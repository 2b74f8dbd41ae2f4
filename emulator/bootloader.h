// The ATmega32u4's memories as its AVR109 bootloader sees them.
#pragma once

#include <cstddef>

namespace tkb::emu {

constexpr size_t kFlashBytes = 32768;
constexpr size_t kBootloaderBytes = 4096;  // the top of the flash, never written over
constexpr size_t kEepromBytes = 1024;
constexpr int kBootBlockBytes = 128;

}  // namespace tkb::emu
