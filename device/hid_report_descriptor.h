// The report lengths a HID report descriptor declares, computed as the Windows HID parser computes
// its InputReportByteLength, OutputReportByteLength and FeatureReportByteLength, so that a unit
// opened through hidapi is written and read with the same lengths as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

struct HidReportLengths {
    std::uint32_t inputBytes;
    std::uint32_t outputBytes;
    std::uint32_t featureBytes;
};

// For each kind, the longest report of that kind: the sum of report size x report count over the
// report's main items, in bits, rounded up to bytes, plus one byte for the report ID (also without
// report IDs, where the report ID 0 byte still counts); 0 when the descriptor has no report of the
// kind. False on a descriptor that is malformed (a truncated item, report ID 0, items outside any
// report once report IDs are used, unbalanced collections or push/pop, a report longer than 65535
// bytes); *lengths is then all zero. Never reads outside the size bytes at descriptor.
bool computeHidReportLengths(const std::uint8_t* descriptor, std::size_t size, HidReportLengths* lengths);
