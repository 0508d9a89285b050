// Runs the whole command-line updater in the test's own process against the simulated bus on its
// virtual clock, with standard input, output and error captured.
#pragma once

#include "cli/cli.h"
#include "sim/sim_hid_port.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct CliRun {
    int exitCode;
    std::string out;
    std::string err;
};

struct CliTerminal {
    bool in = false;
    bool out = false;
    std::string input;  // what the person types
    // Called each time the program reads what the person types, before it gets the text: what
    // happens while a question is open.
    void (*whileAsked)() = nullptr;
};

CliRun runCli(const std::vector<std::string>& args, const CliTerminal& terminal = CliTerminal{});

// Standard output parsed as JSON lines; an unparsable line fails the test and gives null there.
std::vector<nlohmann::json> jsonLines(const std::string& out);

// A fresh bus with one unit as configured.
int plugUnit(const SimConfig& config, bool openable = true);
// A compatible ESC of the model row with the given index, firmware 1.5, on a VexoBOX.
SimConfig escOfModel(std::size_t modelIndex);
