// The page's HID port over the worker's WebHID (see hid_port_web.cpp).
#pragma once

#include "device/device_link.h"
#include "device/hid_port.h"

extern const HidPort WEB_HID_PORT;

// How a write or a read ended; the scripts get these numbers as
// TRANSFER_OUTCOME in the generated page_constants.js.
enum TransferOutcome { TRANSFER_DONE = 0, TRANSFER_TIMED_OUT = 1, TRANSFER_DEVICE_GONE = 2, TRANSFER_FAILED = 3 };

// How the last open through this port ended; AccessDenied where the system refused the unit.
HidOpenFailure webLastOpenFailure();
