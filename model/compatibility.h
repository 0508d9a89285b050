// Which ESCs a build accepts: two hardware-ID families, completed by the model's ID byte.
#pragma once

#include <cstdint>

// The upper 24 bits of the two hardware-ID families, the same in every build.
constexpr std::uint32_t HARDWARE_ID_FAMILY_A = 0x111F4000;
constexpr std::uint32_t HARDWARE_ID_FAMILY_B = 0x0A064000;

// True when escHardwareId is one of the two IDs the model accepts; all 32 bits count.
bool isCompatibleHardwareId(std::uint32_t escHardwareId, std::uint8_t modelIdByte);
