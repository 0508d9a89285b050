// The dialog's pure pieces: the path comparison of removals, the title, the joined and formatted
// texts and the logo's place.
#include "ui/ui_logic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

// ---- Removal path

TEST(DevicePathTest, IgnoresTheCaseOfAsciiLettersOnly) {
    const wchar_t* path = L"\\\\?\\hid#vid_2f1e&pid_0002#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const wchar_t* upper = L"\\\\?\\HID#VID_2F1E&PID_0002#7&1A2B&0&0000#{4D1E55B2-F16F-11CF-88CB-001111000030}";
    EXPECT_TRUE(isSameDevicePath(path, path, 200));
    EXPECT_TRUE(isSameDevicePath(path, upper, 200));
    EXPECT_FALSE(isSameDevicePath(path, L"\\\\?\\hid#vid_2f1e&pid_0001#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 200));
    EXPECT_FALSE(isSameDevicePath(L"ab\u00e9", L"AB\u00c9", 10));  // only A to Z fold
    EXPECT_FALSE(isSameDevicePath(L"a[", L"A{", 10));                // nor the characters next to them
    EXPECT_FALSE(isSameDevicePath(L"abc", L"abcd", 10));
    EXPECT_FALSE(isSameDevicePath(L"abcd", L"abc", 10));
    EXPECT_FALSE(isSameDevicePath(nullptr, L"abc", 10));
}

TEST(DevicePathTest, ReadsTheNameNoFurtherThanItsRecord) {
    // A name without a terminator inside its record ends where the record ends.
    const wchar_t unterminated[] = {L'a', L'b', L'c', L'x', L'x', L'\0'};
    EXPECT_TRUE(isSameDevicePath(L"abc", unterminated, 3));
    EXPECT_FALSE(isSameDevicePath(L"abcx", unterminated, 3));
    EXPECT_FALSE(isSameDevicePath(L"abc", unterminated, 0));
    EXPECT_TRUE(isSameDevicePath(L"", unterminated, 0));
}

// ---- Texts

TEST(WindowTitleTest, NamesTheModelAndEndsInABlank) {
    wchar_t title[TITLE_BUFFER_CHARS];
    formatWindowTitle(L"ZEPHANT 60 LV", title, TITLE_BUFFER_CHARS);
    EXPECT_STREQ(title, L"TESSALUX ZEPHANT 60 LV FW Updater 2.0 ");
    formatWindowTitle(L"ZEPHANT 140 LV", title, TITLE_BUFFER_CHARS);
    EXPECT_STREQ(title, L"TESSALUX ZEPHANT 140 LV FW Updater 2.0 ");
}

TEST(AppendTextTest, StaysInsideTheBuffer) {
    wchar_t buffer[8] = L"abc";
    appendText(buffer, 8, L"\r\n\r\n");
    EXPECT_STREQ(buffer, L"abc\r\n\r\n");
    appendText(buffer, 8, L"xyz");
    EXPECT_STREQ(buffer, L"abc\r\n\r\n");  // full: 7 characters and the terminator
    wchar_t small[6] = L"";
    appendText(small, 6, L"0123456789");
    EXPECT_STREQ(small, L"01234");
}

TEST(FormatWithTextTest, PutsTheModelBetweenTheQuotes) {
    const wchar_t* format = L"ESCs with the type '%s'. Other models are not supported.";
    wchar_t text[256];
    formatWithText(format, L"ZEPHANT 90 LV", text, 256);
    EXPECT_STREQ(text, L"ESCs with the type 'ZEPHANT 90 LV'. Other models are not supported.");
    formatWithText(L"100%% '%s' %s", L"X", text, 256);
    EXPECT_STREQ(text, L"100% 'X' %s");  // one conversion only
    formatWithText(L"type '%s'", L"ZEPHANT 140 LV", text, 12);
    EXPECT_STREQ(text, L"type 'ZEPHA");
    EXPECT_EQ(std::wcslen(text), 11u);
}

// ---- Logo

constexpr int LOGO_WIDTH = 1772;
constexpr int LOGO_HEIGHT = 263;

TEST(LogoPlacementTest, HalfWidthWhereThereIsRoom) {
    const ScreenRect window{100, 50, 2100, 700};
    const ScreenRect group{130, 90, 330, 200};
    const LogoPlacement placement = placeLogo(LOGO_WIDTH, LOGO_HEIGHT, window, group, 3, 19);
    EXPECT_EQ(placement.width, 886);
    EXPECT_EQ(placement.height, 131);  // 886 / 1772 * 263 = 131.5, truncated
    EXPECT_EQ(placement.x, 330 - (100 + 3) + 20);
    EXPECT_EQ(placement.y, 90 - (50 + 19));
}

TEST(LogoPlacementTest, NarrowsToTheRoomRightOfTheGroupBox) {
    const ScreenRect window{287, 222, 737, 564};
    const ScreenRect group{310, 241, 512, 322};
    const LogoPlacement placement = placeLogo(LOGO_WIDTH, LOGO_HEIGHT, window, group, 3, 19);
    EXPECT_EQ(placement.width, 737 - 512 - 45);
    EXPECT_EQ(placement.height, 26);  // 180 / 1772 * 263 = 26.7
    EXPECT_EQ(placement.x, 512 - 290 + 20);
    EXPECT_EQ(placement.y, 241 - 241);
    // Room of exactly half the width: that width.
    const ScreenRect exact{0, 0, 512 + 45 + 886, 600};
    EXPECT_EQ(placeLogo(LOGO_WIDTH, LOGO_HEIGHT, exact, group, 3, 19).width, 886);
}

TEST(LogoPlacementTest, NothingToDrawWithoutRoom) {
    const ScreenRect window{0, 0, 540, 400};
    const ScreenRect group{10, 10, 500, 100};
    const LogoPlacement placement = placeLogo(LOGO_WIDTH, LOGO_HEIGHT, window, group, 3, 19);
    EXPECT_EQ(placement.width, 0);
    EXPECT_EQ(placement.height, 0);
}

}  // namespace
