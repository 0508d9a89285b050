// Writes page_constants.js: the numbers and names the page's scripts share with the core (the
// unit's IDs, the report IDs, the outcomes of an open and of a transfer, the models of ?sim=),
// taken from the core's own constants and the model table when the page is built, so that the
// scripts never hold a copy that can drift.
#include "device/device_link.h"
#include "device/hid_port.h"
#include "model/model_table.h"
#include "web/hid_port_web.h"

#include <cstdio>
#include <string>

namespace {

std::string ascii(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) out += static_cast<char>(*text);
    return out;
}

// The number in a model's name: "ZEPHANT 60 LV" is ?sim=60.
std::string modelNumber(const std::string& name) {
    std::string digits;
    for (char c : name) {
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_page_constants <page_constants.js>\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "// Generated when the page is built (web/make_page_constants.cpp) from the core's constants\n"
                 "// and the model table; edit those instead.\n"
                 "'use strict';\n"
                 "const UNIT_VENDOR_ID = 0x%04X;\n"
                 "const UNIT_PRODUCT_IDS = Object.freeze([%u, %u]);\n"
                 "const REQUEST_REPORT_ID = %u;\n"
                 "const REPLY_REPORT_ID = %u;\n"
                 "// HidOpenFailure of device/hid_port.h.\n"
                 "const OPEN_OUTCOME = Object.freeze({ok: %d, notFound: %d, accessDenied: %d, busy: %d, other: %d});\n"
                 "// TransferOutcome of web/hid_port_web.h.\n"
                 "const TRANSFER_OUTCOME = Object.freeze({done: %d, timedOut: %d, deviceGone: %d, failed: %d});\n",
                 unsigned{UNIT_VENDOR_ID}, unsigned{PRODUCT_ID_DIALPUCK}, unsigned{PRODUCT_ID_VEXOBOX},
                 unsigned{REQUEST_REPORT_ID}, unsigned{REPLY_REPORT_ID}, static_cast<int>(HidOpenFailure::None),
                 static_cast<int>(HidOpenFailure::NotFound), static_cast<int>(HidOpenFailure::AccessDenied),
                 static_cast<int>(HidOpenFailure::Busy), static_cast<int>(HidOpenFailure::Other), TRANSFER_DONE,
                 TRANSFER_TIMED_OUT, TRANSFER_DEVICE_GONE, TRANSFER_FAILED);
    std::string names;
    std::string sim;
    for (const ModelRow& row : MODEL_ROWS) {
        const std::string name = ascii(row.name);
        char entry[64];
        std::snprintf(entry, sizeof entry, "%s: 0x%02X", modelNumber(name).c_str(), unsigned{row.idByte});
        names += (names.empty() ? "'" : ", '") + name + "'";
        sim += (sim.empty() ? "" : ", ") + std::string(entry);
    }
    std::fprintf(out,
                 "// The models this updater serves, in the model table's order.\n"
                 "const MODEL_NAMES = Object.freeze([%s]);\n"
                 "// ?sim=<the number in a model's name>: the hardware ID byte of its simulated ESC.\n"
                 "const SIM_MODELS = Object.freeze({%s});\n",
                 names.c_str(), sim.c_str());
    return std::fclose(out) == 0 ? 0 : 1;
}
