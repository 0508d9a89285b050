// What the device link tests share: a link over the simulated bus, readable request bytes and
// replies written by hand.
#pragma once

#include "device/device_link.h"
#include "sim/sim_hid_port.h"
#include "sim/sim_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A fresh bus and a closed link for every test; the link is closed again afterwards, so that the
// leak checker sees every path released.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        simBusReset();
        resetDeviceLink(link);
    }
    void TearDown() override { closeDeviceLink(link); }

    // Plugs in one unit and opens it; the result of openDeviceLink.
    std::int32_t plugAndOpen(const SimConfig& config = SimConfig{}) {
        unit = simBusAdd(config);
        return openDeviceLink(link);
    }
    SimUnit& sim() { return simBusUnit(unit); }
    const SimRequest& lastRequest() { return sim().transcript.back(); }
    std::size_t requestCount() { return sim().transcript.size(); }
    void fault(const SimFault& f) { simSetFault(sim(), f); }
    // Replaces the unit's next replies by these bytes.
    void script(std::vector<Bytes> replies) {
        simBusDevice(unit).scriptedReplies = std::move(replies);
        simBusDevice(unit).scriptedUsed = 0;
    }

    DeviceLinkRecord link{};
    int unit = -1;
};

inline Bytes requestBytes(const SimRequest& request) {
    return Bytes(request.bytes, request.bytes + std::min<std::uint32_t>(request.length, SIM_REPORT_BYTES));
}

inline std::string hex(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        text += digits;
    }
    return text;
}

// A 60-byte report holding the given bytes from byte 0, zero after them.
inline Bytes report(std::initializer_list<std::uint8_t> head) {
    Bytes bytes(SIM_REPORT_BYTES, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

// An error reply carrying code in bytes 4 to 7, with state in byte 3.
inline Bytes errorReply(std::uint32_t code, std::uint8_t state = 0) {
    return report({0x02, 0xFF, 0x04, state, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                   static_cast<std::uint8_t>(code >> 16), static_cast<std::uint8_t>(code >> 24)});
}

inline SimFault makeFault(SimFaultKind kind, std::uint8_t command) { return simFault(kind, command); }
