// The firmware update behind the "Update" button.
#pragma once

// Runs the whole update, from the confirmations to the success text or the error box.
void runFirmwareUpdate();

// True while runFirmwareUpdate runs. The dialog keeps handling messages during the update's
// waits; while this is true it must ignore every command (Close, Update, Esc, Alt+F4).
bool isFirmwareUpdateRunning();
