#include "tests/native/cli/cli_harness.h"

#include "cli/cli_platform.h"
#include "model/compatibility.h"
#include "model/model_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

std::uint64_t virtualNowUs() { return simBusClockUs(); }

void virtualWaitUntil(std::uint64_t deadlineUs) {
    const std::uint64_t now = simBusClockUs();
    if (deadlineUs > now) simBusAdvanceUs(deadlineUs - now);
}

struct TypedInput {
    std::string text;
    std::size_t position;
    void (*whileAsked)();
};

ssize_t readTyped(void* cookie, char* buffer, std::size_t size) {
    TypedInput& input = *static_cast<TypedInput*>(cookie);
    if (input.whileAsked != nullptr) input.whileAsked();
    const std::size_t left = input.text.size() - input.position;
    const std::size_t given = left < size ? left : size;
    std::memcpy(buffer, input.text.data() + input.position, given);
    input.position += given;
    return static_cast<ssize_t>(given);
}

}  // namespace

CliRun runCli(const std::vector<std::string>& args, const CliTerminal& terminal) {
    std::vector<const char*> argv{"quenlor"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    char* outBytes = nullptr;
    std::size_t outSize = 0;
    char* errBytes = nullptr;
    std::size_t errSize = 0;
    std::FILE* out = open_memstream(&outBytes, &outSize);
    std::FILE* err = open_memstream(&errBytes, &errSize);
    // Unbuffered, so that every read of the program reaches readTyped and the hook.
    TypedInput input{terminal.input, 0, terminal.whileAsked};
    std::FILE* in = fopencookie(&input, "r", cookie_io_functions_t{readTyped, nullptr, nullptr, nullptr});
    std::setvbuf(in, nullptr, _IONBF, 0);

    const CliIo io{in, out, err, terminal.in, terminal.out, CliClock{virtualNowUs, virtualWaitUntil}, nullptr, false};
    CliRun run;
    run.exitCode = runQuenlor(static_cast<int>(argv.size() - 1), argv.data(), io);
    // The program holds interrupts from an update's lock until it exits; here it goes on instead,
    // and the next run must start as a fresh program does.
    holdInterrupts(false);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    run.out.assign(outBytes, outSize);
    run.err.assign(errBytes, errSize);
    std::free(outBytes);
    std::free(errBytes);
    return run;
}

std::vector<nlohmann::json> jsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(out);
    std::string line;
    while (std::getline(stream, line)) {
        nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(value.is_discarded()) << "not JSON: " << line;
        lines.push_back(value);
    }
    return lines;
}

int plugUnit(const SimConfig& config, bool openable) {
    simBusReset();
    return simBusAdd(config, openable);
}

SimConfig escOfModel(std::size_t modelIndex) {
    SimConfig config;
    config.escHardwareId = HARDWARE_ID_FAMILY_A | MODEL_ROWS[modelIndex].idByte;
    config.escFirmwareVersion = 0x0105;
    return config;
}
