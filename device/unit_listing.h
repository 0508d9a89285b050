// Every programming unit present, for a listing that uses none of them: the path, the product and,
// for a unit that cannot be opened, why not, so that the person can be told what to do.
#pragma once

#include "device/hid_port.h"

#include <cstdint>

struct ProgrammingUnitEntry {
    const wchar_t* path;  // valid during the visit only
    std::uint16_t productId;
    HidOpenFailure openFailure;  // None: it can be opened now
    std::uint32_t openError;     // the system's error of the failed open (hidPortLastError), else 0
};

using ProgrammingUnitVisitor = void (*)(const ProgrammingUnitEntry& unit, void* context);

// Visits the present programming units in enumeration order. Each is opened and closed again at
// once to learn whether it can be used; nothing is sent to it, and foreign devices are not opened.
// The number of units, or -1 when the list of HID interfaces cannot be obtained.
std::int32_t listProgrammingUnits(ProgrammingUnitVisitor visit, void* context);
