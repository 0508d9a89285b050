// Bounded formatting leaves a terminated text however small its buffer, whichever C library
// formats it: the version texts, the error-code line and the error box's text.
#include "frontend/failure_text.h"
#include "frontend/version_texts.h"
#include "ui/ui_logic.h"
#include "update/bounded_format.h"
#include "update/update_logic.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t GUARD = L'#';

// A buffer of chars characters inside a larger one filled with a guard, so that a write past its
// end, or a text left unterminated, shows.
struct GuardedBuffer {
    wchar_t storage[64];
    explicit GuardedBuffer() { std::wmemset(storage, GUARD, 64); }
    wchar_t* text() { return storage + 8; }
    bool untouchedAfter(std::size_t chars) const {
        for (std::size_t i = 8 + chars; i < 64; ++i) {
            if (storage[i] != GUARD) return false;
        }
        return true;
    }
};

TEST(BoundedFormat, CutTextsEndWithinTheirBuffer) {
    struct Case {
        const char* label;
        std::size_t chars;
        std::uint32_t version;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"fits", 12, 0x01020304, L"1.3.4"},
        {"exactly fits", 6, 0x01020304, L"1.3.4"},
        {"one short", 5, 0x01020304, L"1.3."},
        {"three long digits cut", 4, 0xFFFFFFFF, L"255"},
        {"room for the terminator only", 1, 0x0105, L""},
    };
    for (const Case& c : cases) {
        GuardedBuffer buffer;
        formatVersion(c.version, buffer.text(), c.chars);
        EXPECT_STREQ(buffer.text(), c.expected) << c.label;
        EXPECT_TRUE(buffer.untouchedAfter(c.chars)) << c.label;
    }
}

TEST(BoundedFormat, TheErrorBoxTextIsCutNotOverrun) {
    struct Case {
        const char* label;
        std::size_t chars;
        std::int32_t code;
        const wchar_t* expected;
    };
    const wchar_t* format = L"code 0x%08x-0x%08x";
    const Case cases[] = {
        {"whole", 41, -2, L"Step failed.\r\ncode 0xfffffffe-0x0000048f"},
        {"cut in the error line", 24, -2, L"Step failed.\r\ncode 0xff"},
        {"cut in the step text", 5, -2, L"Step"},
        {"no error line for -1", 40, -1, L"Step failed."},
        {"no error line, cut", 5, -1, L"Step"},
    };
    for (const Case& c : cases) {
        GuardedBuffer buffer;
        composeFailureText(buffer.text(), c.chars, L"Step failed.", format, c.code, 0x48F);
        EXPECT_STREQ(buffer.text(), c.expected) << c.label;
        EXPECT_TRUE(buffer.untouchedAfter(c.chars)) << c.label;
    }
}

TEST(BoundedFormat, TheTitleIsCutNotOverrun) {
    GuardedBuffer buffer;
    formatWindowTitle(L"ZEPHANT 140 LV", buffer.text(), 16);
    EXPECT_STREQ(buffer.text(), L"TESSALUX ZEPHAN");
    EXPECT_TRUE(buffer.untouchedAfter(16));
}

}  // namespace
