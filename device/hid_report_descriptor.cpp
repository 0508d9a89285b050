#include "device/hid_report_descriptor.h"

namespace {

constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;
constexpr std::uint32_t ITEM_TYPE_MAIN = 0;
constexpr std::uint32_t ITEM_TYPE_GLOBAL = 1;
constexpr std::uint32_t ITEM_TYPE_LOCAL = 2;
constexpr std::uint32_t ITEM_TYPE_RESERVED = 3;

constexpr std::uint32_t MAIN_INPUT = 0x8;
constexpr std::uint32_t MAIN_OUTPUT = 0x9;
constexpr std::uint32_t MAIN_COLLECTION = 0xA;
constexpr std::uint32_t MAIN_FEATURE = 0xB;
constexpr std::uint32_t MAIN_END_COLLECTION = 0xC;

constexpr std::uint32_t GLOBAL_USAGE_PAGE = 0x0;
constexpr std::uint32_t GLOBAL_REPORT_SIZE = 0x7;
constexpr std::uint32_t GLOBAL_REPORT_ID = 0x8;
constexpr std::uint32_t GLOBAL_REPORT_COUNT = 0x9;
constexpr std::uint32_t GLOBAL_PUSH = 0xA;
constexpr std::uint32_t GLOBAL_POP = 0xB;
constexpr std::uint32_t LOCAL_USAGE = 0x0;

constexpr std::size_t REPORT_IDS = 256;
// Far beyond any report, and far from overflowing a sum of such values.
constexpr std::uint64_t BITS_LIMIT = std::uint64_t{1} << 40;
constexpr std::size_t MAX_PUSH_DEPTH = 16;
// Deeper nesting than any real device uses; the limit only keeps a hostile descriptor bounded.
constexpr std::uint32_t MAX_COLLECTION_DEPTH = 64;

constexpr std::uint8_t COMPACT_INPUT = 0;
constexpr std::uint8_t COMPACT_OUTPUT = 1;
constexpr std::uint8_t COMPACT_FEATURE = 2;
constexpr std::size_t COMPACT_COLLECTION_BYTES = 6;
constexpr std::size_t COMPACT_REPORT_BYTES = 6;

enum ReportKind { KIND_INPUT, KIND_OUTPUT, KIND_COUNT };

// The reports of one top-level collection, child collections included. Feature reports have no
// bearing on the update and are not kept.
struct CollectionTally {
    std::uint16_t usagePage;
    std::uint64_t bits[KIND_COUNT][REPORT_IDS];
    bool declared[KIND_COUNT][REPORT_IDS];
};

// What the collections seen so far tell about the unit's.
struct UnitSearch {
    bool found;
    bool unnumberedVendorCollection;
    std::uint32_t bytes[KIND_COUNT];
};

void addBits(CollectionTally& tally, ReportKind kind, std::uint32_t id, std::uint64_t bits) {
    std::uint64_t& total = tally.bits[kind][id];
    total = bits >= BITS_LIMIT || total + bits >= BITS_LIMIT ? BITS_LIMIT : total + bits;
    tally.declared[kind][id] = true;
}

std::uint32_t longestReportBytes(const CollectionTally& tally, ReportKind kind) {
    std::uint64_t longest = 0;
    for (std::size_t id = 0; id < REPORT_IDS; ++id) {
        if (!tally.declared[kind][id]) continue;
        const std::uint64_t bytes = (tally.bits[kind][id] + 7) / 8 + 1;  // the report ID byte
        if (bytes > longest) longest = bytes;
    }
    return longest > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(longest);
}

bool holds(const CollectionTally& tally, std::uint32_t id) {
    return tally.declared[KIND_INPUT][id] || tally.declared[KIND_OUTPUT][id];
}

// A top-level collection has ended: is it the unit's?
void judgeCollection(UnitSearch& search, const CollectionTally& tally) {
    if (search.found || tally.usagePage != UNIT_USAGE_PAGE) return;
    if (holds(tally, 1) || holds(tally, 2)) {
        search.found = true;
        search.bytes[KIND_INPUT] = longestReportBytes(tally, KIND_INPUT);
        search.bytes[KIND_OUTPUT] = longestReportBytes(tally, KIND_OUTPUT);
    } else if (holds(tally, 0)) {
        search.unnumberedVendorCollection = true;
    }
}

UnitReportLengths unreadable() { return {ReportLayout::Unreadable, 0, 0}; }

UnitReportLengths outcomeOf(const UnitSearch& search) {
    if (search.found) return {ReportLayout::Counted, search.bytes[KIND_INPUT], search.bytes[KIND_OUTPUT]};
    if (search.unnumberedVendorCollection) return {ReportLayout::WithoutReportIds, 0, 0};
    return {ReportLayout::NoUnitCollection, 0, 0};
}

// ---- The report descriptor

// The global items that decide report lengths and the collection's page; Push and Pop save and
// restore them.
struct GlobalState {
    std::uint32_t usagePage;
    std::uint32_t reportSize;
    std::uint32_t reportCount;
    std::uint32_t reportId;  // 0: none declared yet
};

struct ParseState {
    GlobalState globals;
    GlobalState stack[MAX_PUSH_DEPTH];
    std::size_t stackDepth;
    std::uint32_t collectionDepth;
    bool usesReportIds;
    bool hasItemsWithoutId;
    bool hasUsage;             // a Usage since the last main item
    std::uint32_t usagePage;  // that Usage's page: its own upper half, or the Usage Page then
    CollectionTally tally;     // of the top-level collection open now
    UnitSearch search;
};

std::uint32_t itemValue(const std::uint8_t* data, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return value;
}

bool addMainItem(ParseState& state, ReportKind kind, bool kept) {
    if (state.collectionDepth == 0) return false;
    const std::uint32_t id = state.globals.reportId;
    if (id == 0) state.hasItemsWithoutId = true;
    // A descriptor that declares report IDs has no report without one.
    if (state.usesReportIds && state.hasItemsWithoutId) return false;
    if (kept) addBits(state.tally, kind, id, std::uint64_t{state.globals.reportSize} * state.globals.reportCount);
    return true;
}

bool applyMainItem(ParseState& state, std::uint32_t tag) {
    switch (tag) {
        case MAIN_INPUT: return addMainItem(state, KIND_INPUT, true);
        case MAIN_OUTPUT: return addMainItem(state, KIND_OUTPUT, true);
        case MAIN_FEATURE: return addMainItem(state, KIND_INPUT, false);
        case MAIN_COLLECTION:
            if (state.collectionDepth == MAX_COLLECTION_DEPTH) return false;
            if (state.collectionDepth == 0) {
                state.tally = CollectionTally{};
                const std::uint32_t page = state.hasUsage ? state.usagePage : state.globals.usagePage;
                state.tally.usagePage = static_cast<std::uint16_t>(page);
            }
            ++state.collectionDepth;
            return true;
        case MAIN_END_COLLECTION:
            if (state.collectionDepth == 0) return false;
            if (--state.collectionDepth == 0) judgeCollection(state.search, state.tally);
            return true;
        default: return true;  // reserved main items carry no report data
    }
}

bool applyGlobalItem(ParseState& state, std::uint32_t tag, std::uint32_t value) {
    switch (tag) {
        case GLOBAL_USAGE_PAGE: state.globals.usagePage = value & 0xFFFFu; return true;
        case GLOBAL_REPORT_SIZE: state.globals.reportSize = value; return true;
        case GLOBAL_REPORT_COUNT: state.globals.reportCount = value; return true;
        case GLOBAL_REPORT_ID:
            if (value == 0 || value >= REPORT_IDS) return false;
            state.globals.reportId = value;
            state.usesReportIds = true;
            return !state.hasItemsWithoutId;
        case GLOBAL_PUSH:
            if (state.stackDepth == MAX_PUSH_DEPTH) return false;
            state.stack[state.stackDepth++] = state.globals;
            return true;
        case GLOBAL_POP:
            if (state.stackDepth == 0) return false;
            state.globals = state.stack[--state.stackDepth];
            return true;
        default: return true;  // logical and physical ranges, units: no bearing on lengths
    }
}

// The first Usage before a collection names it; a four-byte Usage carries its own page.
void applyLocalItem(ParseState& state, std::uint32_t tag, std::uint32_t value, std::size_t dataBytes) {
    if (tag != LOCAL_USAGE || state.hasUsage) return;
    state.hasUsage = true;
    state.usagePage = dataBytes == 4 ? value >> 16 : state.globals.usagePage;
}

}  // namespace

UnitReportLengths unitReportLengthsFromDescriptor(const std::uint8_t* descriptor, std::size_t size) {
    if (descriptor == nullptr && size != 0) return unreadable();
    ParseState state{};

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == LONG_ITEM_PREFIX) {
            // bDataSize, bLongItemTag, then the data; no long item tag is defined, so it is skipped.
            if (size - at < 3) return unreadable();
            const std::size_t dataBytes = descriptor[at + 1];
            if (size - at - 3 < dataBytes) return unreadable();
            at += 3 + dataBytes;
            continue;
        }
        const std::size_t sizeCode = prefix & 0x3u;
        const std::size_t dataBytes = sizeCode == 3 ? 4 : sizeCode;
        if (size - at - 1 < dataBytes) return unreadable();
        const std::uint32_t type = (prefix >> 2) & 0x3u;
        const std::uint32_t tag = prefix >> 4;
        const std::uint32_t value = itemValue(descriptor + at + 1, dataBytes);
        at += 1 + dataBytes;

        bool accepted = true;
        if (type == ITEM_TYPE_MAIN) {
            accepted = applyMainItem(state, tag);
            state.hasUsage = false;  // local items last until the next main item
        } else if (type == ITEM_TYPE_GLOBAL) {
            accepted = applyGlobalItem(state, tag, value);
        } else if (type == ITEM_TYPE_LOCAL) {
            applyLocalItem(state, tag, value, dataBytes);
        } else if (type == ITEM_TYPE_RESERVED) {
            accepted = false;
        }
        if (!accepted) return unreadable();
    }
    if (state.collectionDepth != 0 || state.stackDepth != 0) return unreadable();
    return outcomeOf(state.search);
}

UnitReportLengths unitReportLengthsFromCollections(const std::uint8_t* compact, std::size_t size) {
    if (compact == nullptr && size != 0) return unreadable();
    CollectionTally tally{};
    UnitSearch search{};
    bool numbered = false;
    bool unnumbered = false;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < COMPACT_COLLECTION_BYTES) return unreadable();
        tally = CollectionTally{};
        tally.usagePage = static_cast<std::uint16_t>(itemValue(compact + at, 2));
        const std::size_t reports = itemValue(compact + at + 4, 2);
        at += COMPACT_COLLECTION_BYTES;
        if ((size - at) / COMPACT_REPORT_BYTES < reports) return unreadable();
        for (std::size_t r = 0; r < reports; ++r, at += COMPACT_REPORT_BYTES) {
            const std::uint8_t kind = compact[at];
            const std::uint8_t id = compact[at + 1];
            const std::uint32_t bits = itemValue(compact + at + 2, 4);
            if (kind > COMPACT_FEATURE) return unreadable();
            (id == 0 ? unnumbered : numbered) = true;
            if (numbered && unnumbered) return unreadable();
            if (kind == COMPACT_INPUT) addBits(tally, KIND_INPUT, id, bits);
            if (kind == COMPACT_OUTPUT) addBits(tally, KIND_OUTPUT, id, bits);
        }
        judgeCollection(search, tally);
    }
    return outcomeOf(search);
}
