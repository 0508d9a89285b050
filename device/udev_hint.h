// What the command-line updater prints on Linux when a programming unit cannot be opened: the
// udev rule and the commands that install it, or what to do about a unit another program holds.
// The rule's lines are those of packaging/linux/70-quenlor.rules (a native test keeps them equal).
#pragma once

// A macro only so that the rule's text can be spliced into the hint below at compile time.
#define QUENLOR_UDEV_RULE_LINES                                                                   \
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"2f1e\", ATTRS{idProduct}==\"0001\", TAG+=\"uaccess\"\n" \
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"2f1e\", ATTRS{idProduct}==\"0002\", TAG+=\"uaccess\"\n" \
    "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:2F1E:0001.*\", TAG+=\"uaccess\"\n"                          \
    "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:2F1E:0002.*\", TAG+=\"uaccess\"\n"                          \
    "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"2f1e\", ATTR{idProduct}==\"0001\", TAG+=\"uaccess\"\n"       \
    "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"2f1e\", ATTR{idProduct}==\"0002\", TAG+=\"uaccess\"\n"

constexpr const char* UDEV_RULE_FILE_NAME = "70-quenlor.rules";
constexpr const char* UDEV_RULE_LINES = QUENLOR_UDEV_RULE_LINES;

// The fix for a unit that may not be opened, ready to paste into a shell.
constexpr const char* UDEV_INSTALL_HINT =
    "Permission denied: your user may not open the programming unit. Install the udev rule:\n"
    "\n"
    "sudo tee /etc/udev/rules.d/70-quenlor.rules >/dev/null <<'EOF'\n" QUENLOR_UDEV_RULE_LINES
    "EOF\n"
    "sudo udevadm control --reload-rules && sudo udevadm trigger\n"
    "\n"
    "Then unplug the programming unit and plug it in again.\n";

// Another program holds the unit: nothing to install, only something to close.
constexpr const char* UNIT_BUSY_HINT =
    "The programming unit is in use by another program. Close that program and try again.\n";
