// The carried runtime, unpacked by running it: what it says on its error
// output reaches the log, and the runtime it leaves is read with care.

#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace talve {
namespace {

namespace fs = std::filesystem;
using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

const std::string failedLine = "ERROR \t: Process failed to execute successfully. Return code was : 1";

// An installer that carries a packed runtime, run in the scratch folder as
// its temporary directory.
class CarriedRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        test::InstallerBuilder installer;
        installer.payload(table::jvmEntry, "packed runtime", "jvm").payload(table::jarEntry, "jar", "install.jar");
        installer.write(scratch.file("setup"));
    }

    std::unique_ptr<JarExtractor> extractorOn(ContextBench& bench) {
        bench.platform.freeBytes = std::uint64_t{1} << 30;
        bench.context.tempDir = scratch.path();
        auto extractor = std::make_unique<JarExtractor>(bench.context);
        EXPECT_TRUE(extractor->open(scratch.file("setup")));
        return extractor;
    }

    test::ScratchDirectory scratch;
    test::CurrentDirectoryAt inScratch{scratch.path()};
};

TEST_F(CarriedRuntime, AFailingUnpackerLeavesItsErrorOutputInTheLogAlone) {
    ContextBench bench{FakePlatform::Style::Posix};
    bench.platform.queueOutcome(true, 1);
    bench.platform.errorOutputs.push_back("unpack: no space left on device\r\nsecond line\n");
    auto extractor = extractorOn(bench);
    EXPECT_EQ(extractor->findOrExtractJvm(), 1);

    ASSERT_FALSE(bench.platform.processCalls.empty());
    EXPECT_TRUE(bench.platform.processCalls.back().keepErrors);
    EXPECT_EQ(bench.platform.processCalls.back().commandLine, "\"./jvm\" -o");
    EXPECT_TRUE(bench.log.has("ERROR \t: The packed runtime wrote on its error output :"));
    EXPECT_TRUE(bench.log.has("ERROR \t:     unpack: no space left on device"));
    EXPECT_TRUE(bench.log.has("ERROR \t:     second line"));
    // The console shows the failure only; what the program said is for the log.
    EXPECT_EQ(bench.log.errors(), (Lines{failedLine, "ERROR \t: The program that failed is jvm."}));
    EXPECT_FALSE(bench.platform.environment.count("KORVU_JVM_LOC"));
}

TEST_F(CarriedRuntime, ASucceedingUnpackersErrorOutputIsDetailAndConsoleModeShowsItInstead) {
    ContextBench bench{FakePlatform::Style::Posix};
    bench.platform.errorOutputs.push_back("note: slow disk\n");
    auto extractor = extractorOn(bench);
    EXPECT_EQ(extractor->findOrExtractJvm(), 0);
    EXPECT_TRUE(bench.log.has("DEBUG \t:     note: slow disk"));
    EXPECT_TRUE(bench.log.errors().empty());

    ContextBench console{FakePlatform::Style::Posix};
    console.context.consoleMode = true;
    auto shown = extractorOn(console);
    EXPECT_EQ(shown->findOrExtractJvm(), 0);
    ASSERT_FALSE(console.platform.processCalls.empty());
    EXPECT_FALSE(console.platform.processCalls.back().keepErrors);
    EXPECT_FALSE(console.platform.processCalls.back().discardOutput);
}

TEST_F(CarriedRuntime, UnpackedRuntimePropertiesThatAreNoRegularFileStopTheRun) {
    ContextBench bench{FakePlatform::Style::Posix};
    fs::create_directory(scratch.file("_jvm"));
    const std::string properties = scratch.file("_jvm/jvm.properties");
    ASSERT_EQ(mkfifo(properties.c_str(), 0600), 0);
    auto extractor = extractorOn(bench);
    EXPECT_EQ(extractor->extractAndRunJar(), 1);
    EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The file \"" + properties + "\" is not a regular file and is not read."});
    EXPECT_EQ(extractor->installerCommand(), "");

    fs::remove(properties);
    fs::create_directory(properties);
    ContextBench directory{FakePlatform::Style::Posix};
    auto again = extractorOn(directory);
    EXPECT_EQ(again->extractAndRunJar(), 1);
    EXPECT_EQ(directory.log.errors().size(), 1u);

    // Every runtime needs its jvm.properties, the carried one too.
    fs::remove(properties);
    ContextBench missing{FakePlatform::Style::Posix};
    auto without = extractorOn(missing);
    EXPECT_EQ(without->extractAndRunJar(), 1);
    EXPECT_EQ(missing.log.errors(), Lines{"ERROR \t: The file \"" + properties + "\" does not exist."});
    EXPECT_EQ(without->installerCommand(), "");
}

} // namespace
} // namespace talve
