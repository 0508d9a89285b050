// The report lengths computed from report descriptors: hand-written descriptors of the shapes real
// devices have, malformed ones, and a fuzz pass. Each descriptor is copied into a buffer of its
// exact size, so the address sanitizer catches any read past its end.
#include "device/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The programming unit's shape: a vendor page, report ID 1 out and 2 in, 59 data bytes each.
const Bytes UNIT_DESCRIPTOR = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x85, 0x01,        //   Report ID (1)
    0x95, 0x3B,        //   Report Count (59)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Var, Abs)
    0x85, 0x02,        //   Report ID (2)
    0x95, 0x3B,        //   Report Count (59)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Var, Abs)
    0xC0,              // End Collection
};

// A boot keyboard without report IDs: 8 modifier bits, a reserved byte, six key bytes in; five
// LED bits and three padding bits out.
const Bytes KEYBOARD_DESCRIPTOR = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,                          // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,  // modifiers: usages E0..E7, 0..1
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02,                          // 8 x 1 bit in
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,                          // 1 x 8 bits in, constant
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02,  // 5 LED bits out
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,                                      // 3 padding bits out
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00,  // keys
    0xC0,
};

struct LengthCase {
    const char* label;
    Bytes descriptor;
    bool accepted;
    HidReportLengths expected;
};

const Bytes OPEN_VENDOR = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
const Bytes END = {0xC0};

std::vector<LengthCase> lengthCases() {
    return {
        {"the unit: IDs 1 and 2 of 59 bytes", UNIT_DESCRIPTOR, true, {60, 60, 0}},
        {"no report IDs: 64 bytes each way",
         join({OPEN_VENDOR, {0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02}, END}),
         true,
         {65, 65, 0}},
        {"several input reports: the longest counts",
         join({OPEN_VENDOR,
               {0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02,               // ID 1: 8 bytes
                0x85, 0x02, 0x95, 0x03, 0x81, 0x02,                           // ID 2: 3 bytes
                0x85, 0x03, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02,               // ID 3: 5 bits
                0x75, 0x08, 0x95, 0x1E, 0x81, 0x02},                          //   + 30 bytes
               END}),
         true,
         {32, 0, 0}},
        {"items of one report ID split apart add up",
         join({OPEN_VENDOR,
               {0x75, 0x08, 0x85, 0x04, 0x95, 0x02, 0x81, 0x02, 0x85, 0x05, 0x95, 0x09, 0x81, 0x02, 0x85, 0x04, 0x95,
                0x0A, 0x81, 0x02},
               END}),
         true,
         {13, 0, 0}},
        {"long items are skipped",
         join({{0xFE, 0x02, 0x10, 0xAA, 0xBB}, UNIT_DESCRIPTOR, {0xFE, 0x00, 0x20}}),
         true,
         {60, 60, 0}},
        {"pop restores report size and count",
         join({OPEN_VENDOR,
               {0x75, 0x08, 0x95, 0x04, 0xA4,   // size 8, count 4, Push
                0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // 3 bits in
                0xB4, 0x81, 0x02},                // Pop, 32 bits in
               END}),
         true,
         {6, 0, 0}},
        {"pop restores the report ID",
         join({OPEN_VENDOR,
               {0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0xA4, 0x85, 0x02, 0x95, 0x10, 0x81, 0x02, 0xB4, 0x81, 0x02}, END}),
         true,
         {17, 0, 0}},
        {"a keyboard", KEYBOARD_DESCRIPTOR, true, {9, 2, 0}},
        {"four-byte items and a feature report",
         join({OPEN_VENDOR,
               {0x77, 0x08, 0x00, 0x00, 0x00, 0x85, 0x05, 0x97, 0x07, 0x00, 0x00, 0x00, 0xB1, 0x02}, END}),
         true,
         {0, 0, 8}},
        {"nested collections", join({OPEN_VENDOR, {0xA1, 0x02, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0}, END}), true,
         {3, 0, 0}},
        {"a declared report of zero bits still has its ID byte",
         join({OPEN_VENDOR, {0x75, 0x08, 0x95, 0x00, 0x91, 0x02}, END}), true, {0, 1, 0}},
        {"the longest report there can be", join({OPEN_VENDOR, {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}, END}), true,
         {0xFFFF, 0, 0}},
        {"empty", {}, true, {0, 0, 0}},
        {"collections only", join({OPEN_VENDOR, END}), true, {0, 0, 0}},

        {"a truncated one-byte item", join({OPEN_VENDOR, {0x75}}), false, {0, 0, 0}},
        {"a truncated four-byte item", {0x97, 0x3B, 0x00}, false, {0, 0, 0}},
        {"a truncated two-byte item", {0x26, 0xFF}, false, {0, 0, 0}},
        {"a truncated long item", {0xFE, 0x05, 0x10, 0x01, 0x02}, false, {0, 0, 0}},
        {"a long item without its tag", {0xFE, 0x00}, false, {0, 0, 0}},
        {"report ID 0", join({OPEN_VENDOR, {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, END}), false, {0, 0, 0}},
        {"report ID above 255", join({OPEN_VENDOR, {0x86, 0x00, 0x01}, END}), false, {0, 0, 0}},
        {"items without an ID before report IDs",
         join({OPEN_VENDOR, {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02}, END}), false, {0, 0, 0}},
        {"an end without a collection", {0xC0}, false, {0, 0, 0}},
        {"a collection never ended", OPEN_VENDOR, false, {0, 0, 0}},
        {"pop without push", join({OPEN_VENDOR, {0xB4}, END}), false, {0, 0, 0}},
        {"push never popped", join({OPEN_VENDOR, {0xA4}, END}), false, {0, 0, 0}},
        {"report size x count overflows",
         join({OPEN_VENDOR, {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}, END}), false,
         {0, 0, 0}},
        {"a report one byte too long", join({OPEN_VENDOR, {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02}, END}), false,
         {0, 0, 0}},
        {"a report that grows too long over many items",
         join({OPEN_VENDOR, {0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x02, 0x81, 0x02}, END}), false, {0, 0, 0}},
        {"a reserved item type", {0x0C}, false, {0, 0, 0}},
    };
}

TEST(ReportDescriptor, LengthsAsWindowsComputesThem) {
    for (const LengthCase& c : lengthCases()) {
        SCOPED_TRACE(c.label);
        const Bytes exact(c.descriptor);  // exactly sized: a read past the end is caught
        HidReportLengths lengths{111, 222, 333};
        EXPECT_EQ(computeHidReportLengths(exact.data(), exact.size(), &lengths), c.accepted);
        EXPECT_EQ(lengths.inputBytes, c.expected.inputBytes);
        EXPECT_EQ(lengths.outputBytes, c.expected.outputBytes);
        EXPECT_EQ(lengths.featureBytes, c.expected.featureBytes);
    }
}

TEST(ReportDescriptor, DeepPushIsRefusedAtItsLimit) {
    struct Case {
        const char* label;
        int pushes;
        bool accepted;
    };
    const Case cases[] = {{"16 pushes", 16, true}, {"17 pushes", 17, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes descriptor;
        for (int i = 0; i < c.pushes; ++i) descriptor.push_back(0xA4);
        for (int i = 0; i < c.pushes; ++i) descriptor.push_back(0xB4);
        HidReportLengths lengths{};
        EXPECT_EQ(computeHidReportLengths(descriptor.data(), descriptor.size(), &lengths), c.accepted);
    }
}

TEST(ReportDescriptor, EveryCutThroughAnItemIsRefused) {
    // Each prefix of the unit's descriptor that ends inside an item.
    const std::size_t itemEnds[] = {3, 5, 7, 9, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 31};
    for (std::size_t cut = 1; cut < UNIT_DESCRIPTOR.size(); ++cut) {
        bool atItemEnd = false;
        for (std::size_t end : itemEnds) atItemEnd = atItemEnd || end == cut;
        if (atItemEnd) continue;
        SCOPED_TRACE(cut);
        const Bytes prefix(UNIT_DESCRIPTOR.begin(), UNIT_DESCRIPTOR.begin() + static_cast<std::ptrdiff_t>(cut));
        HidReportLengths lengths{};
        EXPECT_FALSE(computeHidReportLengths(prefix.data(), prefix.size(), &lengths));
    }
}

// Random and mutated descriptors: no crash, no read outside the buffer (the sanitizers watch), and
// every answer is either a refusal with zero lengths or lengths a HID report can have.
TEST(ReportDescriptor, FuzzedDescriptorsNeverCrashAndGiveBoundedLengths) {
    std::mt19937 random(0xDE5C41u);
    auto below = [&random](std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random); };
    const std::vector<Bytes> seeds = {UNIT_DESCRIPTOR, KEYBOARD_DESCRIPTOR};
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 20000; ++round) {
        Bytes descriptor;
        if (round % 2 == 0) {
            descriptor.resize(below(80));
            for (std::uint8_t& b : descriptor) b = static_cast<std::uint8_t>(below(256));
        } else {
            descriptor = seeds[below(seeds.size())];
            const std::size_t mutations = 1 + below(4);
            for (std::size_t m = 0; m < mutations && !descriptor.empty(); ++m) {
                const std::size_t at = below(descriptor.size());
                switch (below(3)) {
                    case 0: descriptor[at] = static_cast<std::uint8_t>(below(256)); break;
                    case 1: descriptor.resize(at); break;
                    default:
                        descriptor.insert(descriptor.begin() + static_cast<std::ptrdiff_t>(at),
                                          static_cast<std::uint8_t>(below(256)));
                }
            }
        }
        const Bytes exact(descriptor);
        HidReportLengths lengths{7, 7, 7};
        if (computeHidReportLengths(exact.data(), exact.size(), &lengths)) {
            ++accepted;
            EXPECT_LE(lengths.inputBytes, 0xFFFFu);
            EXPECT_LE(lengths.outputBytes, 0xFFFFu);
            EXPECT_LE(lengths.featureBytes, 0xFFFFu);
        } else {
            ++refused;
            EXPECT_EQ(lengths.inputBytes, 0u);
            EXPECT_EQ(lengths.outputBytes, 0u);
            EXPECT_EQ(lengths.featureBytes, 0u);
        }
    }
    // Both outcomes must have been reached, or the pass proved little.
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 100);
}

}  // namespace
