// Two quenlor processes never talk to one unit at once: the second one opens no device.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_texts.h"
#include "device/single_instance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(CliSingleInstance, SecondProgramOpensNoDevice) {
    char folder[] = "/tmp/quenlor-instance-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("XDG_RUNTIME_DIR", folder, 1);

    int claimed[2];
    int release[2];
    ASSERT_EQ(pipe(claimed), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        // The other Quenlor program: claims, says so, holds the claim until told to end.
        const char result = claimSingleInstance() ? 'y' : 'n';
        if (write(claimed[1], &result, 1) != 1) _exit(2);
        char ignored;
        if (read(release[0], &ignored, 1) < 0) _exit(2);
        _exit(0);
    }
    char result = 0;
    ASSERT_EQ(read(claimed[0], &result, 1), 1);
    ASSERT_EQ(result, 'y');

    plugUnit(escOfModel(0));
    CliTerminal withGuard;
    withGuard.claimInstance = true;
    const CliRun run = runCli({"update", "--yes"}, withGuard);
    EXPECT_EQ(run.exitCode, CLI_EXIT_CANNOT_OPEN);
    EXPECT_EQ(run.err, std::string("quenlor: ") + ERROR_ANOTHER_INSTANCE + "\n");
    EXPECT_EQ(simBusCounters().openCalls, 0u) << "no device was opened";
    const CliRun list = runCli({"list", "--json"}, withGuard);
    EXPECT_EQ(list.exitCode, CLI_EXIT_CANNOT_OPEN);
    EXPECT_EQ(list.out, std::string("{\"error\":\"") + ERROR_ANOTHER_INSTANCE + "\",\"exitCode\":4}\n");
    EXPECT_EQ(simBusCounters().openCalls, 0u) << "not even the listing opens a unit";

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(other, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    plugUnit(escOfModel(0));
    const CliRun after = runCli({"info"}, withGuard);
    EXPECT_EQ(after.exitCode, CLI_EXIT_DONE) << "the claim went with the other process";
    unsetenv("XDG_RUNTIME_DIR");
    unlink((std::string(folder) + "/quenlor.lock").c_str());
    rmdir(folder);
}

}  // namespace
