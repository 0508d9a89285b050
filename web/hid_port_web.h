// The page's HID port over the worker's WebHID (see hid_port_web.cpp).
#pragma once

#include "device/device_link.h"
#include "device/hid_port.h"

extern const HidPort WEB_HID_PORT;

// How the last open through this port ended; AccessDenied where the system refused the unit.
HidOpenFailure webLastOpenFailure();
