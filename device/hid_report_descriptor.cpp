#include "device/hid_report_descriptor.h"

namespace {

constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;
constexpr std::uint32_t ITEM_TYPE_MAIN = 0;
constexpr std::uint32_t ITEM_TYPE_GLOBAL = 1;
constexpr std::uint32_t ITEM_TYPE_RESERVED = 3;

constexpr std::uint32_t MAIN_INPUT = 0x8;
constexpr std::uint32_t MAIN_OUTPUT = 0x9;
constexpr std::uint32_t MAIN_COLLECTION = 0xA;
constexpr std::uint32_t MAIN_FEATURE = 0xB;
constexpr std::uint32_t MAIN_END_COLLECTION = 0xC;

constexpr std::uint32_t GLOBAL_REPORT_SIZE = 0x7;
constexpr std::uint32_t GLOBAL_REPORT_ID = 0x8;
constexpr std::uint32_t GLOBAL_REPORT_COUNT = 0x9;
constexpr std::uint32_t GLOBAL_PUSH = 0xA;
constexpr std::uint32_t GLOBAL_POP = 0xB;

constexpr std::size_t REPORT_IDS = 256;
// The lengths are 16-bit values on Windows; a longer report is not one any parser accepts.
constexpr std::uint64_t MAX_REPORT_BITS = std::uint64_t{0xFFFFu - 1u} * 8u;
constexpr std::size_t MAX_PUSH_DEPTH = 16;
// Deeper nesting than any real device uses; the limit only keeps a hostile descriptor bounded.
constexpr std::uint32_t MAX_COLLECTION_DEPTH = 64;

enum ReportKind { KIND_INPUT, KIND_OUTPUT, KIND_FEATURE, KIND_COUNT };

// The global items that decide report lengths; Push and Pop save and restore them.
struct GlobalState {
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
    std::uint64_t bits[KIND_COUNT][REPORT_IDS];
    bool declared[KIND_COUNT][REPORT_IDS];
};

std::uint32_t itemValue(const std::uint8_t* data, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return value;
}

bool addMainItem(ParseState& state, ReportKind kind) {
    const std::uint32_t id = state.globals.reportId;
    if (id == 0) state.hasItemsWithoutId = true;
    // A descriptor that declares report IDs has no report without one.
    if (state.usesReportIds && state.hasItemsWithoutId) return false;
    const std::uint64_t added = std::uint64_t{state.globals.reportSize} * state.globals.reportCount;
    std::uint64_t& total = state.bits[kind][id];
    if (added > MAX_REPORT_BITS || total + added > MAX_REPORT_BITS) return false;
    total += added;
    state.declared[kind][id] = true;
    return true;
}

bool applyMainItem(ParseState& state, std::uint32_t tag) {
    switch (tag) {
        case MAIN_INPUT: return addMainItem(state, KIND_INPUT);
        case MAIN_OUTPUT: return addMainItem(state, KIND_OUTPUT);
        case MAIN_FEATURE: return addMainItem(state, KIND_FEATURE);
        case MAIN_COLLECTION:
            if (state.collectionDepth == MAX_COLLECTION_DEPTH) return false;
            ++state.collectionDepth;
            return true;
        case MAIN_END_COLLECTION:
            if (state.collectionDepth == 0) return false;
            --state.collectionDepth;
            return true;
        default: return true;  // reserved main items carry no report data
    }
}

bool applyGlobalItem(ParseState& state, std::uint32_t tag, std::uint32_t value) {
    switch (tag) {
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
        default: return true;  // usage page, logical and physical ranges, units: no bearing on lengths
    }
}

std::uint32_t longestReportBytes(const ParseState& state, ReportKind kind) {
    std::uint64_t longest = 0;
    for (std::size_t id = 0; id < REPORT_IDS; ++id) {
        if (!state.declared[kind][id]) continue;
        const std::uint64_t bytes = (state.bits[kind][id] + 7) / 8 + 1;  // the report ID byte
        if (bytes > longest) longest = bytes;
    }
    return static_cast<std::uint32_t>(longest);
}

}  // namespace

bool computeHidReportLengths(const std::uint8_t* descriptor, std::size_t size, HidReportLengths* lengths) {
    *lengths = HidReportLengths{0, 0, 0};
    if (descriptor == nullptr && size != 0) return false;
    ParseState state{};

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == LONG_ITEM_PREFIX) {
            // bDataSize, bLongItemTag, then the data; no long item tag is defined, so it is skipped.
            if (size - at < 3) return false;
            const std::size_t dataBytes = descriptor[at + 1];
            if (size - at - 3 < dataBytes) return false;
            at += 3 + dataBytes;
            continue;
        }
        const std::size_t sizeCode = prefix & 0x3u;
        const std::size_t dataBytes = sizeCode == 3 ? 4 : sizeCode;
        if (size - at - 1 < dataBytes) return false;
        const std::uint32_t type = (prefix >> 2) & 0x3u;
        const std::uint32_t tag = prefix >> 4;
        const std::uint32_t value = itemValue(descriptor + at + 1, dataBytes);
        at += 1 + dataBytes;

        bool accepted = true;
        if (type == ITEM_TYPE_MAIN) {
            accepted = applyMainItem(state, tag);
        } else if (type == ITEM_TYPE_GLOBAL) {
            accepted = applyGlobalItem(state, tag, value);
        } else if (type == ITEM_TYPE_RESERVED) {
            accepted = false;
        }  // local items (usages, strings, designators, delimiters) have no bearing on lengths
        if (!accepted) return false;
    }
    if (state.collectionDepth != 0 || state.stackDepth != 0) return false;

    lengths->inputBytes = longestReportBytes(state, KIND_INPUT);
    lengths->outputBytes = longestReportBytes(state, KIND_OUTPUT);
    lengths->featureBytes = longestReportBytes(state, KIND_FEATURE);
    return true;
}
