#include "cli/cli_output.h"

#include "cli/cli_texts.h"
#include "frontend/version_texts.h"
#include "update/update_logic.h"

#include <cstdarg>
#include <cstdio>

std::string formatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, arguments);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return text;
}

std::string toUtf8(const wchar_t* text) {
    std::string utf8;
    if (text == nullptr) return utf8;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        std::uint32_t code = static_cast<std::uint32_t>(*c);
        // UTF-16 (Windows) pairs; a lone half becomes U+FFFD rather than invalid UTF-8.
        if (code >= 0xD800 && code <= 0xDBFF && c[1] >= 0xDC00 && c[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(c[1]) - 0xDC00);
            ++c;
        } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (code >> 18));
            utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

std::string escFirmwareText(std::uint16_t version) {
    VersionRowTexts rows{};
    composeVersionRows(0, 0, version, 0, &rows);
    return toUtf8(rows.escFirmwareVersion);
}

std::string imageFirmwareText() { return escFirmwareText(IMAGE_FIRMWARE_VERSION); }

std::string hex32(std::uint32_t value) { return formatText("0x%08x", static_cast<unsigned>(value)); }

void printJsonLine(std::FILE* out, const nlohmann::json& value) {
    // Replacing undecodable bytes means dump cannot throw.
    const std::string line = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

int reportError(const CliIo& io, bool json, bool asUpdateResult, int exitCode, const std::string& sentence) {
    std::fprintf(io.err, "%s%s\n", ERROR_PREFIX, sentence.c_str());
    std::fflush(io.err);
    if (json) {
        nlohmann::json error;
        if (asUpdateResult) {
            error["event"] = "result";
            error["ok"] = false;
        }
        error["error"] = sentence;
        error["exitCode"] = exitCode;
        printJsonLine(io.out, error);
    }
    return exitCode;
}
