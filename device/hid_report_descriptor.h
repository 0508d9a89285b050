// The report lengths of the programming unit's collection, computed as the Windows HID parser
// computes InputReportByteLength and OutputReportByteLength for the top-level collection that a
// device interface stands for, so that a unit opened through hidapi or WebHID is written and read
// with the lengths the dialog gets on Windows. A device may have several top-level collections
// (a keyboard beside the vendor's); only the unit's one counts.
#pragma once

#include <cstddef>
#include <cstdint>

// The unit's collection: the first top-level collection on this usage page that holds report 1 or
// report 2 (the request and the reply).
constexpr std::uint16_t UNIT_USAGE_PAGE = 0xFF00;

enum class ReportLayout : std::uint8_t {
    Counted,           // the lengths below are the unit collection's
    Unreadable,        // the description is malformed, or the system could not hand it out
    NoUnitCollection,  // no top-level collection on UNIT_USAGE_PAGE holds report 1 or 2
    WithoutReportIds,  // the collection on UNIT_USAGE_PAGE numbers none of its reports
};

// Lengths in bytes, the report ID byte included; 0 for a kind the collection has no report of.
// A length past any a HID report can have is kept as it is (at most UINT32_MAX), never cut down to
// 16 bits, so a check against it cannot be passed by wrapping around.
struct UnitReportLengths {
    ReportLayout layout;
    std::uint32_t inputBytes;
    std::uint32_t outputBytes;
};

// From a HID report descriptor. For each kind the longest report of the collection: the sum of
// report size x report count over the report's main items, in bits, rounded up to bytes, plus one
// byte for the report ID (also without report IDs, where Windows still counts the ID 0 byte).
// Unreadable for a truncated item, report ID 0, items without an ID once report IDs are used, a
// main item outside any collection, unbalanced collections or push/pop. Never reads outside the
// size bytes at descriptor.
UnitReportLengths unitReportLengthsFromDescriptor(const std::uint8_t* descriptor, std::size_t size);

// From WebHID's description of the device (HIDDevice.collections), flattened by the page into
// bytes, little-endian, for each top-level collection in order:
//   usage page (2), usage (2), number of reports N (2), then N times:
//     kind (1: 0 input, 1 output, 2 feature), report ID (1), bits (4: the sum of reportSize x
//     reportCount over the report's items, its child collections' reports listed with it;
//     0xFFFFFFFF for a sum that does not fit)
// Counted as the descriptor is. Unreadable for a form that ends inside a record, an unknown kind,
// or reports with and without IDs.
UnitReportLengths unitReportLengthsFromCollections(const std::uint8_t* compact, std::size_t size);
