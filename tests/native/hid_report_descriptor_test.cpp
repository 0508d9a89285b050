// The report lengths of the unit's collection, from report descriptors and from the page's compact
// form of WebHID's collections: hand-written ones of the shapes real devices have, malformed ones,
// and a fuzz pass. Each descriptor is copied into a buffer of its
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
    Bytes description;
    UnitReportLengths expected;
};

constexpr ReportLayout COUNTED = ReportLayout::Counted;
constexpr ReportLayout UNREADABLE = ReportLayout::Unreadable;
constexpr ReportLayout NO_UNIT = ReportLayout::NoUnitCollection;
constexpr ReportLayout WITHOUT_IDS = ReportLayout::WithoutReportIds;

const Bytes OPEN_VENDOR = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
const Bytes END = {0xC0};
// Beside the unit's collection: a report of 63 bytes, ID 3, in a top-level collection of its own.
const Bytes OTHER_COLLECTION_63 = {0x06, 0x01, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x75,
                                   0x08, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0xC0};

std::vector<LengthCase> descriptorCases() {
    return {
        {"the unit: IDs 1 and 2 of 59 bytes", UNIT_DESCRIPTOR, {COUNTED, 60, 60}},
        {"a 63-byte input report in another collection does not count",
         join({OTHER_COLLECTION_63, UNIT_DESCRIPTOR}), {COUNTED, 60, 60}},
        {"a 63-byte input report in the unit's collection counts",
         join({OPEN_VENDOR, {0x85, 0x01, 0x75, 0x08, 0x95, 0x3B, 0x91, 0x02, 0x85, 0x02, 0x81, 0x02,
                             0x85, 0x03, 0x95, 0x3F, 0x81, 0x02}, END}),
         {COUNTED, 64, 60}},
        {"a vendor collection without reports 1 and 2 before the unit's",
         join({OPEN_VENDOR, {0x85, 0x05, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02}, END, UNIT_DESCRIPTOR}), {COUNTED, 60, 60}},
        {"the page in a four-byte usage",
         {0x05, 0x01, 0x0B, 0x01, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x95, 0x07, 0x81, 0x02, 0xC0},
         {COUNTED, 8, 0}},
        {"no report IDs: refused, whatever the lengths",
         join({OPEN_VENDOR, {0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02}, END}),
         {WITHOUT_IDS, 0, 0}},
        {"a keyboard alone", KEYBOARD_DESCRIPTOR, {NO_UNIT, 0, 0}},
        {"several input reports: the longest counts",
         join({OPEN_VENDOR,
               {0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02,  // ID 1: 8 bytes
                0x85, 0x02, 0x95, 0x03, 0x81, 0x02,              // ID 2: 3 bytes
                0x85, 0x03, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02,  // ID 3: 5 bits
                0x75, 0x08, 0x95, 0x1E, 0x81, 0x02},             //   + 30 bytes
               END}),
         {COUNTED, 32, 0}},
        {"items of one report ID split apart add up",
         join({OPEN_VENDOR,
               {0x75, 0x08, 0x85, 0x01, 0x95, 0x02, 0x81, 0x02, 0x85, 0x02, 0x95, 0x09, 0x81, 0x02, 0x85, 0x01, 0x95,
                0x0A, 0x81, 0x02},
               END}),
         {COUNTED, 13, 0}},
        {"long items are skipped", join({{0xFE, 0x02, 0x10, 0xAA, 0xBB}, UNIT_DESCRIPTOR, {0xFE, 0x00, 0x20}}),
         {COUNTED, 60, 60}},
        {"pop restores report size and count",
         join({OPEN_VENDOR,
               {0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0xA4,  // ID 1, size 8, count 4, Push
                0x75, 0x01, 0x95, 0x03, 0x81, 0x02,        // 3 bits in
                0xB4, 0x81, 0x02},                          // Pop, 32 bits in
               END}),
         {COUNTED, 6, 0}},
        {"pop restores the report ID",
         join({OPEN_VENDOR,
               {0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0xA4, 0x85, 0x02, 0x95, 0x10, 0x81, 0x02, 0xB4, 0x81, 0x02}, END}),
         {COUNTED, 17, 0}},
        {"four-byte items; a feature report does not count",
         join({OPEN_VENDOR, {0x77, 0x08, 0x00, 0x00, 0x00, 0x85, 0x01, 0x97, 0x3B, 0x00, 0x00, 0x00, 0x91, 0x02,
                             0x85, 0x03, 0x97, 0x64, 0x00, 0x00, 0x00, 0xB1, 0x02}, END}),
         {COUNTED, 0, 60}},
        {"nested collections", join({OPEN_VENDOR, {0xA1, 0x02, 0x85, 0x02, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0}, END}),
         {COUNTED, 3, 0}},
        {"a declared report of zero bits still has its ID byte",
         join({OPEN_VENDOR, {0x85, 0x01, 0x75, 0x08, 0x95, 0x00, 0x91, 0x02}, END}), {COUNTED, 0, 1}},
        {"65,535 bytes", join({OPEN_VENDOR, {0x85, 0x02, 0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}, END}),
         {COUNTED, 0xFFFF, 0}},
        {"65,536 bytes are not cut to 16 bits",
         join({OPEN_VENDOR, {0x85, 0x02, 0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02}, END}), {COUNTED, 0x10000, 0}},
        {"report size x count past 64 bits is held at the largest length",
         join({OPEN_VENDOR, {0x85, 0x02, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}, END}),
         {COUNTED, UINT32_MAX, 0}},
        {"empty", {}, {NO_UNIT, 0, 0}},
        {"collections only", join({OPEN_VENDOR, END}), {NO_UNIT, 0, 0}},

        {"a truncated one-byte item", join({OPEN_VENDOR, {0x75}}), {UNREADABLE, 0, 0}},
        {"a truncated four-byte item", {0x97, 0x3B, 0x00}, {UNREADABLE, 0, 0}},
        {"a truncated two-byte item", {0x26, 0xFF}, {UNREADABLE, 0, 0}},
        {"a truncated long item", {0xFE, 0x05, 0x10, 0x01, 0x02}, {UNREADABLE, 0, 0}},
        {"a long item without its tag", {0xFE, 0x00}, {UNREADABLE, 0, 0}},
        {"report ID 0", join({OPEN_VENDOR, {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, END}), {UNREADABLE, 0, 0}},
        {"report ID above 255", join({OPEN_VENDOR, {0x86, 0x00, 0x01}, END}), {UNREADABLE, 0, 0}},
        {"items without an ID before report IDs",
         join({OPEN_VENDOR, {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02}, END}), {UNREADABLE, 0, 0}},
        {"an input outside any collection", {0x85, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, {UNREADABLE, 0, 0}},
        {"an end without a collection", {0xC0}, {UNREADABLE, 0, 0}},
        {"a collection never ended", OPEN_VENDOR, {UNREADABLE, 0, 0}},
        {"pop without push", join({OPEN_VENDOR, {0xB4}, END}), {UNREADABLE, 0, 0}},
        {"push never popped", join({OPEN_VENDOR, {0xA4}, END}), {UNREADABLE, 0, 0}},
        {"a reserved item type", {0x0C}, {UNREADABLE, 0, 0}},
    };
}

// One top-level collection in the page's compact form; reports as {kind, ID, bits}.
struct CompactReport {
    std::uint8_t kind;
    std::uint8_t id;
    std::uint32_t bits;
};
Bytes compactCollection(std::uint16_t usagePage, std::initializer_list<CompactReport> reports) {
    Bytes b = {static_cast<std::uint8_t>(usagePage), static_cast<std::uint8_t>(usagePage >> 8), 0x01, 0x00,
               static_cast<std::uint8_t>(reports.size()), 0x00};
    for (const CompactReport& r : reports) {
        b.insert(b.end(), {r.kind, r.id, static_cast<std::uint8_t>(r.bits), static_cast<std::uint8_t>(r.bits >> 8),
                           static_cast<std::uint8_t>(r.bits >> 16), static_cast<std::uint8_t>(r.bits >> 24)});
    }
    return b;
}

constexpr std::uint8_t IN = 0, OUT = 1, FEATURE = 2;
const Bytes UNIT_COLLECTION = compactCollection(0xFF00, {{OUT, 1, 59 * 8}, {IN, 2, 59 * 8}});

std::vector<LengthCase> collectionCases() {
    return {
        {"the unit", UNIT_COLLECTION, {COUNTED, 60, 60}},
        {"a 63-byte input report in another collection does not count",
         join({compactCollection(0xFF01, {{IN, 3, 63 * 8}}), UNIT_COLLECTION}), {COUNTED, 60, 60}},
        {"a 63-byte input report in the unit's collection counts",
         compactCollection(0xFF00, {{OUT, 1, 59 * 8}, {IN, 2, 59 * 8}, {IN, 3, 63 * 8}, {FEATURE, 4, 900}}),
         {COUNTED, 64, 60}},
        {"a report's pieces add up", compactCollection(0xFF00, {{IN, 2, 12}, {IN, 2, 20}}), {COUNTED, 5, 0}},
        {"the largest sum is not cut to 16 bits", compactCollection(0xFF00, {{IN, 2, 0xFFFFFFFF}}),
         {COUNTED, 536870913, 0}},
        {"no report IDs", compactCollection(0xFF00, {{OUT, 0, 64 * 8}, {IN, 0, 64 * 8}}), {WITHOUT_IDS, 0, 0}},
        {"no vendor collection", compactCollection(0x0001, {{OUT, 1, 472}, {IN, 2, 472}}), {NO_UNIT, 0, 0}},
        {"none at all", {}, {NO_UNIT, 0, 0}},
        {"a header cut short", {0x00, 0xFF, 0x01, 0x00, 0x01}, {UNREADABLE, 0, 0}},
        {"a report cut short", Bytes(UNIT_COLLECTION.begin(), UNIT_COLLECTION.end() - 1), {UNREADABLE, 0, 0}},
        {"an unknown kind", compactCollection(0xFF00, {{3, 2, 8}}), {UNREADABLE, 0, 0}},
        {"reports with and without IDs", compactCollection(0xFF00, {{OUT, 1, 8}, {IN, 0, 8}}), {UNREADABLE, 0, 0}},
    };
}

using Count = UnitReportLengths (*)(const std::uint8_t*, std::size_t);

void expectLengths(const std::vector<LengthCase>& cases, Count count) {
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes exact(c.description);  // exactly sized: a read past the end is caught
        const UnitReportLengths lengths = count(exact.data(), exact.size());
        EXPECT_EQ(lengths.layout, c.expected.layout);
        EXPECT_EQ(lengths.inputBytes, c.expected.inputBytes);
        EXPECT_EQ(lengths.outputBytes, c.expected.outputBytes);
    }
}

TEST(ReportDescriptor, LengthsOfTheUnitCollectionAsWindowsComputesThem) {
    expectLengths(descriptorCases(), unitReportLengthsFromDescriptor);
}

TEST(ReportDescriptor, WebHidCollectionsAreCountedAsTheDescriptorIs) {
    expectLengths(collectionCases(), unitReportLengthsFromCollections);
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
        const bool read = unitReportLengthsFromDescriptor(descriptor.data(), descriptor.size()).layout != UNREADABLE;
        EXPECT_EQ(read, c.accepted);
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
        EXPECT_EQ(unitReportLengthsFromDescriptor(prefix.data(), prefix.size()).layout, UNREADABLE);
    }
}

// Random and mutated descriptors: no crash, no read outside the buffer (the sanitizers watch), and
// lengths only with a counted collection.
TEST(ReportDescriptor, FuzzedDescriptorsNeverCrash) {
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
        const UnitReportLengths lengths = unitReportLengthsFromDescriptor(exact.data(), exact.size());
        if (lengths.layout == UNREADABLE) {
            ++refused;
        } else {
            ++accepted;
        }
        // Lengths only ever come with a counted collection.
        if (lengths.layout != COUNTED) {
            EXPECT_EQ(lengths.inputBytes, 0u);
            EXPECT_EQ(lengths.outputBytes, 0u);
        }
    }
    // Both outcomes must have been reached, or the pass proved little.
    EXPECT_GT(accepted, 100);
    EXPECT_GT(refused, 100);
}

}  // namespace
