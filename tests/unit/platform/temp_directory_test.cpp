#include "unit/support/context_bench.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

bool matches(const std::string& text, const std::string& pattern) { return std::regex_match(text, std::regex(pattern)); }

TEST(SetTempDirectory, UsesAnExistingTempdirOptionMadeAbsolute) {
    ContextBench bench;
    bench.platform.directories = {"C:\\dir\\base"};
    bench.context.tempDirOption = "base";
    ASSERT_TRUE(bench.context.setTempDirectory());
    const std::string& tempDir = bench.context.tempDir;
    EXPECT_TRUE(matches(tempDir, R"(C:\\dir\\base\\TALVE_TEMP_[0-9]{1,7})")) << tempDir;
    EXPECT_EQ(bench.platform.currentDir, tempDir);
    EXPECT_TRUE(bench.log.has("INFO \t: The chosen temp directory is : " + tempDir));
    // No leftover is cleared in a directory the user named.
    EXPECT_TRUE(bench.platform.processCalls.empty());

    ContextBench missing;
    missing.context.tempDirOption = "missing";
    EXPECT_FALSE(missing.context.setTempDirectory());
    EXPECT_EQ(missing.log.errors(), Lines{"ERROR \t: Unable to access temp directory C:\\dir\\missing"});
    EXPECT_EQ(missing.context.tempDir, "");
}

TEST(SetTempDirectory, FailsWithThreeLinesWhenNoVariableNamesABase) {
    ContextBench bench(FakePlatform::Style::Windows, {{"TMPDIR", "C:\\t"}});
    bench.platform.directories = {"C:\\t"};
    EXPECT_FALSE(bench.context.setTempDirectory());
    EXPECT_EQ(bench.log.errors(), (Lines{
                                      "ERROR \t: No temporary directory defined. Possible solutions :",
                                      "ERROR \t: \t1 - Specify the temporary directory on the command line ( -tempdir /tmp/ )",
                                      "ERROR \t: \t2 - Define TEMP or TMP environment variable",
                                  }));
    EXPECT_EQ(bench.context.tempDir, "");
}

TEST(SetTempDirectory, PassesOverAnUnusableTempForTmp) {
    ContextBench bench(FakePlatform::Style::Windows, {{"TEMP", "C:\\readonly"}, {"TMP", "C:\\Users\\u\\Tmp"}});
    bench.platform.directories = {"C:\\readonly", "C:\\Users\\u\\Tmp"};
    bench.platform.unwritablePrefixes = {"C:\\readonly\\"};
    ASSERT_TRUE(bench.context.setTempDirectory());
    const std::string& tempDir = bench.context.tempDir;
    EXPECT_TRUE(matches(tempDir, R"(C:\\Users\\u\\Tmp\\TALVE_TEMP_[0-9]{1,7})")) << tempDir;
    EXPECT_EQ(bench.platform.currentDir, tempDir);
    EXPECT_TRUE(bench.log.errors().empty());
    // Fresh names leave nothing to clear.
    EXPECT_TRUE(bench.platform.processCalls.empty());
}

TEST(SetTempDirectory, TakesARelativeTempFromTheLaunchDirectoryAndPassesOverAnEmptyOne) {
    // Read against the base after changing into it, "sub" would become sub\sub.
    ContextBench bench(FakePlatform::Style::Windows, {{"TEMP", ""}, {"TMP", "sub"}});
    bench.platform.directories = {"C:\\dir\\sub"};
    ASSERT_TRUE(bench.context.setTempDirectory());
    const std::string& tempDir = bench.context.tempDir;
    EXPECT_TRUE(matches(tempDir, R"(C:\\dir\\sub\\TALVE_TEMP_[0-9]{1,7})")) << tempDir;
    EXPECT_EQ(bench.platform.currentDir, tempDir);
    // The empty TEMP was not taken for the root of the drive.
    for (const std::string& directory : bench.platform.directories)
        EXPECT_NE(directory.rfind("C:\\TALVE_TEMP", 0), 0u) << directory;

    ContextBench dot(FakePlatform::Style::Posix, {{"TEMP", "."}});
    dot.platform.directories = {"/work/."};
    ASSERT_TRUE(dot.context.setTempDirectory());
    EXPECT_TRUE(matches(dot.context.tempDir, R"(/work/\./TALVE_TEMP_[0-9]{1,7})")) << dot.context.tempDir;
    // The clean-up, run from elsewhere, still names the same directory.
    dot.context.cleanUp();
    EXPECT_EQ(dot.platform.removedTrees, Lines{dot.context.tempDir});
    EXPECT_EQ(dot.platform.directories.count(dot.context.tempDir), 0u);
}

TEST(SetTempDirectory, FallsBackToTmpUnderPosixConventions) {
    ContextBench bench(FakePlatform::Style::Posix);
    bench.platform.directories = {"/tmp"};
    ASSERT_TRUE(bench.context.setTempDirectory());
    EXPECT_TRUE(matches(bench.context.tempDir, "/tmp/TALVE_TEMP_[0-9]{1,7}")) << bench.context.tempDir;

    ContextBench tmpdir(FakePlatform::Style::Posix, {{"TMPDIR", "/var/tmp"}});
    tmpdir.platform.directories = {"/tmp", "/var/tmp"};
    ASSERT_TRUE(tmpdir.context.setTempDirectory());
    EXPECT_TRUE(matches(tmpdir.context.tempDir, "/var/tmp/TALVE_TEMP_[0-9]{1,7}")) << tmpdir.context.tempDir;
}

// A leftover of a run that ended is cleared and taken; a directory whose
// lock a running launcher holds is neither removed nor shared.
TEST(SetTempDirectory, ClearsALeftoverButPassesOverADirectoryInUse) {
    auto named = [](long number) { return "C:\\Temp\\TALVE_TEMP_" + std::to_string(number); };
    ContextBench bench(FakePlatform::Style::Windows, {{"TEMP", "C:\\Temp"}});
    for (std::uint32_t number : {17, 4242, 9999999}) bench.platform.queueRandomWord(number);
    bench.platform.directories = {"C:\\Temp", named(17), named(4242), named(9999999)};
    bench.platform.locksHeldElsewhere = {named(17), named(4242)};
    ASSERT_TRUE(bench.context.setTempDirectory());
    EXPECT_EQ(bench.context.tempDir, named(9999999));
    EXPECT_EQ(bench.platform.removedTrees, Lines{named(9999999)});
    EXPECT_EQ(bench.platform.directories.count(named(17)), 1u);
    EXPECT_EQ(bench.platform.directories.count(named(4242)), 1u);
    EXPECT_EQ(bench.platform.locksHeld, std::set<std::string>{named(9999999)});
    EXPECT_TRUE(bench.log.errors().empty());

    // The lock lasts until the clean-up.
    bench.context.cleanUp();
    EXPECT_TRUE(bench.platform.locksHeld.empty());
    EXPECT_EQ(bench.platform.directories.count(named(9999999)), 0u);
}

// Where a held lock keeps a directory from being removed it goes first;
// elsewhere it is held through the removal, so that no other launcher can
// take the directory for a leftover meanwhile.
TEST(CleanUp, KeepsTheDirectoryLockedThroughTheRemovalWhereTheSystemAllows) {
    for (FakePlatform::Style style : {FakePlatform::Style::Windows, FakePlatform::Style::Posix}) {
        ContextBench bench(style, {{"TEMP", style == FakePlatform::Style::Windows ? "C:\\Temp" : "/t"}});
        bench.platform.directories = {"C:\\Temp", "/t"};
        ASSERT_TRUE(bench.context.setTempDirectory());
        std::vector<std::size_t> locksDuringRemoval;
        bench.platform.duringRemoval = [&](const std::string&) {
            locksDuringRemoval.push_back(bench.platform.locksHeld.size());
        };
        bench.context.cleanUp();
        EXPECT_EQ(locksDuringRemoval, std::vector<std::size_t>{style == FakePlatform::Style::Windows ? 0u : 1u});
        EXPECT_TRUE(bench.platform.locksHeld.empty());
    }

    // Short of descriptors, the removal tries again without the lock's, and
    // only a second failure is an error.
    ContextBench starved(FakePlatform::Style::Posix, {{"TEMP", "/t"}});
    starved.platform.directories = {"/t"};
    ASSERT_TRUE(starved.context.setTempDirectory());
    std::vector<std::size_t> locksDuringRemoval;
    starved.platform.duringRemoval = [&](const std::string&) {
        locksDuringRemoval.push_back(starved.platform.locksHeld.size());
    };
    starved.platform.unremovableTrees.push_back(TreeRemoval{false, 1, "/t/x (Too many open files)"});
    starved.context.cleanUp();
    EXPECT_EQ(locksDuringRemoval, (std::vector<std::size_t>{1u, 0u}));
    EXPECT_TRUE(starved.log.errors().empty());
    EXPECT_EQ(starved.platform.directories.count(starved.context.tempDir), 0u);
}

TEST(SetTempDirectory, DrawsEveryNameFromTheRandomSource) {
    ContextBench bench;
    bench.platform.directories = {"D:\\dir"};
    bench.context.tempDirOption = "D:\\dir";
    // The top of the 32-bit range would make the low numbers more likely: drawn again.
    bench.platform.queueRandomWord(0xFFFFFFFFu);
    bench.platform.queueRandomWord(1234567);
    ASSERT_TRUE(bench.context.setTempDirectory());
    EXPECT_EQ(bench.context.tempDir, "D:\\dir\\TALVE_TEMP_1234567");

    BootstrapContext second(bench.platform);
    second.tempDirOption = "D:\\dir";
    ASSERT_TRUE(second.setTempDirectory());
    EXPECT_NE(second.tempDir, bench.context.tempDir);
    EXPECT_EQ(bench.platform.locksHeld.size(), 2u);
    EXPECT_TRUE(bench.platform.processCalls.empty());

    ContextBench broken(FakePlatform::Style::Posix);
    broken.platform.directories = {"/tmp"};
    broken.platform.randomSourceWorks = false;
    EXPECT_FALSE(broken.context.setTempDirectory());
    EXPECT_EQ(broken.log.errors(),
              Lines{"ERROR \t: Unable to draw a name for the temp directory: the system's random source failed."});
    EXPECT_EQ(broken.platform.directories, std::set<std::string>{"/tmp"});
}

// Another user who makes names in a shared folder in advance can only make
// the run move on to the next folder, and when every folder is taken the
// run says so instead of claiming that none was defined.
TEST(SetTempDirectory, MovesOnFromASquattedFolderAndNamesEveryFolderThatHadNoFreeName) {
    ContextBench bench(FakePlatform::Style::Posix, {{"TEMP", "/shared"}, {"TMP", "/home/u/tmp"}});
    bench.platform.directories = {"/shared", "/home/u/tmp", "/tmp"};
    bench.platform.foreignPrefixes = {"/shared/TALVE_TEMP_"};
    ASSERT_TRUE(bench.context.setTempDirectory());
    EXPECT_TRUE(matches(bench.context.tempDir, "/home/u/tmp/TALVE_TEMP_[0-9]{1,7}")) << bench.context.tempDir;
    EXPECT_TRUE(bench.log.errors().empty());

    ContextBench squatted(FakePlatform::Style::Posix, {{"TEMP", "/shared"}, {"TMPDIR", "/shared"}});
    squatted.platform.directories = {"/shared", "/tmp"};
    squatted.platform.foreignPrefixes = {"/shared/TALVE_TEMP_", "/tmp/TALVE_TEMP_"};
    EXPECT_FALSE(squatted.context.setTempDirectory());
    const Lines errors = squatted.log.errors();
    ASSERT_EQ(errors.size(), 4u) << testing::PrintToString(errors);
    EXPECT_TRUE(matches(errors[0], R"(ERROR \t: Problem creating temp directory /shared/TALVE_TEMP_[0-9]{1,7})"));
    EXPECT_EQ(errors[1], "ERROR \t: None of the 128 names tried in /shared could be made: each exists already or "
                         "the folder refuses new directories.");
    EXPECT_TRUE(matches(errors[2], R"(ERROR \t: Problem creating temp directory /tmp/TALVE_TEMP_[0-9]{1,7})"));
    EXPECT_EQ(squatted.context.tempDir, "");
}

// Where the file system cannot lock a directory, one that this run has just
// made is still its own; one that was there already might be another run's.
TEST(SetTempDirectory, WithoutDirectoryLocksTakesOnlyADirectoryItMade) {
    ContextBench bench(FakePlatform::Style::Posix, {{"TEMP", "/net"}});
    bench.platform.directoryLocksSupported = false;
    bench.platform.queueRandomWord(5);
    bench.platform.queueRandomWord(6);
    bench.platform.directories = {"/net", "/net/TALVE_TEMP_5"};
    ASSERT_TRUE(bench.context.setTempDirectory());
    EXPECT_EQ(bench.context.tempDir, "/net/TALVE_TEMP_6");
    EXPECT_TRUE(bench.platform.processCalls.empty());
}

TEST(SetTempDirectory, NeverUsesADirectoryOfThatNameThatIsNotPrivate) {
    ContextBench bench;
    bench.platform.directories = {"D:\\shared"};
    bench.platform.foreignPrefixes = {"D:\\shared\\TALVE_TEMP_"};
    bench.context.tempDirOption = "D:\\shared";
    EXPECT_FALSE(bench.context.setTempDirectory());
    Lines errors = bench.log.errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(matches(errors[0], R"(ERROR \t: Problem creating temp directory D:\\shared\\TALVE_TEMP_[0-9]{1,7})"))
        << errors[0];
    EXPECT_EQ(bench.context.tempDir, "");
    EXPECT_EQ(bench.platform.currentDir, "D:\\shared");
    EXPECT_TRUE(bench.platform.locksHeld.empty());
}

TEST(CreateExitScript, MakesAnEmptyScriptAndExportsItsPlace) {
    test::ScratchDirectory scratch;
    ContextBench bench(FakePlatform::Style::Posix);
    const std::string script = scratch.file("exitscript.bat");
    test::writeFile(script, "left over\n");
    bench.context.tempDir = scratch.path();
    ASSERT_TRUE(bench.context.createExitScript());
    EXPECT_EQ(test::readFile(script), "");
    EXPECT_TRUE(test::fileExists(script));
    EXPECT_EQ(bench.platform.environment.at("KORVU_BOOTSTRAP_TEMP"), scratch.path());
    EXPECT_EQ(bench.platform.environment.at("KORVU_BOOTSTRAP_ONEXIT_SCRIPT"), script);

    ContextBench unset;
    EXPECT_FALSE(unset.context.createExitScript());
    EXPECT_EQ(unset.log.errors(), Lines{"ERROR \t: Unable to create the exit script. The temp directory should first be set."});
    EXPECT_TRUE(unset.platform.assignments.empty());

    ContextBench gone(FakePlatform::Style::Posix);
    gone.context.tempDir = scratch.file("gone");
    EXPECT_FALSE(gone.context.createExitScript());
    EXPECT_EQ(gone.log.errors(), Lines{"ERROR \t: Failed to create file " + scratch.file("gone/exitscript.bat")});
}

TEST(LaunchExitScript, RunsAnExistingScriptFromTheParentAndReportsItsFailure) {
    test::ScratchDirectory scratch;
    ContextBench missing;
    missing.context.tempDir = scratch.file("none");
    EXPECT_TRUE(missing.context.launchExitScript());
    EXPECT_TRUE(missing.log.has("INFO \t: No exit script has been found in the temp directory. This step will be ignored."));
    EXPECT_EQ(missing.platform.directoryChanges, Lines{".."});
    EXPECT_TRUE(missing.platform.processCalls.empty());

    // Under Windows conventions the script's path is tempDir + "\exitscript.bat";
    // here that is a file whose name holds the backslash.
    const std::string tempDir = scratch.file("TALVE_TEMP_1");
    const std::string script = tempDir + "\\exitscript.bat";
    // Left empty, it is not worth starting the interpreter for.
    test::writeFile(script, "");
    ContextBench empty;
    empty.context.tempDir = tempDir;
    EXPECT_TRUE(empty.context.launchExitScript());
    EXPECT_TRUE(empty.platform.processCalls.empty());
    EXPECT_TRUE(empty.log.has("INFO \t: The exit script is empty. This step will be ignored."));
    EXPECT_EQ(empty.platform.directoryChanges, Lines{".."});

    test::writeFile(script, "echo done\n");
    for (int code : {1, 0, 256}) {
        ContextBench bench;
        bench.context.tempDir = tempDir;
        bench.platform.queueOutcome(true, code);
        EXPECT_EQ(bench.context.launchExitScript(), code == 0);
        EXPECT_EQ(bench.context.lastResult, code);
        ASSERT_EQ(bench.platform.processCalls.size(), 1u);
        EXPECT_EQ(bench.platform.processCalls[0].commandLine, "cmd.exe /c \"" + script + "\"");
        EXPECT_FALSE(bench.platform.processCalls[0].discardOutput);
        EXPECT_FALSE(bench.platform.processCalls[0].detach);
        EXPECT_EQ(bench.platform.directoryChanges, Lines{".."});
        EXPECT_EQ(bench.log.errors(),
                  code == 0 ? Lines{}
                            : Lines{"ERROR \t: The exit script failed to execute properly. The return code was : " +
                                    std::to_string(code)});
    }
}

TEST(LaunchExitScript, RefusesAScriptThatIsNoRegularFileWithoutOpeningItForReading) {
    test::ScratchDirectory scratch;
    const std::string script = scratch.file("T\\exitscript.bat");
    ASSERT_EQ(mkfifo(script.c_str(), 0600), 0);
    ContextBench bench;
    bench.context.tempDir = scratch.file("T");
    EXPECT_FALSE(bench.context.launchExitScript());
    EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The file \"" + script + "\" is not a regular file and is not read."});
    EXPECT_TRUE(bench.platform.processCalls.empty());
    EXPECT_EQ(bench.platform.directoryChanges, Lines{".."});

    // A long script is still a script.
    std::remove(script.c_str());
    test::writeFile(script, std::string(100 * 1024, '\n'));
    ContextBench large;
    large.context.tempDir = scratch.file("T");
    EXPECT_TRUE(large.context.launchExitScript());
    EXPECT_EQ(large.platform.processCalls.size(), 1u);
}

TEST(CleanUp, RemovesTheTemporaryDirectoryFromItsParent) {
    ContextBench bench;
    bench.context.tempDir = "C:\\Temp\\TALVE_TEMP_7";
    EXPECT_TRUE(bench.context.cleanUp());
    EXPECT_TRUE(bench.context.cleanedUp);
    EXPECT_EQ(bench.platform.directoryChanges, Lines{".."});
    EXPECT_TRUE(bench.platform.processCalls.empty());
    EXPECT_EQ(bench.platform.removedTrees, Lines{"C:\\Temp\\TALVE_TEMP_7"});
    EXPECT_TRUE(bench.log.has("INFO \t: Removing directory : C:\\Temp\\TALVE_TEMP_7"));

    // What stays is named, and the next clean-up (the exit handler's) tries again.
    ContextBench failing;
    failing.context.tempDir = "C:\\Temp\\TALVE_TEMP_7";
    failing.platform.unremovableTrees.push_back(
        TreeRemoval{false, 3, "C:\\Temp\\TALVE_TEMP_7\\setup.jar (The process cannot access the file)"});
    EXPECT_TRUE(failing.context.cleanUp());
    EXPECT_EQ(failing.log.errors(),
              (Lines{"ERROR \t: The directory C:\\Temp\\TALVE_TEMP_7 could not be removed whole: 3 entries are left, "
                     "among them C:\\Temp\\TALVE_TEMP_7\\setup.jar (The process cannot access the file).",
                     "ERROR \t: Failed to execute the clean up procedure"}));
    EXPECT_TRUE(failing.context.cleanUp());
    EXPECT_EQ(failing.platform.removedTrees.size(), 2u);
    EXPECT_TRUE(failing.context.cleanUp());
    EXPECT_EQ(failing.platform.removedTrees.size(), 2u);

    ContextBench unset;
    EXPECT_TRUE(unset.context.cleanUp());
    EXPECT_TRUE(unset.platform.processCalls.empty());
}

} // namespace
} // namespace talve
