// The HID port over hidapi, for Linux (hidraw backend) and macOS. hidapi tells vendor and product
// from its enumeration, so a scan visits only programming units and never opens a foreign device.
// One writer per unit: on Linux every open takes an exclusive flock on the unit's hidraw node, held
// until the close, so a second program on the same unit is refused as busy whichever user runs it,
// and other units stay free. Only a program that may open the node can hold it, so nobody can lock
// a user out by planting a file. On macOS hidapi opens the device exclusively itself.
// Failures leave an errno value in errno and in lastError: ETIMEDOUT for a read that was given up,
// ENODEV for a device that is gone, EACCES/EPERM/EBUSY/ENOENT for an open, EIO otherwise.
#include "device/hid_port.h"

#include "device/device_link.h"
#include "device/hid_report_descriptor.h"
#include "device/precise_wait.h"

#include <hidapi.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#if defined(QUENLOR_HIDAPI_REPORT_DESCRIPTOR) || HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
#define QUENLOR_DESCRIPTOR_FROM_HIDAPI 1
#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0)
// Older headers lack it; the build that asks for it links a hidapi that has it.
extern "C" int hid_get_report_descriptor(hid_device* dev, unsigned char* buf, size_t buf_size);
#endif
#elif defined(__linux__)
#define QUENLOR_DESCRIPTOR_FROM_HIDRAW 1
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#else
#error "reading a report descriptor needs hidapi 0.14 or later on this system"
#endif

#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/file.h>
#endif

namespace {

// The largest report descriptor a HID device can have (HID_MAX_DESCRIPTOR_SIZE on Linux).
constexpr std::size_t MAX_DESCRIPTOR_BYTES = 4096;
// A device that keeps sending unasked input faster than it can be read is broken; the flush gives
// up after this many reports rather than spin for ever.
constexpr int MAX_DISCARDED_REPORTS = 256;
constexpr std::size_t DISCARD_BUFFER_BYTES = 1024;

std::uint32_t LastError = 0;
bool Initialised = false;

bool failWith(int error) {
    LastError = static_cast<std::uint32_t>(error);
    errno = error;
    return false;
}

// errno after a failed hidapi call, or fallback when the call left none.
int errnoOr(int fallback) {
    const int error = errno;
    return error != 0 && error != EINTR && error != EAGAIN ? error : fallback;
}

bool ensureInitialised() {
    if (!Initialised) Initialised = hid_init() == 0;
    return Initialised;
}

// hidapi's paths are bytes, ours wide characters: each byte becomes the character of the same
// value and back, so every path survives the round trip whatever its encoding.
std::wstring widenPath(const char* path) {
    std::wstring wide;
    for (const char* c = path; *c != '\0'; ++c) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

bool narrowPath(const wchar_t* path, std::string* narrow) {
    narrow->clear();
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        const auto code = static_cast<std::uint32_t>(*c);
        if (code > 0xFF) return false;  // never made by widenPath
        narrow->push_back(static_cast<char>(static_cast<unsigned char>(*c)));
    }
    return true;
}

struct OpenUnit {
    hid_device* device;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string path;
    int lockedNode;  // the descriptor that holds the unit's flock; -1 where none could be taken
};

enum class UnitLock { Taken, HeldElsewhere, Unavailable };

// The exclusive lock on the unit's node, never waited for. Unavailable (no node, a system that
// cannot lock it) does not keep the person from the unit; only another holder does.
UnitLock lockUnitNode(const std::string& path, int* lockedNode) {
    *lockedNode = -1;
#if defined(__linux__)
    // Paths of the hidraw backend are the nodes themselves; others (the libusb backend) name none.
    if (path.empty() || path[0] != '/') return UnitLock::Unavailable;
    const int node = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (node < 0) return UnitLock::Unavailable;
    if (flock(node, LOCK_EX | LOCK_NB) == 0) {
        *lockedNode = node;
        return UnitLock::Taken;
    }
    const int error = errno;
    close(node);
    return error == EWOULDBLOCK ? UnitLock::HeldElsewhere : UnitLock::Unavailable;
#else
    (void)path;
    return UnitLock::Unavailable;
#endif
}

OpenUnit* unitOf(HANDLE handle) { return static_cast<OpenUnit*>(handle); }

// The link never passes a handle it did not get from the open, but a closed one must still fail.
bool isOpenHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

HidScanOutcome scanInterfaces(HidInterfaceVisitor visit, void* context) {
    if (!ensureInitialised()) {
        failWith(EIO);
        return HidScanOutcome::ListUnavailable;
    }
    // hid_enumerate gives null for an empty list and for a failure alike; both find no unit.
    hid_device_info* all = hid_enumerate(0, 0);
    HidScanOutcome outcome = HidScanOutcome::Exhausted;
    for (const hid_device_info* info = all; info != nullptr; info = info->next) {
        if (info->path == nullptr || !isProgrammingUnit(info->vendor_id, info->product_id)) continue;
        const std::wstring path = widenPath(info->path);
        if (visit(path.c_str(), context)) {
            outcome = HidScanOutcome::Taken;
            break;
        }
    }
    hid_free_enumeration(all);
    return outcome;
}

bool listInterfaces(HidInterfaceInfoVisitor visit, void* context) {
    if (!ensureInitialised()) return failWith(EIO);
    hid_device_info* all = hid_enumerate(0, 0);
    for (const hid_device_info* info = all; info != nullptr; info = info->next) {
        if (info->path == nullptr) continue;
        const std::wstring path = widenPath(info->path);
        if (visit(HidInterfaceInfo{path.c_str(), info->vendor_id, info->product_id}, context)) break;
    }
    hid_free_enumeration(all);
    return true;
}

// Vendor and product of a present interface, from the enumeration, without opening it.
bool findListedIds(const std::string& path, std::uint16_t* vendorId, std::uint16_t* productId) {
    hid_device_info* all = hid_enumerate(0, 0);
    bool found = false;
    for (const hid_device_info* info = all; info != nullptr; info = info->next) {
        if (info->path != nullptr && path == info->path) {
            *vendorId = info->vendor_id;
            *productId = info->product_id;
            found = true;
            break;
        }
    }
    hid_free_enumeration(all);
    return found;
}

HidOpenFailure openFailureOf(int error, const std::string& path) {
    switch (error) {
        case EACCES:
        case EPERM: return HidOpenFailure::AccessDenied;
        case EBUSY: return HidOpenFailure::Busy;
        case ENOENT:
        case ENODEV:
        case ENXIO: return HidOpenFailure::NotFound;
        default: break;
    }
#if defined(__linux__)
    // hidapi may report its own error text and lose errno on the way; the node's permissions
    // still tell whether the udev rule is missing.
    if (!path.empty() && path[0] == '/' && access(path.c_str(), R_OK | W_OK) != 0 &&
        (errno == EACCES || errno == EPERM)) {
        return HidOpenFailure::AccessDenied;
    }
#else
    (void)path;
#endif
    return HidOpenFailure::Other;
}

int errnoOfFailure(HidOpenFailure failure, int error) {
    if (error != 0) return error;
    return failure == HidOpenFailure::AccessDenied ? EACCES : EIO;
}

HANDLE openInterface(const wchar_t* path, HidOpenFailure* failure) {
    std::string narrow;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!narrowPath(path, &narrow) || !ensureInitialised() || !findListedIds(narrow, &vendorId, &productId)) {
        *failure = HidOpenFailure::NotFound;
        failWith(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    errno = 0;
    hid_device* device = hid_open_path(narrow.c_str());
    if (device == nullptr) {
        const int error = errnoOr(0);
        *failure = openFailureOf(error, narrow);
        failWith(errnoOfFailure(*failure, error));
        return INVALID_HANDLE_VALUE;
    }
    int lockedNode = -1;
    if (lockUnitNode(narrow, &lockedNode) == UnitLock::HeldElsewhere) {
        hid_close(device);
        *failure = HidOpenFailure::Busy;
        failWith(EBUSY);
        return INVALID_HANDLE_VALUE;
    }
    OpenUnit* unit = new (std::nothrow) OpenUnit{device, vendorId, productId, narrow, lockedNode};
    if (unit == nullptr) {
        if (lockedNode >= 0) close(lockedNode);
        hid_close(device);
        *failure = HidOpenFailure::Other;
        failWith(ENOMEM);
        return INVALID_HANDLE_VALUE;
    }
    *failure = HidOpenFailure::None;
    return unit;
}

void closeInterface(HANDLE handle) {
    if (!isOpenHandle(handle)) return;
    OpenUnit* unit = unitOf(handle);
    hid_close(unit->device);
    if (unit->lockedNode >= 0) close(unit->lockedNode);  // the flock goes with it
    delete unit;
}

bool getAttributes(HANDLE handle, std::uint16_t* vendorId, std::uint16_t* productId) {
    if (!isOpenHandle(handle)) return failWith(EBADF);
    const OpenUnit* unit = unitOf(handle);
    *vendorId = unit->vendorId;
    *productId = unit->productId;
    return true;
}

// The report descriptor's bytes; their count, or -1 with errno set.
int readReportDescriptor(const OpenUnit& unit, std::uint8_t (&descriptor)[MAX_DESCRIPTOR_BYTES]) {
#if defined(QUENLOR_DESCRIPTOR_FROM_HIDAPI)
    errno = 0;
    const int bytes = hid_get_report_descriptor(unit.device, descriptor, MAX_DESCRIPTOR_BYTES);
    if (bytes < 0) errno = errnoOr(EIO);
    return bytes;
#else
    // With the hidraw backend the path is the hidraw node, which hands out its descriptor.
    const int node = open(unit.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (node < 0) return -1;
    int size = 0;
    hidraw_report_descriptor raw;
    std::memset(&raw, 0, sizeof raw);
    int bytes = -1;
    if (ioctl(node, HIDIOCGRDESCSIZE, &size) == 0 && size >= 0 && static_cast<std::size_t>(size) <= sizeof raw.value &&
        static_cast<std::size_t>(size) <= MAX_DESCRIPTOR_BYTES) {
        raw.size = static_cast<std::uint32_t>(size);
        if (ioctl(node, HIDIOCGRDESC, &raw) == 0) {
            std::memcpy(descriptor, raw.value, raw.size);
            bytes = size;
        }
    }
    const int error = errno;
    close(node);
    if (bytes < 0) errno = error != 0 ? error : EIO;
    return bytes;
#endif
}

bool getReportLengths(HANDLE handle, UnitReportLengths* lengths) {
    if (!isOpenHandle(handle)) return failWith(EBADF);
    std::uint8_t descriptor[MAX_DESCRIPTOR_BYTES];
    const int bytes = readReportDescriptor(*unitOf(handle), descriptor);
    if (bytes < 0) return failWith(errnoOr(EIO));
    *lengths = unitReportLengthsFromDescriptor(descriptor, static_cast<std::size_t>(bytes));
    return true;
}

bool discardPendingInput(HANDLE handle) {
    if (!isOpenHandle(handle)) return failWith(EBADF);
    hid_device* device = unitOf(handle)->device;
    std::uint8_t scratch[DISCARD_BUFFER_BYTES];
    for (int report = 0; report < MAX_DISCARDED_REPORTS; ++report) {
        errno = 0;
        const int bytes = hid_read_timeout(device, scratch, sizeof scratch, 0);
        if (bytes == 0) return true;
        if (bytes < 0) return failWith(errnoOr(ENODEV));
    }
    return failWith(EIO);
}

// hidapi's write has no time limit of its own, and timeoutMs cannot be passed on. On Linux the
// kernel's USB HID driver gives up on the transfer after 5 s, five times WRITE_TIMEOUT_MS; on macOS
// nothing bounds it short of an unplug (device/hid_port.h says so for every port).
bool writeReport(HANDLE handle, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    (void)timeoutMs;
    if (!isOpenHandle(handle)) return failWith(EBADF);
    errno = 0;
    const int bytes = hid_write(unitOf(handle)->device, report, length);
    if (bytes < 0) return failWith(errnoOr(ENODEV));
    // A report that went out only in part is not the request the unit must see.
    if (static_cast<std::uint32_t>(bytes) != length) return failWith(EIO);
    return true;
}

// With numbered reports hidapi hands out the report ID as the first byte, as the Windows port
// does, so the link sees the same bytes on every system. A shorter report leaves the rest zero.
bool readReport(HANDLE handle, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    if (!isOpenHandle(handle)) return failWith(EBADF);
    const int timeout = timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    errno = 0;
    const int bytes = hid_read_timeout(unitOf(handle)->device, report, length, timeout);
    if (bytes == 0) return failWith(ETIMEDOUT);
    if (bytes < 0) return failWith(errnoOr(ENODEV));
    const std::uint32_t received = static_cast<std::uint32_t>(bytes);
    if (received < length) std::memset(report + received, 0, length - received);
    return true;
}

void sleepPlainly(std::uint32_t ms) { waitAtLeast(ms, nullptr); }

std::uint32_t lastError() { return LastError; }

}  // namespace

extern const HidPort HIDAPI_HID_PORT = {
    "hidapi",      scanInterfaces, listInterfaces, openInterface, closeInterface, getAttributes, getReportLengths,
    discardPendingInput, writeReport, readReport, sleepPlainly, lastError,
};
