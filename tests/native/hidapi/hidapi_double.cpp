#include "hidapi_double.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

// The opaque device of hidapi's header: here a handle on the simulated bus.
struct hid_device_ {
    HANDLE simHandle;
    int device;
};

namespace {

std::map<int, HidapiDoubleDevice> Devices;
std::uint32_t Enumerations = 0;
std::uint32_t OpenDevices = 0;

std::string narrowed(const wchar_t* wide) {
    std::string bytes;
    for (const wchar_t* c = wide; *c != L'\0'; ++c) bytes.push_back(static_cast<char>(static_cast<unsigned char>(*c)));
    return bytes;
}

int deviceOfPath(const char* path) {
    const int count = simBusDeviceCount();
    for (int d = 0; d < count; ++d) {
        if (narrowed(simBusPath(d)) == path) return d;
    }
    return -1;
}

}  // namespace

void hidapiDoubleReset() {
    simBusReset();
    Devices.clear();
    Enumerations = 0;
    OpenDevices = 0;
    useHidPort(HIDAPI_HID_PORT);
}

HidapiDoubleDevice& hidapiDoubleDevice(int device) { return Devices[device]; }
std::uint32_t hidapiDoubleEnumerations() { return Enumerations; }
std::uint32_t hidapiDoubleOpenDevices() { return OpenDevices; }

std::vector<std::uint8_t> unitReportDescriptor(std::uint16_t inputBytes, std::uint16_t outputBytes) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    auto report = [&d](std::uint8_t id, std::uint16_t bytes, std::uint8_t mainItem) {
        if (bytes == 0) return;
        const std::uint16_t count = static_cast<std::uint16_t>(bytes - 1);
        d.insert(d.end(), {0x85, id, 0x96, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                           0x09, 0x01, mainItem, 0x02});
    };
    report(1, outputBytes, 0x91);
    report(2, inputBytes, 0x81);
    d.push_back(0xC0);
    return d;
}

extern "C" {

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    ++Enumerations;
    hid_device_info* first = nullptr;
    hid_device_info** link = &first;
    const int count = simBusDeviceCount();
    for (int d = 0; d < count; ++d) {
        const SimBusDevice& device = simBusDevice(d);
        if (!device.present) continue;
        if (vendor_id != 0 && vendor_id != device.unit.config.vendorId) continue;
        if (product_id != 0 && product_id != device.unit.config.productId) continue;
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        const std::string path = narrowed(device.path.c_str());
        info->path = static_cast<char*>(std::calloc(path.size() + 1, 1));
        std::memcpy(info->path, path.c_str(), path.size());
        info->vendor_id = device.unit.config.vendorId;
        info->product_id = device.unit.config.productId;
        *link = info;
        link = &info->next;
    }
    return first;
}

void hid_free_enumeration(hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path) {
    const int device = deviceOfPath(path);
    if (device < 0) {
        errno = ENOENT;
        return nullptr;
    }
    HidapiDoubleDevice& record = Devices[device];
    ++record.openCalls;
    HidOpenFailure failure = HidOpenFailure::None;
    const HANDLE handle = SIM_HID_PORT.open(simBusPath(device), &failure);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = record.loseErrnoOnOpen ? 0 : simErrnoOfOpenFailure(failure);
        return nullptr;
    }
    ++OpenDevices;
    return new hid_device{handle, device};
}

void hid_close(hid_device* dev) {
    if (dev == nullptr) return;
    SIM_HID_PORT.close(dev->simHandle);
    --OpenDevices;
    delete dev;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    Devices[dev->device].writeLengths.push_back(static_cast<std::uint32_t>(length));
    if (!SIM_HID_PORT.write(dev->simHandle, data, static_cast<std::uint32_t>(length), 0)) return -1;
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    Devices[dev->device].readTimeouts.push_back(milliseconds);
    const std::uint32_t timeoutsBefore = simBusCounters().readTimeouts;
    const std::uint32_t limit = milliseconds < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(milliseconds);
    // The bus reads exactly as many bytes as asked; a report is never longer than the unit's.
    const std::uint32_t reportBytes = simBusDevice(dev->device).unit.config.inputReportLength;
    const std::uint32_t asked = static_cast<std::uint32_t>(std::min<size_t>(length, reportBytes));
    if (SIM_HID_PORT.read(dev->simHandle, data, asked, limit)) return static_cast<int>(asked);
    return simBusCounters().readTimeouts != timeoutsBefore ? 0 : -1;
}

int hid_get_report_descriptor(hid_device* dev, unsigned char* buf, size_t buf_size) {
    const HidapiDoubleDevice& record = Devices[dev->device];
    if (record.descriptorFails) {
        errno = EIO;
        return -1;
    }
    const SimConfig& config = simBusDevice(dev->device).unit.config;
    const std::vector<std::uint8_t> descriptor =
        record.descriptor.empty() ? unitReportDescriptor(config.inputReportLength, config.outputReportLength)
                                  : record.descriptor;
    const size_t bytes = std::min(buf_size, descriptor.size());
    std::memcpy(buf, descriptor.data(), bytes);
    return static_cast<int>(bytes);
}

}  // extern "C"
