// The message catalogue as each shipping program carries it, read from the program file under Wine
// per language: every text that the program loads, exactly; the same IDs in both languages; line
// breaks and special characters intact; the two format texts.
#include "tests/wine/scenarios/scenario.h"

#include <cwchar>

namespace {

// IDs for which no entry may exist.
const std::uint16_t ABSENT_IDS[] = {40010, 40013, 40014, 40018, 40019, 40021, 40024, 40042, 40043, 40044,
                                    40045, 40046, 40047, 60000, 60009, 60010, 60011, 60012, 60013, 60014, 60015};

const wchar_t* const MODEL_NAMES[] = {L"ZEPHANT 60 LV", L"ZEPHANT 140 LV", L"ZEPHANT 90 LV"};

class Catalogue : public ::testing::TestWithParam<std::size_t> {
protected:
    const RigBuild& build() const { return RIG_BUILDS[GetParam()]; }
    std::wstring path() const { return rigProgramPath(build()); }
};

std::string buildName(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name = rigUtf8(RIG_BUILDS[info.param].modelName);
    for (char& c : name)
        if (c == ' ') c = '_';
    return name;
}

const LANGID LANGUAGES[] = {RIG_LANGID_ENGLISH, RIG_LANGID_GERMAN};

RigLanguage languageOf(LANGID id) { return id == RIG_LANGID_GERMAN ? RigLanguage::German : RigLanguage::English; }

// Damage a resource compiler or a wrong code page leaves behind: escapes taken literally, lone
// line-break characters, UTF-8 read as another code page, replacement characters.
::testing::AssertionResult looksClean(const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\\') return ::testing::AssertionFailure() << "a literal backslash at " << i;
        if (c == L'\r' && (i + 1 >= text.size() || text[i + 1] != L'\n'))
            return ::testing::AssertionFailure() << "a carriage return without line feed at " << i;
        if (c == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            return ::testing::AssertionFailure() << "a line feed without carriage return at " << i;
        if (c == 0xFFFD || c == 0x00C3 || c == 0x00C2 || c == 0x00E2)
            return ::testing::AssertionFailure() << "mojibake at " << i << ": \"" << rigShow(text) << "\"";
    }
    return ::testing::AssertionSuccess();
}

TEST_P(Catalogue, HoldsEveryLoadedTextExactlyInBothLanguages) {
    std::size_t count = 0;
    const ExpectedText* texts = expectedTexts(&count);
    ASSERT_EQ(29u, count) << "the program loads 29 messages";
    for (std::size_t i = 0; i < count; ++i) {
        const ExpectedText& entry = texts[i];
        for (LANGID language : LANGUAGES) {
            SCOPED_TRACE(::testing::Message() << "message " << entry.id << " language " << language);
            std::wstring text;
            ASSERT_TRUE(rigLoadCatalogueText(path(), entry.id, language, text)) << "no entry";
            EXPECT_TRUE(sameText(expectedText(entry.id, languageOf(language)), text));
            EXPECT_TRUE(looksClean(text));
        }
    }
}

TEST_P(Catalogue, HoldsTheSameIdsInBothLanguages) {
    std::vector<std::uint16_t> english = rigCatalogueIds(path(), RIG_LANGID_ENGLISH);
    std::vector<std::uint16_t> german = rigCatalogueIds(path(), RIG_LANGID_GERMAN);
    ASSERT_FALSE(english.empty());
    EXPECT_EQ(english, german);
    for (std::uint16_t id : ABSENT_IDS) {
        for (LANGID language : LANGUAGES) {
            std::wstring text;
            EXPECT_FALSE(rigLoadCatalogueText(path(), id, language, text))
                << "message " << id << " must not exist, holds \"" << rigShow(text) << "\"";
        }
    }
}

TEST_P(Catalogue, KeepsEveryEntryClean) {
    for (LANGID language : LANGUAGES) {
        for (std::uint16_t id : rigCatalogueIds(path(), language)) {
            SCOPED_TRACE(::testing::Message() << "message " << id << " language " << language);
            std::wstring text;
            ASSERT_TRUE(rigLoadCatalogueText(path(), id, language, text));
            EXPECT_TRUE(looksClean(text));
        }
    }
}

TEST_P(Catalogue, KeepsUmlautsSharpSAndTrademark) {
    struct Expected {
        std::uint16_t id;
        const wchar_t* fragment;
    };
    const Expected fragments[] = {
        {40001, L"Windows\u2122PC"},          {40001, L"Empf\u00E4nger"},     {40001, L"ben\u00F6tigt"},
        {40001, L"anschlie\u00DFend"},        {40001, L"bet\u00E4tigen"},     {40034, L"l\u00E4\u00DFt"},
        {40034, L"ausschlie\u00DFlich"},      {40035, L"Schlie\u00DFen"},     {40028, L"L\u00F6schen"},
        {40011, L"Ger\u00E4te"},              {40032, L"durchgef\u00FChrt"},  {40017, L"updatef\u00E4higem"},
        {40023, L"\u00E4lter"},               {40022, L"f\u00FCr"},
    };
    for (const Expected& expected : fragments) {
        std::wstring text;
        ASSERT_TRUE(rigLoadCatalogueText(path(), expected.id, RIG_LANGID_GERMAN, text));
        EXPECT_NE(std::wstring::npos, text.find(expected.fragment))
            << "message " << expected.id << " lacks \"" << rigUtf8(expected.fragment) << "\": \"" << rigShow(text) << "\"";
    }
}

TEST_P(Catalogue, FormatsTheErrorCodeLine) {
    const wchar_t* expected[] = {L"The system shows following errorcode: 0xfffffffe-0x0000001f",
                                 L"Das System meldet Fehlercode 0xfffffffe-0x0000001f"};
    for (std::size_t i = 0; i < 2; ++i) {
        std::wstring format;
        ASSERT_TRUE(rigLoadCatalogueText(path(), 40036, LANGUAGES[i], format));
        wchar_t line[2048] = {};
        std::int32_t result = -2;
        std::uint32_t lastError = 31;
        std::swprintf(line, 2048, format.c_str(), static_cast<std::uint32_t>(result), lastError);
        EXPECT_TRUE(sameText(expected[i], line));
    }
}

TEST_P(Catalogue, NamesTheBuildsModelInTheIncompatibilityText) {
    for (LANGID language : LANGUAGES) {
        SCOPED_TRACE(::testing::Message() << "language " << language);
        std::wstring format;
        ASSERT_TRUE(rigLoadCatalogueText(path(), 40034, language, format));
        EXPECT_TRUE(looksClean(format));
        // One %s and no other format field: the model name goes in its place.
        const std::size_t field = format.find(L'%');
        ASSERT_NE(std::wstring::npos, field);
        ASSERT_EQ(0, format.compare(field, 2, L"%s")) << rigShow(format);
        ASSERT_EQ(std::wstring::npos, format.find(L'%', field + 1)) << "no other format field";
        std::wstring shown = format;
        shown.replace(field, 2, build().modelName);
        std::wstring prefix = expectedIncompatibleText(build(), languageOf(language));
        EXPECT_TRUE(sameText(prefix, shown.substr(0, prefix.size())));

        // The last sentence points to the maker's website by its address.
        const std::size_t lastStart = shown.rfind(L". ");
        ASSERT_NE(std::wstring::npos, lastStart);
        std::wstring last = shown.substr(lastStart + 2);
        std::size_t address = last.find(L"http");
        if (address == std::wstring::npos) address = last.find(L"www.");
        EXPECT_NE(std::wstring::npos, address) << "no web address in \"" << rigShow(last) << "\"";
        EXPECT_NE(std::wstring::npos, last.find(L"TESSALUX")) << rigShow(last);
        if (language == RIG_LANGID_ENGLISH) {
            EXPECT_TRUE(address != std::wstring::npos && address > 0 && last[address - 1] == L'(')
                << "the English sentence gives the address in parentheses: " << rigShow(last);
        } else {
            ASSERT_FALSE(last.empty());
            EXPECT_NE(L'.', last.back()) << "the German sentence ends without a full stop";
        }
        for (const wchar_t* other : MODEL_NAMES) {
            if (std::wcscmp(other, build().modelName) == 0) continue;
            EXPECT_EQ(std::wstring::npos, shown.find(other)) << "names another model: " << rigUtf8(other);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachBuild, Catalogue, ::testing::Range<std::size_t>(0, RIG_BUILD_COUNT), buildName);

TEST(CatalogueAcrossBuilds, IsTheSameInEveryBuild) {
    for (LANGID language : LANGUAGES) {
        std::vector<std::uint16_t> ids = rigCatalogueIds(rigProgramPath(rigBuild60()), language);
        ASSERT_FALSE(ids.empty());
        for (std::size_t other = 1; other < RIG_BUILD_COUNT; ++other) {
            const std::wstring path = rigProgramPath(RIG_BUILDS[other]);
            EXPECT_EQ(ids, rigCatalogueIds(path, language));
            for (std::uint16_t id : ids) {
                std::wstring mine;
                std::wstring theirs;
                ASSERT_TRUE(rigLoadCatalogueText(rigProgramPath(rigBuild60()), id, language, mine));
                ASSERT_TRUE(rigLoadCatalogueText(path, id, language, theirs));
                EXPECT_TRUE(sameText(mine, theirs)) << "message " << id;
            }
        }
    }
}

}  // namespace
