// The command line, read with CLI11 into a plain record; nothing CLI11 throws leaves parseCliArgs.
#pragma once

#include <cstdint>
#include <string>

enum class CliCommand { None, List, Info, Update };

struct CliOptions {
    CliCommand command = CliCommand::None;
    bool json = false;
    bool yes = false;
    bool showVersion = false;
    bool sim = false;
    bool allowStandIn = false;  // update: write a stand-in build's images into a real unit's ESC
    std::string simModel;  // 60, 140 or 90
    std::string model;     // --model as given; empty: any supported model
    std::string path;      // --path as `list` prints it; empty: the one unit present
};

enum class CliParse {
    Run,    // options holds what to do
    Help,   // text holds the help; exit 0
    Usage,  // text holds the error; exit 2
};

struct CliParseResult {
    CliParse outcome;
    std::string text;
};

CliParseResult parseCliArgs(int argc, const char* const* argv, CliOptions* options);

// The model row's index for a --model or --sim value: 60, 140, 90, or the model's full name
// ("ZEPHANT 60 LV", any case, spaces or underscores); -1 for anything else.
int modelIndexFromName(const std::string& name);
