// The run's private temporary directory: where it is made, and what is
// refused.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

namespace e2e {
namespace {

TEST(TemporaryDirectory, AMissingTempdirStopsTheRunWithItsAbsolutePath) {
    Scratch scratch;
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "j").string()});
    Launch l(scratch);
    l.arguments({"-tempdir", "missing"});
    RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Unable to access temp directory " + target().path(scratch / "missing")),
              std::string::npos)
        << result.err;
}

TEST(TemporaryDirectory, IsPrivateAndNeverTakenOverFromSomebodyElse) {
    if (target().windows) GTEST_SKIP() << "owner-only modes and links are the POSIX side";
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "j").string()});
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)}).exitScript("stat -c %a \"$KORVU_BOOTSTRAP_TEMP\" > '" +
                                                                  (scratch / "mode.txt").string() + "'\n");
    ASSERT_EQ(l.run(installer).exitCode, 0);
    EXPECT_EQ(readFile(scratch / "mode.txt"), "700\n");

    // Links planted under every name the next seconds could give, and the
    // names a run passes on to when its own is taken, must not be followed.
    const fs::path victim = scratch / "victim";
    fs::create_directories(victim);
    fs::create_directories(scratch / "base");
    const long now = static_cast<long>(std::time(nullptr));
    for (long t = now - 1; t <= now + 60 + 64; ++t)
        fs::create_directory_symlink(victim, scratch / "base" / ("TALVE_TEMP_" + std::to_string(t % 10000000)));
    fs::remove(l.record);
    Launch planted(scratch);
    planted.arguments({"-javaHome", target().path(runtime), "-tempdir", target().path(scratch / "base")});
    RunResult result = planted.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Problem creating temp directory "), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(victim));
    EXPECT_FALSE(fs::exists(planted.record));
}

} // namespace
} // namespace e2e
