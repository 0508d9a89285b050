// Keeping the system awake on Linux asks logind over the system bus. Where there is no bus, or no
// logind behind it, the update goes on unchanged: nothing is held, nothing leaks, nothing waits.
#include "cli/cli_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>

namespace {

int openDescriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    return count;
}

TEST(CliKeepAwake, WithoutASystemBusHoldsNothingAndLeaksNothing) {
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenlor-test-bus", 1);
    const int before = openDescriptors();
    keepSystemAwake(true);
    EXPECT_FALSE(canKeepSystemAwake());
    keepSystemAwake(false);
    EXPECT_FALSE(canKeepSystemAwake());
    EXPECT_EQ(openDescriptors(), before);
    if (previous != nullptr) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

}  // namespace
