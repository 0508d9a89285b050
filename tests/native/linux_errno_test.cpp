// The page's errno mapping, checked against Linux's own <cerrno>: here every row must map a number
// to itself, or the page would show a number quenlor on Linux never shows.
#include "web/linux_errno.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(LinuxErrno, EveryRowHoldsLinuxsNumber) {
    for (const LinuxErrnoRow& row : LINUX_ERRNO_ROWS) {
        SCOPED_TRACE(row.onLinux);
        EXPECT_EQ(static_cast<std::uint32_t>(row.here), row.onLinux);
        EXPECT_EQ(linuxErrnoOf(static_cast<std::uint32_t>(row.here)), row.onLinux);
    }
}

TEST(LinuxErrno, NoErrorAndUnknownNumbers) {
    struct Case {
        const char* label;
        std::uint32_t error;
        std::uint32_t shown;
    };
    const Case cases[] = {
        {"no error", 0, 0},
        {"the page's most common: ENODEV", ENODEV, 19},
        {"the page's most common: ETIMEDOUT", ETIMEDOUT, 110},
        {"a number the table lacks becomes EIO", EDOM, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(linuxErrnoOf(c.error), c.shown);
    }
}

}  // namespace
