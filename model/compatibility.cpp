#include "model/compatibility.h"

bool isCompatibleHardwareId(std::uint32_t escHardwareId, std::uint8_t modelIdByte) {
    return escHardwareId == (HARDWARE_ID_FAMILY_A | modelIdByte) || escHardwareId == (HARDWARE_ID_FAMILY_B | modelIdByte);
}
