#include "sim/sim_hid_port.h"

#include "device/hid_port.h"
#include "device/precise_wait.h"

#include <algorithm>
#include <cerrno>
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
    std::uint64_t clockUs = 0;  // the virtual clock; unused in real time
    bool realTime = false;
    SimBusCounters counters;
    std::uint32_t lastError = 0;
    SimWriteObserver writeObserver = nullptr;
};

SimBus Bus;

// The bus's time: the virtual clock, or the monotonic clock the program's own waits use.
std::uint64_t nowUs() { return Bus.realTime ? monotonicNowUs() : Bus.clockUs; }

// Lets the bus's time reach untilUs: the virtual clock jumps there, real time is waited for.
void passTimeUntil(std::uint64_t untilUs) {
    if (Bus.realTime) {
        waitUntilUs(untilUs, nullptr);
    } else if (untilUs > Bus.clockUs) {
        Bus.clockUs = untilUs;
    }
}

HANDLE handleOf(std::size_t slot) { return reinterpret_cast<HANDLE>(FIRST_HANDLE + slot); }

// The device behind an open handle whose device is still plugged in; null otherwise.
SimBusDevice* presentDevice(HANDLE handle) {
    const int device = simBusDeviceOfHandle(handle);
    if (device < 0) return nullptr;
    SimBusDevice& d = Bus.devices[static_cast<std::size_t>(device)];
    return d.present ? &d : nullptr;
}

// The bus reports its failures as errno values, as a POSIX system would, and leaves them in errno.
bool failWith(int error) {
    Bus.lastError = static_cast<std::uint32_t>(error);
    errno = error;
    return false;
}

// A transfer that went through leaves no error behind, as on Windows.
bool succeed() {
    Bus.lastError = 0;
    return true;
}

HidScanOutcome scanInterfaces(HidInterfaceVisitor visit, void* context) {
    ++Bus.counters.scans;
    if (!Bus.listAvailable) return HidScanOutcome::ListUnavailable;
    // The visitor may open devices, never add them, so the list stays as it is during the scan.
    for (const SimBusDevice& device : Bus.devices) {
        if (device.present && visit(device.path.c_str(), context)) return HidScanOutcome::Taken;
    }
    return HidScanOutcome::Exhausted;
}

bool listInterfaces(HidInterfaceInfoVisitor visit, void* context) {
    ++Bus.counters.listings;
    if (!Bus.listAvailable) return false;
    for (const SimBusDevice& device : Bus.devices) {
        if (!device.present) continue;
        if (visit(HidInterfaceInfo{device.path.c_str(), device.unit.config.vendorId, device.unit.config.productId},
                  context)) {
            break;
        }
    }
    return true;
}

HANDLE openInterface(const wchar_t* path, HidOpenFailure* failure) {
    ++Bus.counters.openCalls;
    for (std::size_t i = 0; i < Bus.devices.size(); ++i) {
        SimBusDevice& device = Bus.devices[i];
        if (device.path != path) continue;
        if (!device.present) break;
        if (!device.openable) {
            *failure = device.openRefusal;
            failWith(simErrnoOfOpenFailure(device.openRefusal));
            return INVALID_HANDLE_VALUE;
        }
        ++device.opens;
        ++Bus.counters.openHandles;
        Bus.handles.push_back(static_cast<int>(i));
        *failure = HidOpenFailure::None;
        return handleOf(Bus.handles.size() - 1);
    }
    *failure = HidOpenFailure::NotFound;
    failWith(ENOENT);
    return INVALID_HANDLE_VALUE;
}

void closeInterface(HANDLE device) {
    if (simBusDeviceOfHandle(device) < 0) {
        ++Bus.counters.badCloses;
        return;
    }
    ++Bus.counters.closeCalls;
    --Bus.counters.openHandles;
    Bus.handles[reinterpret_cast<std::uintptr_t>(device) - FIRST_HANDLE] = -1;
}

bool getAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId) {
    ++Bus.counters.attributeQueries;
    const SimBusDevice* d = presentDevice(device);
    if (d == nullptr || !d->attributesReadable) return failWith(ENODEV);
    *vendorId = d->unit.config.vendorId;
    *productId = d->unit.config.productId;
    return true;
}

bool getReportLengths(HANDLE device, UnitReportLengths* lengths) {
    const SimBusDevice* d = presentDevice(device);
    if (d == nullptr || !d->lengthsReadable) return failWith(ENODEV);
    const bool counted = d->reportLayout == ReportLayout::Counted;
    *lengths = {d->reportLayout, counted ? d->unit.config.inputReportLength : 0u,
                counted ? d->unit.config.outputReportLength : 0u};
    return true;
}

bool discardPendingInput(HANDLE device) {
    ++Bus.counters.discards;
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr || d->unit.vanished) return failWith(ENODEV);
    simDiscardReadyReplies(d->unit, nowUs());
    return succeed();
}

bool writeReport(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    (void)timeoutMs;  // the simulated unit takes or refuses a request at once
    ++Bus.counters.writes;
    if (length > Bus.counters.largestWrite) Bus.counters.largestWrite = length;
    if (Bus.writeObserver != nullptr) Bus.writeObserver(report, length);
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr) return failWith(ENODEV);
    if (!simWriteRequest(d->unit, report, length, nowUs())) return failWith(d->unit.vanished ? ENODEV : EIO);
    if (d->scriptedUsed < d->scriptedReplies.size() && !d->unit.owed.empty()) {
        const std::vector<std::uint8_t>& script = d->scriptedReplies[d->scriptedUsed++];
        std::uint8_t* bytes = d->unit.owed.back().bytes;
        std::memset(bytes, 0, SIM_REPORT_BYTES);
        if (!script.empty()) std::memcpy(bytes, script.data(), std::min<std::size_t>(script.size(), SIM_REPORT_BYTES));
    }
    return succeed();
}

bool readReport(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    ++Bus.counters.reads;
    if (length > Bus.counters.largestRead) Bus.counters.largestRead = length;
    SimBusDevice* d = presentDevice(device);
    if (d == nullptr) return failWith(ENODEV);
    const std::uint64_t deadlineUs = nowUs() + timeoutMs * US_PER_MS;
    // With nothing owed a real read would wait for input that never comes.
    if (d->unit.owed.empty() && !d->unit.vanished) {
        passTimeUntil(deadlineUs);
        ++Bus.counters.readTimeouts;
        return failWith(ETIMEDOUT);
    }
    for (;;) {
        std::uint64_t readyAtUs = 0;
        switch (simReadReply(d->unit, report, length, nowUs(), &readyAtUs)) {
            case SimReadOutcome::Reply: return succeed();
            case SimReadOutcome::Failed: return failWith(d->unit.vanished ? ENODEV : EIO);
            case SimReadOutcome::NotYet: break;
        }
        if (readyAtUs > deadlineUs) {
            passTimeUntil(deadlineUs);
            ++Bus.counters.readTimeouts;
            return failWith(ETIMEDOUT);
        }
        passTimeUntil(readyAtUs);
    }
}

void sleepOnBus(std::uint32_t ms) { passTimeUntil(nowUs() + ms * US_PER_MS); }

std::uint32_t lastError() { return Bus.lastError; }

}  // namespace

extern const HidPort SIM_HID_PORT = {
    "sim",       scanInterfaces, listInterfaces, openInterface, closeInterface, getAttributes, getReportLengths,
    discardPendingInput, writeReport, readReport, sleepOnBus, lastError,
};

int simErrnoOfOpenFailure(HidOpenFailure failure) {
    switch (failure) {
        case HidOpenFailure::AccessDenied: return EACCES;
        case HidOpenFailure::Busy: return EBUSY;
        case HidOpenFailure::NotFound: return ENOENT;
        case HidOpenFailure::None:
        case HidOpenFailure::Other: break;
    }
    return EIO;
}

void simBusReset() {
    Bus = SimBus{};
    useHidPort(SIM_HID_PORT);
}

void simBusUseRealTime(bool realTime) { Bus.realTime = realTime; }

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

int simBusDeviceCount() { return static_cast<int>(Bus.devices.size()); }
SimBusDevice& simBusDevice(int device) { return Bus.devices.at(static_cast<std::size_t>(device)); }
SimUnit& simBusUnit(int device) { return simBusDevice(device).unit; }
const wchar_t* simBusPath(int device) { return simBusDevice(device).path.c_str(); }
void simBusUnplug(int device) { simBusDevice(device).present = false; }

int simBusDeviceOfHandle(HANDLE handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < FIRST_HANDLE || value - FIRST_HANDLE >= Bus.handles.size()) return -1;
    return Bus.handles[value - FIRST_HANDLE];
}

void simBusSetListAvailable(bool available) { Bus.listAvailable = available; }
std::uint64_t simBusClockUs() { return nowUs(); }
void simBusAdvanceMs(std::uint32_t ms) { passTimeUntil(nowUs() + ms * US_PER_MS); }
void simBusAdvanceUs(std::uint64_t us) { passTimeUntil(nowUs() + us); }
void simBusObserveWrites(SimWriteObserver observer) { Bus.writeObserver = observer; }
const SimBusCounters& simBusCounters() { return Bus.counters; }
