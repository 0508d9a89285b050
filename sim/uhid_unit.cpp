// quenlor_uhid_unit: the simulated unit as a HID device of the running kernel. It makes the device
// on /dev/uhid, so that the kernel's hidraw node, hidapi and a browser's WebHID reach it as they
// reach a unit on USB, and answers every output report through SimUnit, with its faults. A Vanish
// fault pulls the device (UHID_DESTROY); --replug-after-ms plugs it in again, with the ESC's flash
// as the unplug left it. On SIGTERM or SIGINT it ends and leaves in --out: flash.bin (the ESC's
// flash) and transcript.txt (a line per request: received and sent times in microseconds of the
// monotonic clock, command code, data length byte); SIGUSR1 leaves both at once. While the device is there, --out/node names
// its hidraw node.
//
// Linux only, for the lane on a real kernel (tests/kernel/); it needs write access to /dev/uhid.
#include "device/device_link.h"
#include "device/precise_wait.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "sim/sim_unit.h"

#include <linux/uhid.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ctime>
#include <glob.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

constexpr std::uint64_t NEVER = UINT64_MAX;
constexpr std::uint64_t US_PER_MS = 1000;
// How long the kernel may take to bind hid_generic and make the hidraw node.
constexpr std::uint64_t NODE_WAIT_US = 10 * 1000 * 1000;
constexpr std::uint8_t REPORT_PAYLOAD_BYTES = SIM_REPORT_BYTES - 1;

// Vendor usage page, one application collection, output report 1 and input report 2 of 59 bytes.
constexpr std::uint8_t REPORT_DESCRIPTOR[] = {
    0x06, 0x00, 0xFF,                   // usage page 0xFF00
    0x09, 0x01,                         // usage 1
    0xA1, 0x01,                         // collection (application)
    0x15, 0x00, 0x26, 0xFF, 0x00,       // logical 0 to 255
    0x75, 0x08,                         // 8 bits
    0x85, REQUEST_REPORT_ID, 0x09, 0x01, 0x95, REPORT_PAYLOAD_BYTES, 0x91, 0x02,  // output report
    0x85, REPLY_REPORT_ID, 0x09, 0x01, 0x95, REPORT_PAYLOAD_BYTES, 0x81, 0x02,    // input report
    0xC0,                               // end collection
};

volatile std::sig_atomic_t Stopping = 0;
volatile std::sig_atomic_t SnapshotAsked = 0;
void onStop(int) { Stopping = 1; }
void onSnapshot(int) { SnapshotAsked = 1; }

struct Options {
    SimConfig config;
    std::string out = ".";
    std::string uniq;
    std::uint64_t replugAfterMs = NEVER;
};

bool writeEvent(int fd, const uhid_event& event) {
    return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool create(int fd, const Options& options) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "Quenlor simulated unit");
    std::snprintf(reinterpret_cast<char*>(event.u.create2.uniq), sizeof event.u.create2.uniq, "%s",
                  options.uniq.c_str());
    event.u.create2.rd_size = sizeof REPORT_DESCRIPTOR;
    event.u.create2.bus = BUS_USB;
    event.u.create2.vendor = options.config.vendorId;
    event.u.create2.product = options.config.productId;
    std::memcpy(event.u.create2.rd_data, REPORT_DESCRIPTOR, sizeof REPORT_DESCRIPTOR);
    return writeEvent(fd, event);
}

void destroy(int fd) {
    uhid_event event{};
    event.type = UHID_DESTROY;
    writeEvent(fd, event);
}

void writeText(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::rename(part.c_str(), path.c_str());  // readers never see half a file
}

// The hidraw node whose HID device carries our uniq; empty until the kernel has made it.
std::string findNode(const std::string& uniq) {
    glob_t found{};
    std::string node;
    if (glob("/sys/class/hidraw/hidraw*/device/uevent", 0, nullptr, &found) == 0) {
        const std::string wanted = "HID_UNIQ=" + uniq + "\n";
        for (std::size_t i = 0; i < found.gl_pathc && node.empty(); ++i) {
            std::FILE* file = std::fopen(found.gl_pathv[i], "rb");
            if (file == nullptr) continue;
            char text[4096];
            const std::size_t got = std::fread(text, 1, sizeof text - 1, file);
            std::fclose(file);
            text[got] = '\0';
            if (std::strstr(text, wanted.c_str()) == nullptr) continue;
            const std::string path = found.gl_pathv[i];
            const std::size_t start = std::strlen("/sys/class/hidraw/");
            node = "/dev/" + path.substr(start, path.find('/', start) - start);
        }
    }
    globfree(&found);
    return node;
}

bool plug(int fd, const Options& options) {
    if (!create(fd, options)) return false;
    const std::uint64_t until = monotonicNowUs() + NODE_WAIT_US;
    std::string node;
    while ((node = findNode(options.uniq)).empty()) {
        if (monotonicNowUs() > until) return false;
        waitAtLeast(5, nullptr);
    }
    writeText(options.out + "/node", node + "\n");
    std::printf("plugged %s\n", node.c_str());
    std::fflush(stdout);
    return true;
}

void unplug(int fd, const Options& options) {
    destroy(fd);
    std::remove((options.out + "/node").c_str());
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);  // for the shell's $EPOCHREALTIME
    std::printf("unplugged at %lld.%06ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    std::fflush(stdout);
}

// Power comes back: a fresh unit with the flash and firmware state its ESC kept, and the transcript.
void restart(SimUnit& unit) {
    SimConfig config = unit.config;
    config.fault = SimFault{};
    SimUnit fresh;
    simInitUnit(fresh, config);
    fresh.flash = unit.flash;
    fresh.escFirmwareVersion = unit.escFirmwareVersion;
    fresh.transcript = unit.transcript;
    unit = fresh;
}

void sendReplies(int fd, SimUnit& unit, std::uint64_t* nextDueUs) {
    *nextDueUs = NEVER;
    while (!unit.owed.empty()) {
        uhid_event event{};
        event.type = UHID_INPUT2;
        std::uint64_t readyAt = NEVER;
        const SimReadOutcome outcome =
            simReadReply(unit, event.u.input2.data, unit.config.inputReportLength, monotonicNowUs(), &readyAt);
        if (outcome == SimReadOutcome::NotYet) {
            *nextDueUs = readyAt;
            return;
        }
        if (outcome == SimReadOutcome::Failed) continue;  // a lost reply: the host never gets it
        event.u.input2.size = unit.config.inputReportLength;
        writeEvent(fd, event);
    }
}

// The kernel waits for an answer to these; the unit has no feature reports.
void refuseReportRequest(int fd, const uhid_event& request) {
    uhid_event reply{};
    if (request.type == UHID_GET_REPORT) {
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = request.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
    } else {
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = request.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
    }
    writeEvent(fd, reply);
}

void saveResults(const SimUnit& unit, const Options& options) {
    writeText(options.out + "/flash.bin", std::string(unit.flash.begin(), unit.flash.end()));
    std::string lines;
    char line[96];
    for (const SimRequest& r : unit.transcript) {
        std::snprintf(line, sizeof line, "%llu %llu 0x%02x %u\n", static_cast<unsigned long long>(r.receivedAtUs),
                      static_cast<unsigned long long>(r.sentAtUs), r.bytes[1], r.bytes[2]);
        lines += line;
    }
    writeText(options.out + "/transcript.txt", lines);
}

const char* const USAGE =
    "usage: quenlor_uhid_unit --out DIR [--model 60|140|90] [--product 1|2] [--esc-firmware 0xNNNN]\n"
    "         [--fault fail-write|fail-read|error-reply|never-answer|vanish:COMMAND[:BLOCK]]\n"
    "         [--replug-after-ms MS] [--uniq TEXT]\n";

bool parseFault(const char* text, SimFault* fault) {
    static const struct {
        const char* name;
        SimFaultKind kind;
    } KINDS[] = {{"fail-write", SimFaultKind::FailWrite},
                 {"fail-read", SimFaultKind::FailRead},
                 {"error-reply", SimFaultKind::ErrorReply},
                 {"never-answer", SimFaultKind::NeverAnswer},
                 {"vanish", SimFaultKind::Vanish}};
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) return false;
    for (const auto& k : KINDS) {
        if (std::strncmp(text, k.name, static_cast<std::size_t>(colon - text)) != 0 ||
            std::strlen(k.name) != static_cast<std::size_t>(colon - text)) {
            continue;
        }
        char* end = nullptr;
        *fault = simFault(k.kind, static_cast<std::uint8_t>(std::strtoul(colon + 1, &end, 0)));
        if (*end == ':') fault->blockIndex = static_cast<std::uint32_t>(std::strtoul(end + 1, &end, 0));
        fault->errorCode = SIM_ERROR_PROTECTED;
        return *end == '\0';
    }
    return false;
}

bool selectModel(const char* number, SimConfig* config) {
    for (const ModelRow& row : MODEL_ROWS) {
        char name[64];
        std::snprintf(name, sizeof name, "%ls", row.name);
        const std::string padded = std::string(" ") + number + " ";
        if (std::strstr(name, padded.c_str()) == nullptr) continue;
        config->escHardwareId = HARDWARE_ID_FAMILY_A | row.idByte;
        return true;
    }
    return false;
}

bool parseOptions(int argc, char** argv, Options* options) {
    if (!selectModel("60", &options->config)) return false;
    options->uniq = "quenlor-unit-" + std::to_string(getpid());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        bool ok = true;
        if (name == "--out") {
            options->out = value;
        } else if (name == "--model") {
            ok = selectModel(value, &options->config);
        } else if (name == "--product") {
            options->config.productId = static_cast<std::uint16_t>(std::strtoul(value, nullptr, 0));
        } else if (name == "--esc-firmware") {
            options->config.escFirmwareVersion = static_cast<std::uint16_t>(std::strtoul(value, nullptr, 0));
        } else if (name == "--fault") {
            ok = parseFault(value, &options->config.fault);
        } else if (name == "--replug-after-ms") {
            options->replugAfterMs = std::strtoull(value, nullptr, 0);
        } else if (name == "--uniq") {
            options->uniq = value;
        } else {
            ok = false;
        }
        if (!ok) return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    // The signals are held except inside ppoll, so that none slips in between its flag's check
    // and the wait.
    sigset_t held;
    sigset_t waiting;
    sigemptyset(&held);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGUSR1);
    sigprocmask(SIG_BLOCK, &held, &waiting);
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction snapshot {};
    snapshot.sa_handler = onSnapshot;
    sigaction(SIGUSR1, &snapshot, nullptr);

    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "quenlor_uhid_unit: /dev/uhid: %s\n", std::strerror(errno));
        return 1;
    }
    SimUnit unit;
    simInitUnit(unit, options.config);
    if (!plug(fd, options)) {
        std::fprintf(stderr, "quenlor_uhid_unit: no hidraw node appeared for the unit\n");
        return 1;
    }

    bool present = true;
    std::uint64_t replyDueUs = NEVER;
    std::uint64_t replugAtUs = NEVER;
    while (!Stopping) {
        if (SnapshotAsked) {
            SnapshotAsked = 0;
            saveResults(unit, options);
        }
        const std::uint64_t now = monotonicNowUs();
        if (!present && now >= replugAtUs) {
            restart(unit);
            replugAtUs = NEVER;
            present = plug(fd, options);
            if (!present) break;
        }
        if (present && now >= replyDueUs) sendReplies(fd, unit, &replyDueUs);

        const std::uint64_t wakeUs = std::min(present ? replyDueUs : NEVER, replugAtUs);
        const std::uint64_t after = monotonicNowUs();
        const std::uint64_t waitUs = wakeUs > after ? wakeUs - after : 0;
        const timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        pollfd watch{fd, POLLIN, 0};
        if (ppoll(&watch, 1, wakeUs == NEVER ? nullptr : &timeout, &waiting) <= 0) continue;

        uhid_event event{};
        if (read(fd, &event, sizeof event) <= 0) continue;
        if (event.type == UHID_GET_REPORT || event.type == UHID_SET_REPORT) {
            refuseReportRequest(fd, event);
            continue;
        }
        if (event.type != UHID_OUTPUT || !present) continue;
        if (!simWriteRequest(unit, event.u.output.data, event.u.output.size, monotonicNowUs()) && unit.vanished) {
            unplug(fd, options);
            present = false;
            if (options.replugAfterMs != NEVER) replugAtUs = monotonicNowUs() + options.replugAfterMs * US_PER_MS;
            continue;
        }
        sendReplies(fd, unit, &replyDueUs);
    }
    if (present) destroy(fd);
    close(fd);
    saveResults(unit, options);
    return 0;
}
