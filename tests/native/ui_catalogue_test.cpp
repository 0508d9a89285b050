// The message catalogue as the resource scripts hold it: every entry the program loads, in both
// languages, character for character, and nothing else. The scripts are read and decoded here as
// the resource compiler reads them (UTF-8, adjacent literals joined, macros from the ID header).
#include "ui/ui_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cwchar>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CatalogueEntry {
    unsigned id;
    const wchar_t* english;
    const wchar_t* german;
};

const CatalogueEntry EXPECTED[] = {
#include "tests/expected_catalogue.inc"
};

const std::string RESOURCE_DIR = QUENLOR_RESOURCE_DIR;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::wstring decodeUtf8(const std::string& bytes) {
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t code = length == 1 ? lead : lead & (0xFFu >> (length + 1));
        for (std::size_t k = 1; k < length && i + k < bytes.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
        }
        text += static_cast<wchar_t>(code);
        i += length;
    }
    return text;
}

// The resource compiler's escapes: \r, \n, \t, \\, \" and a doubled quote.
std::string unescape(const std::string& literal) {
    std::string text;
    for (std::size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == '\\' && i + 1 < literal.size()) {
            const char c = literal[++i];
            text += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else if (literal[i] == '"' && i + 1 < literal.size() && literal[i + 1] == '"') {
            text += '"';
            ++i;
        } else {
            text += literal[i];
        }
    }
    return text;
}

struct Token {
    bool isString;
    std::string text;  // a literal's content, still escaped, or a word
};

std::vector<Token> tokenize(const std::string& script) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < script.size();) {
        const char c = script[i];
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            ++i;
        } else if (script.compare(i, 2, "//") == 0) {
            i = script.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '"') {
            std::size_t end = i + 1;
            for (;; ++end) {
                if (script[end] == '\\') {
                    ++end;
                } else if (script[end] == '"') {
                    if (script[end + 1] != '"') break;
                    ++end;
                }
            }
            tokens.push_back({true, script.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else {
            std::size_t end = i;
            while (end < script.size() && !std::isspace(static_cast<unsigned char>(script[end])) && script[end] != ',') {
                ++end;
            }
            tokens.push_back({false, script.substr(i, end - i)});
            i = end;
        }
    }
    return tokens;
}

// Every "#define NAME value" of the ID headers.
std::map<std::string, std::string> readDefinitions() {
    std::map<std::string, std::string> definitions;
    // The ID header includes the update's and the presence's message IDs.
    for (const std::string& path : {RESOURCE_DIR + "/resource_ids.h", RESOURCE_DIR + "/../../update/update_messages.h",
                                    RESOURCE_DIR + "/../../frontend/presence_messages.h"}) {
        std::istringstream header(readFile(path));
        std::string line;
        while (std::getline(header, line)) {
            std::istringstream words(line);
            std::string directive, name, value;
            words >> directive >> name;
            std::getline(words >> std::ws, value);
            if (directive == "#define") definitions[name] = value;
        }
    }
    return definitions;
}

// The string table of one language script, by ID.
std::map<unsigned, std::wstring> readStringTable(const std::string& scriptName) {
    const std::map<std::string, std::string> definitions = readDefinitions();
    const std::vector<Token> tokens = tokenize(readFile(RESOURCE_DIR + "/" + scriptName));
    std::map<unsigned, std::wstring> table;
    std::size_t i = 0;
    while (i < tokens.size() && !(tokens[i].text == "STRINGTABLE" && !tokens[i].isString)) ++i;
    i += 2;  // STRINGTABLE BEGIN
    unsigned id = 0;
    std::string text;
    auto finishEntry = [&] {
        if (id != 0) {
            EXPECT_TRUE(table.emplace(id, decodeUtf8(text)).second) << scriptName << ": " << id << " twice";
        }
        text.clear();
    };
    for (; i < tokens.size() && !(tokens[i].text == "END" && !tokens[i].isString); ++i) {
        const Token& token = tokens[i];
        if (token.isString) {
            text += unescape(token.text);
            continue;
        }
        const auto definition = definitions.find(token.text);
        const std::string value = definition != definitions.end() ? definition->second : token.text;
        if (!value.empty() && value[0] == '"') {
            text += unescape(value.substr(1, value.size() - 2));
        } else {
            finishEntry();
            id = static_cast<unsigned>(std::stoul(value));
        }
    }
    finishEntry();
    return table;
}

void expectCatalogue(const std::string& scriptName, bool german) {
    const std::map<unsigned, std::wstring> table = readStringTable(scriptName);
    EXPECT_EQ(table.size(), sizeof EXPECTED / sizeof EXPECTED[0]) << scriptName;
    for (const CatalogueEntry& entry : EXPECTED) {
        SCOPED_TRACE(scriptName + ", message " + std::to_string(entry.id));
        const auto found = table.find(entry.id);
        ASSERT_NE(found, table.end());
        EXPECT_EQ(found->second, german ? entry.german : entry.english);
    }
}

TEST(MessageCatalogueTest, EnglishScriptHoldsEveryTextExactly) { expectCatalogue("english.rc", false); }

TEST(MessageCatalogueTest, GermanScriptHoldsEveryTextExactly) { expectCatalogue("german.rc", true); }

TEST(MessageCatalogueTest, ScriptsAreUtf8WithoutMarkAndSaySo) {
    for (const char* name : {"quenlor.rc", "english.rc", "german.rc"}) {
        const std::string script = readFile(RESOURCE_DIR + "/" + name);
        EXPECT_EQ(script.rfind("#pragma code_page(65001)\n", 0), 0u) << name;
    }
}

TEST(MessageCatalogueTest, IncompatibleTextNamesEachModelWhole) {
    for (const char* script : {"english.rc", "german.rc"}) {
        const std::wstring format = readStringTable(script).at(40034);
        for (const wchar_t* model : {L"ZEPHANT 60 LV", L"ZEPHANT 140 LV", L"ZEPHANT 90 LV"}) {
            wchar_t text[2048];
            formatWithText(format.c_str(), model, text, 2048);
            const std::wstring shown = text;
            EXPECT_EQ(shown.size(), format.size() - 2 + std::wcslen(model)) << script;
            EXPECT_NE(shown.find(L"'" + std::wstring(model) + L"'"), std::wstring::npos) << script;
            EXPECT_NE(shown.find(L"https://www.tessalux.example/updates"), std::wstring::npos) << script;
        }
    }
}

}  // namespace
