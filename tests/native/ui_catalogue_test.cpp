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
    {40000,
     L"A programming unit was found and is ready to update. To update to new ESC firmware, please click on the 'Update'-Button.\r\n\r\n!!!  NOTE: Do not disconnect Programming Unit from Computer until update is complete. If disconnected before complete Programming Unit or ESC may no longer function  !!!",
     L"Programmiereinheit mit angeschlossenem Regler am USB Bus erkannt und bereit zum Update. Auf 'Update' klicken, um die neue Firmware nun in den Flash-Speicher des Reglers zu übertragen.\r\n\r\n!!! Bitte achten Sie darauf, dass die Verbindung PC<=>Programmiereinheit während des gesamten Update-Vorgangs nicht unterbrochen wird. Andernfalls kann es zu einer fehlerhaften Firmware kommen, wodurch Schäden am Gerät nicht ausgeschlossen sind !!!"},
    {40001,
     L"1.)\r\nDisconnect the TESSALUX ESC from the receiver (Master and Slave Port) and connect the Master Port with the female connector of the VexoBOX/DIALPUCK. NOTE: a BEC or male to male cable required. \r\nThe QUILLON-X needs instead a program-cable.\r\n\r\n 2.)\r\nConnect the TESSALUX ESC to an appropriate battery. As soon as the connection is established the LEDs of the TESSALUX ESC and the VexoBOX starts flashing.\r\n\r\n 3.)\r\n Now connect the VexoBOX/DIALPUCK with the supplied USB cable to your PC. If you use a DIALPUCK, please push the button once.\r\n\r\n 4.)\r\n If the programming unit and the ESC were found and ready to update, you can click on the 'Update'-Button to update the firmware.",
     L"1.)\r\nTrennen Sie den TESSALUX Regler vom Empfänger (Master- u. Slave-Port) und verbinden Sie die Buchse des BEC-Kabels der VexoBOX/DIALPUCK mit dem Master-Port des Reglers. BEC-Kabel erforderlich. \r\nDer QUILLON-X benötigt stattdessen ein Programmier-Kabel!\r\n\r\n2.)\r\nVerbinden Sie den TESSALUX Regler mit einem geeigneten Akku. Sobald die Spannungsversorgung hergestellt ist blinken die LEDs des Reglers und der VexoBOX. Bei der DIALPUCK blinkt nichts.\r\n\r\n3.)\r\nVerbinden Sie anschließend die VexoBOX/DIALPUCK mit dem mitgelieferten USB-Kabel mit Ihrem Windows™PC. Bei der DIALPUCK müssen Sie nun einmal den Taster betätigen.\r\n\r\n4.)\r\nWenn Programmiereinheit und Regler vom PC gefunden wurden und bereit zum Update sind, kann das Firmware-Update über den Button 'Update' gestartet werden."},
    {40002,
     L"Update failed!",
     L"Update fehlgeschlagen!"},
    {40008,
     L"Address for new firmware couldn't be set. Update cancelled.",
     L"Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. Das Update wird abgebrochen"},
    {40009,
     L"Error when writing last firmware data block. Update cancelled.",
     L"Fehler beim Schreiben des letzten Firmware Datenblocks. Das Update wird abgebrochen."},
    {40011,
     L"Failed to register Windows Device Manager. New devices on USB port cannot be detected.The program is closed.",
     L"Fehler beim Registrieren des Windows Geräte-Meldungshandlers. Neue Geräte am USB Port können nicht erkannt werden. Das Programm wird geschlossen."},
    {40012,
     L"Error in the application.",
     L"Fehler in der Anwendung"},
    {40015,
     L"A programming unit was found on the USB Port which is in the wrong mode. To update the ESC do the following:",
     L"Es wurde eine Programmiereinheit am USB Port des PCs gefunden, die sich jedoch im falschen Modus befindet. Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40016,
     L"No updatable ESC connected. Follow the steps below to update ESC software:",
     L"Es wurde eine Programmiereinheit gefunden, an der jedoch kein updatefähiger Regler angeschlossen wurde. Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40017,
     L"No programming unit was found on the USB Port. To update the ESC do the following:",
     L"Es wurde keine Programmiereinheit mit angeschlossenem updatefähigem Regler am USB Port des PCs gefunden. Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40020,
     L"The USB Connection between programming unit and PC was lost. To update the ESC do the following:",
     L"Die USB Verbindung zwischen Programmiereinheit und PC wurde getrennt. Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40022,
     L"Update is interrupted, programming unit is not detected. Please verify connection between computer and programming unit.",
     L"Das Update wird abgebrochen, da die Programmiereinheit für das System nicht mehr verfügbar ist. Bitte vergewissern Sie sich, dass die Verbindung PC<=>Programmiereinheit nicht unterbrochen wurde"},
    {40023,
     L"The firmware version is older or the same as the installed firmware version.  If you continue you will be permanently deleting the current Firmware?",
     L"Die Firmware die Sie auf dem Regler installieren möchten, ist älter oder gleich alt wie die bereits auf dem Regler vorhandene Version. Sind Sie sicher, dass Sie die ältere Firmware dennoch installieren und die vorhandene unwiderruflich löschen möchten?"},
    {40025,
     L"Newer firmware found.",
     L"Neuere Firmware gefunden"},
    {40026,
     L"System-Lock of programming unit couldn't be set. Update process cancelled.",
     L"System-Lock der Programmiereinheit konnte nicht gesetzt werden. Das Update wird abgebrochen."},
    {40027,
     L"Writing to Flash memory of ESC was not possible. Data writing cancelled.",
     L"Schreibzugriff auf den Flash-Speicher des Reglers nicht möglich. Das Update wird abgebrochen."},
    {40028,
     L"Error deleting old firmware. New data can't be written. Update cancelled.",
     L"Fehler beim Löschen der alten Firmware. Neue Daten können nicht geschrieben werden. Das Update wird abgebrochen."},
    {40029,
     L"Firmware update in progress, please wait...",
     L"Firmware wird geschrieben, bitte warten..."},
    {40030,
     L"Update failed. Please try again. If the error still appears, please contact the TESSALUX Service",
     L"Der Updatevorgang wurd auf Grund eines Fehlers abgebrochen. Bitte versuchen Sie es erneut. Falls der Fehler weiterhin aufgetreten sollte, kontaktieren Sie bitte den TESSALUX Service"},
    {40032,
     L"The update of the ESC was successful!",
     L"Das Update der Regler-Software wurde erfolgreich durchgeführt! Bitte trennen Sie jetzt sowohl den Regler vom angeschlossenen Akku und der Programmiereinheit ab, als auch die Programmiereinheit vom USB Port des PCs"},
    {40033,
     L"ESC incompatible",
     L"Regler inkompatibel"},
    {40034,
     L"With this updater you can only update the firmware of TESSALUX ESCs with the type '%s'. Other models are not supported. Please check the TESSALUX website (https://www.tessalux.example/updates) to see if there is an updater for your ESC.",
     L"Mit diesem Updater läßt sich ausschließlich die Firmware von TESSALUX Reglern des Typs '%s' aktualisieren. Andere Modelle werden nicht unterstützt. Bitte sehen Sie auf der TESSALUX Webseite https://www.tessalux.example/updates nach, ob ein Firmware-Update für Ihren Regler verfügbar ist"},
    {40035,
     L"The connected ESC is not compatible with this updater. Connect compatible ESC and follow steps below to update ESC Software:",
     L"Der an der Programmiereinheit angeschlossene Regler ist nicht kompatibel mit diesem Updater. Schließen Sie einen geeigneten Regler an und gehen folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40036,
     L"The system shows following errorcode: 0x%08x-0x%08x",
     L"Das System meldet Fehlercode 0x%08x-0x%08x"},
    {40037,
     L"important note",
     L"Wichtiger Hinweis"},
    {40038,
     L"IMPORTANT: Don't interrupt update process! As long as the LEDs at the programming unit / ESC are flashing, the update is working! You will informed, if the update finished!",
     L"WICHTIG: Den Updatevorgang NICHT unterbrechen! Solang die LEDs an Regler bzw. Programmiereinheit noch blinken, werden Daten übertragen!"},
    {40039,
     L"programming unit",
     L"Programmiereinheit"},
    {40040,
     L"ESC-bootloader",
     L"Regler-Bootloader"},
    {40041,
     L"ESC",
     L"Regler"},
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

// Every "#define NAME value" of the ID header.
std::map<std::string, std::string> readDefinitions() {
    std::map<std::string, std::string> definitions;
    std::istringstream header(readFile(RESOURCE_DIR + "/resource_ids.h"));
    std::string line;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string directive, name, value;
        words >> directive >> name;
        std::getline(words >> std::ws, value);
        if (directive == "#define") definitions[name] = value;
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
