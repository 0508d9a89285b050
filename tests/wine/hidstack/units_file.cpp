#include "tests/wine/hidstack/units_file.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t PIPE_PREFIX[] = L"\\\\.\\pipe";  // a device path is this, then the pipe's name
constexpr std::size_t PIPE_PREFIX_CHARS = sizeof PIPE_PREFIX / sizeof PIPE_PREFIX[0] - 1;
constexpr int REPLACE_ATTEMPTS = 400;
constexpr DWORD REPLACE_PAUSE_MS = 5;

// A field ends at a tab or at the end of its line.
struct Field {
    const char* begin;
    std::size_t length;
};

bool parseNumber(Field field, unsigned base, std::uint16_t* value) {
    if (field.length == 0 || field.length > 5) return false;
    unsigned result = 0;
    for (std::size_t i = 0; i < field.length; ++i) {
        const char c = field.begin[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        result = result * base + digit;
        if (result > 0xFFFF) return false;
    }
    *value = static_cast<std::uint16_t>(result);
    return true;
}

bool parseLine(const char* line, std::size_t length, UnitsEntry* entry) {
    constexpr std::size_t FIELDS = 5;
    Field fields[FIELDS];
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && line[i] != '\t') continue;
        if (count == FIELDS) return false;
        fields[count++] = Field{line + start, i - start};
        start = i + 1;
    }
    if (count != FIELDS || fields[0].length == 0 || fields[0].length >= UNITS_PATH_CHARS) return false;

    const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, fields[0].begin,
                                          static_cast<int>(fields[0].length), entry->path,
                                          static_cast<int>(UNITS_PATH_CHARS - 1));
    if (chars <= 0) return false;
    entry->path[chars] = L'\0';
    return parseNumber(fields[1], 16, &entry->vendorId) && parseNumber(fields[2], 16, &entry->productId) &&
           parseNumber(fields[3], 10, &entry->inputReportLength) &&
           parseNumber(fields[4], 10, &entry->outputReportLength);
}

}  // namespace

bool unitsParse(const char* text, std::size_t length, UnitsList* list) {
    list->count = 0;
    std::size_t start = 0;
    while (start < length) {
        const void* newline = std::memchr(text + start, '\n', length - start);
        const std::size_t end = newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - text) : length;
        if (end > start) {
            if (list->count == UNITS_MAX) return false;
            if (!parseLine(text + start, end - start, &list->entries[list->count])) return false;
            ++list->count;
        }
        start = end + 1;
    }
    return true;
}

bool unitsFileRead(UnitsList* list) {
    list->count = 0;
    wchar_t file[MAX_PATH];
    const DWORD fileChars = GetEnvironmentVariableW(UNITS_FILE_VARIABLE, file, MAX_PATH);
    if (fileChars == 0) return false;  // ERROR_ENVVAR_NOT_FOUND
    if (fileChars >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    const HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    static_assert(UNITS_FILE_MAX_BYTES <= 0xFFFF, "the buffer lives on the stack");
    char text[UNITS_FILE_MAX_BYTES];
    DWORD length = 0;
    const BOOL read = ReadFile(handle, text, sizeof text, &length, nullptr);  // written whole, read whole
    const DWORD readError = GetLastError();
    CloseHandle(handle);
    if (!read) {
        SetLastError(readError);
        return false;
    }
    if (length == sizeof text || !unitsParse(text, length, list)) {
        list->count = 0;
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

std::size_t unitsFormatLine(const UnitsEntry& entry, char* line, std::size_t size) {
    char path[UNITS_PATH_CHARS * 3];
    const int pathBytes = WideCharToMultiByte(CP_UTF8, 0, entry.path, -1, path, sizeof path, nullptr, nullptr);
    if (pathBytes <= 1) return 0;
    const int written = std::snprintf(line, size, "%s\t%04x\t%04x\t%u\t%u\n", path, unsigned{entry.vendorId},
                                      unsigned{entry.productId}, unsigned{entry.inputReportLength},
                                      unsigned{entry.outputReportLength});
    if (written <= 0 || static_cast<std::size_t>(written) >= size) return 0;
    return static_cast<std::size_t>(written);
}

bool unitsFileWrite(const wchar_t* file, const UnitsList& list) {
    char text[UNITS_FILE_MAX_BYTES];
    std::size_t length = 0;
    for (std::uint32_t i = 0; i < list.count; ++i) {
        const std::size_t line = unitsFormatLine(list.entries[i], text + length, sizeof text - length);
        if (line == 0) return false;
        length += line;
    }

    wchar_t temporary[MAX_PATH];
    if (std::swprintf(temporary, MAX_PATH, L"%ls.new", file) <= 0) return false;
    const HANDLE handle = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool complete = WriteFile(handle, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
    CloseHandle(handle);
    if (!complete) {
        DeleteFileW(temporary);
        return false;
    }
    // A file cannot be replaced while a reader has it open, even with FILE_SHARE_DELETE; readers
    // hold it for a moment only.
    for (int attempt = 0; attempt < REPLACE_ATTEMPTS; ++attempt) {
        if (MoveFileExW(temporary, file, MOVEFILE_REPLACE_EXISTING)) return true;
        Sleep(REPLACE_PAUSE_MS);
    }
    const DWORD error = GetLastError();
    DeleteFileW(temporary);
    SetLastError(error);
    return false;
}

const UnitsEntry* unitsFindPipe(const UnitsList& list, const wchar_t* pipeName, std::size_t nameChars) {
    for (std::uint32_t i = 0; i < list.count; ++i) {
        const wchar_t* path = list.entries[i].path;
        const std::size_t pathChars = std::wcslen(path);
        if (pathChars != PIPE_PREFIX_CHARS + nameChars) continue;
        if (CompareStringOrdinal(path, static_cast<int>(PIPE_PREFIX_CHARS), PIPE_PREFIX,
                                 static_cast<int>(PIPE_PREFIX_CHARS), TRUE) != CSTR_EQUAL) {
            continue;
        }
        if (CompareStringOrdinal(path + PIPE_PREFIX_CHARS, static_cast<int>(nameChars), pipeName,
                                 static_cast<int>(nameChars), TRUE) == CSTR_EQUAL) {
            return &list.entries[i];
        }
    }
    return nullptr;
}
