#include "sim/sim_hid_port.h"

#include "device/hid_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t US_PER_MS = 1000;
// Handle values start here, so that no handle is null or INVALID_HANDLE_VALUE.
constexpr std::uintptr_t FIRST_HANDLE = 0x1000;

struct SimBus {
    std::vector<SimBusDevice> devices;
    std::vector<int> handles;  // device number per handle, -1 once closed
    bool listAvailable = true;
    std::uint64_t clockUs = 0;
    std::uint32_t lastError = 0;
    SimWriteObserver writeObserver = nullptr;
    SimBusCounters counters;
};

SimBus Bus;

HANDLE handleOf(std::size_t slot) { return reinterpret_cast<HANDLE>(FIRST_HANDLE + slot); }

// The device behind an open handle whose device is still plugged in; null otherwise.
SimBusDevice* presentDevice(HANDLE handle) {
    const int device = simBusDeviceOfHandle(handle);
    if (device < 0) return nullptr;
    SimBusDevice& d = Bus.devices[static_cast<std::size_t>(device)];
    return d.present ? &d : nullptr;
}

}  // namespace

void simBusReset() { Bus = SimBus{}; }

int simBusAdd(const SimConfig& config, bool openable) {
    SimBusDevice device;
    simInitUnit(device.unit, config);
    device.openable = openable;
    const int number = static_cast<int>(Bus.devices.size());
    wchar_t path[96];
    std::swprintf(path, sizeof path / sizeof path[0],
                  L"\\\\?\\hid#vid_%04x&pid_%04x#sim&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  unsigned{config.vendorId}, unsigned{config.productId}, number);
    device.path = path;
    Bus.devices.push_back(device);
    return number;
}

SimBusDevice& simBusDevice(int device) { return Bus.devices.at(static_cast<std::size_t>(device)); }
SimUnit& simBusUnit(int device) { return simBusDevice(device).unit; }
const wchar_t* simBusPath(int device) { return simBusDevice(device).path.c_str(); }
void simBusUnplug(int device) { simBusDevice(device).present = false; }

int simBusDeviceOfHandle(HANDLE handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < FIRST_HANDLE || value - FIRST_HANDLE >= Bus.handles.size()) return -1;
    return Bus.handles[value - FIRST_HANDLE];
}

std::uint32_t simBusLastError() { return Bus.lastError; }
void simBusObserveWrites(SimWriteObserver observer) { Bus.writeObserver = observer; }

namespace {

bool succeed() {
    Bus.lastError = 0;
    return true;
}

bool fail(std::uint32_t error) {
    Bus.lastError = error;
    return false;
}

// Why I/O on the handle failed: the unit or its device went away, or it refused.
std::uint32_t failureOf(const SimBusDevice* device, std::uint32_t refusal) {
    return device == nullptr || device->unit.vanished ? SIM_ERROR_DEVICE_NOT_CONNECTED : refusal;
}

}  // namespace

void simBusSetListAvailable(bool available) { Bus.listAvailable = available; }
std::uint64_t simBusClockUs() { return Bus.clockUs; }
void simBusAdvanceMs(std::uint32_t ms) { Bus.clockUs += ms * US_PER_MS; }
void simBusAdvanceUs(std::uint64_t us) { Bus.clockUs += us; }
const SimBusCounters& simBusCounters() { return Bus.counters; }

HidScanOutcome hidPortScanInterfaces(HidInterfaceVisitor visit, void* context) {
    ++Bus.counters.scans;
    if (!Bus.listAvailable) return HidScanOutcome::ListUnavailable;
    // The visitor may open devices, never add them, so the list stays as it is during the scan.
    for (const SimBusDevice& device : Bus.devices) {
        if (device.present && visit(device.path.c_str(), context)) return HidScanOutcome::Taken;
    }
    return HidScanOutcome::Exhausted;
}

HANDLE hidPortOpen(const wchar_t* path) {
    ++Bus.counters.openCalls;
    for (std::size_t i = 0; i < Bus.devices.size(); ++i) {
        SimBusDevice& device = Bus.devices[i];
        if (device.path != path) continue;
        if (!device.present || !device.openable) return INVALID_HANDLE_VALUE;
        ++device.opens;
        ++Bus.counters.openHandles;
        Bus.handles.push_back(static_cast<int>(i));
        return handleOf(Bus.handles.size() - 1);
    }
    return INVALID_HANDLE_VALUE;
}

void hidPortClose(HANDLE device) {
    if (simBusDeviceOfHandle(device) < 0) {
        ++Bus.counters.badCloses;
        return;
    }
    ++Bus.counters.closeCalls;
    --Bus.counters.openHandles;
    Bus.handles[reinterpret_cast<std::uintptr_t>(device) - FIRST_HANDLE] = -1;
}

bool hidPortGetAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId) {
    ++Bus.counters.attributeQueries;
    const SimBusDevice* d = presentDevice(device);
    if (d == nullptr || !d->attributesReadable) return false;
    *vendorId = d->unit.config.vendorId;
    *productId = d->unit.config.productId;
    return true;
}

bool hidPortGetReportLengths(HANDLE device, std::uint16_t* inputBytes, std::uint16_t* outputBytes) {
    const SimBusDevice* d = presentDevice(device);
    if (d == nullptr || !d->lengthsReadable) return false;
    *inputBytes = d->unit.config.inputReportLength;
    *outputBytes = d->unit.config.outputReportLength;
    return true;
}

bool hidPortDiscardPendingInput(HANDLE device) {
    ++Bus.counters.discards;
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr || d->unit.vanished) return fail(SIM_ERROR_DEVICE_NOT_CONNECTED);
    simDiscardReadyReplies(d->unit, Bus.clockUs);
    return succeed();
}

bool hidPortWrite(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    (void)timeoutMs;  // the simulated unit takes or refuses a request at once
    ++Bus.counters.writes;
    if (length > Bus.counters.largestWrite) Bus.counters.largestWrite = length;
    if (Bus.writeObserver != nullptr) Bus.writeObserver(report, length);
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr || !simWriteRequest(d->unit, report, length, Bus.clockUs)) {
        return fail(failureOf(d, SIM_ERROR_GEN_FAILURE));
    }
    if (d->scriptedUsed < d->scriptedReplies.size() && !d->unit.owed.empty()) {
        const std::vector<std::uint8_t>& script = d->scriptedReplies[d->scriptedUsed++];
        std::uint8_t* bytes = d->unit.owed.back().bytes;
        std::memset(bytes, 0, SIM_REPORT_BYTES);
        if (!script.empty()) std::memcpy(bytes, script.data(), std::min<std::size_t>(script.size(), SIM_REPORT_BYTES));
    }
    return succeed();
}

bool hidPortRead(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    ++Bus.counters.reads;
    if (length > Bus.counters.largestRead) Bus.counters.largestRead = length;
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr) return fail(SIM_ERROR_DEVICE_NOT_CONNECTED);
    const std::uint64_t deadlineUs = Bus.clockUs + timeoutMs * US_PER_MS;
    // With nothing owed a real read would wait for input that never comes.
    if (d->unit.owed.empty() && !d->unit.vanished) {
        Bus.clockUs = deadlineUs;
        ++Bus.counters.readTimeouts;
        return fail(SIM_ERROR_TIMEOUT);
    }
    for (;;) {
        std::uint64_t readyAtUs = 0;
        switch (simReadReply(d->unit, report, length, Bus.clockUs, &readyAtUs)) {
            case SimReadOutcome::Reply: return succeed();
            case SimReadOutcome::Failed: return fail(failureOf(d, SIM_ERROR_IO_DEVICE));
            case SimReadOutcome::NotYet: break;
        }
        if (readyAtUs > deadlineUs) {
            Bus.clockUs = deadlineUs;
            ++Bus.counters.readTimeouts;
            return fail(SIM_ERROR_TIMEOUT);
        }
        Bus.clockUs = readyAtUs;
    }
}

void hidPortSleep(std::uint32_t ms) { Bus.clockUs += ms * US_PER_MS; }
