#include "cli/cli_args.h"

#include "cli/cli_output.h"
#include "cli/cli_texts.h"
#include "model/model_table.h"

#include <CLI/CLI.hpp>

#include <cctype>

namespace {

// The number inside a model's name: "ZEPHANT 60 LV" is 60.
std::string modelNumber(const std::string& name) {
    std::string digits;
    for (char c : name) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) digits += c;
    }
    return digits;
}

std::string normalisedName(const std::string& name) {
    std::string folded;
    for (char c : name) folded += c == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return folded;
}

std::string modelChoices() {
    std::string choices;
    for (const ModelRow& row : MODEL_ROWS) choices += (choices.empty() ? "" : ", ") + modelNumber(toUtf8(row.name));
    return choices;
}

void checkModel(const std::string& value, const char* option) {
    if (modelIndexFromName(value) < 0) {
        throw CLI::ValidationError(option, formatText(ERROR_UNKNOWN_MODEL_FORMAT, value.c_str(), modelChoices().c_str()));
    }
}

}  // namespace

int modelIndexFromName(const std::string& name) {
    for (std::size_t i = 0; i < MODEL_ROW_COUNT; ++i) {
        const std::string rowName = toUtf8(MODEL_ROWS[i].name);
        if (name == modelNumber(rowName) || normalisedName(name) == rowName) return static_cast<int>(i);
    }
    return -1;
}

CliParseResult parseCliArgs(int argc, const char* const* argv, CliOptions* options) {
    CLI::App app{PROGRAM_DESCRIPTION, PROGRAM_NAME};
    app.footer(EXIT_CODES_HELP);
    app.require_subcommand(0, 1);
    app.add_flag("--version", options->showVersion, "Show the program's version and the firmware images it carries");
    CLI::Option* sim = app.add_option("--sim", options->simModel,
                                      "Talk to the built-in simulated programming unit with an ESC of this model "
                                      "(60, 140 or 90; default 60) instead of USB")
                           ->expected(0, 1)
                           ->type_name("60|140|90");

    CLI::App* list = app.add_subcommand("list", "List every programming unit present and whether it can be opened");
    list->add_flag("--json", options->json, "One JSON object on standard output");
    CLI::App* info = app.add_subcommand("info", "Identify a programming unit (the first, or the one at --path) and its ESC");
    info->add_flag("--json", options->json, "One JSON object on standard output");
    info->add_option("--path", options->path, "The unit at this path, as `quenlor list` shows it (default: the first)")
        ->type_name("PATH");
    CLI::App* update = app.add_subcommand("update", "Write the firmware image for the connected ESC's model");
    update->add_flag("--yes,-y", options->yes, "Answer yes to every question (needed without a terminal)");
    update->add_option("--model", options->model, "Refuse unless the ESC is this model (60, 140, 90 or its full name)")
        ->type_name("MODEL");
    update->add_flag("--json", options->json, "JSON events on standard output, one per line; never asks");
    update->add_flag("--allow-stand-in", options->allowStandIn,
                     "Write this build's stand-in images into a real ESC all the same (development only: they are "
                     "not the maker's firmware and leave the ESC useless)");
    update->add_option("--path", options->path,
                       "The unit at this path, as `quenlor list` shows it (needed when several are present)")
        ->type_name("PATH");

    try {
        app.parse(argc, argv);
        options->sim = sim->count() > 0;
        if (options->sim) {
            if (options->simModel.empty()) options->simModel = "60";
            checkModel(options->simModel, "--sim");
        }
        if (!options->model.empty()) checkModel(options->model, "--model");
    } catch (const CLI::CallForHelp&) {
        return {CliParse::Help, app.help()};
    } catch (const CLI::ParseError& error) {
        return {CliParse::Usage, error.what()};
    }
    if (list->parsed()) options->command = CliCommand::List;
    if (info->parsed()) options->command = CliCommand::Info;
    if (update->parsed()) options->command = CliCommand::Update;
    if (options->command == CliCommand::None && !options->showVersion) {
        return {CliParse::Usage, ERROR_COMMAND_REQUIRED};
    }
    return {CliParse::Run, {}};
}
