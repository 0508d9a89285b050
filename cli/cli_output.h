// How the command-line updater writes: text made with printf formats, wide system texts as UTF-8,
// one JSON object per line, and errors as one sentence on standard error (and as JSON in --json
// mode). Only the front end uses nlohmann-json; nothing it throws leaves these functions.
#pragma once

#include "cli/cli.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string toUtf8(const wchar_t* text);
// An ESC firmware version as the dialog writes it ("1.5", "----------" for none).
std::string escFirmwareText(std::uint16_t version);
// The version of the images this program carries.
std::string imageFirmwareText();
// "0x%08x", the way codes, errors and hardware IDs are written.
std::string hex32(std::uint32_t value);

// One object on one line, flushed, so that a script reads each event as it happens.
void printJsonLine(std::FILE* out, const nlohmann::json& value);

// The sentence on standard error; in JSON mode also {"error": …, "exitCode": …} on standard output
// (for update, the same as its last "result" event). Returns exitCode.
int reportError(const CliIo& io, bool json, bool asUpdateResult, int exitCode, const std::string& sentence);
