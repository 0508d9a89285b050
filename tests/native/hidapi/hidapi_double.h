// A stand-in for the hidapi library, backed by the simulated bus (sim/sim_hid_port.h): the hidapi
// port is linked against these functions instead of the system's library, so it is tested down to
// the calls it makes. Paths are the bus paths, each character a byte.
#pragma once

#include "sim/sim_hid_port.h"

#include <cstdint>
#include <string>
#include <vector>

// An empty bus (simBusReset), no overrides, every record cleared, and HIDAPI_HID_PORT chosen.
void hidapiDoubleReset();

// What the double saw, per bus device.
struct HidapiDoubleDevice {
    std::uint32_t openCalls = 0;             // hid_open_path, refused ones included
    std::vector<std::uint32_t> writeLengths;  // the length of every hid_write
    std::vector<int> readTimeouts;           // the time limit of every hid_read_timeout
    std::vector<std::uint8_t> descriptor;    // served instead of the one made from the lengths
    bool descriptorFails = false;
    bool loseErrnoOnOpen = false;            // a refused open that leaves errno 0
};
HidapiDoubleDevice& hidapiDoubleDevice(int device);

std::uint32_t hidapiDoubleEnumerations();
std::uint32_t hidapiDoubleOpenDevices();  // hid_device objects not yet closed

// The descriptor of a unit whose reports have these lengths, report ID included: report ID 1
// output, report ID 2 input, on a vendor page.
std::vector<std::uint8_t> unitReportDescriptor(std::uint16_t inputBytes, std::uint16_t outputBytes);
