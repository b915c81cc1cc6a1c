// The command that starts the installer jar: the runtime's launcher as its
// "jvm.properties" names it, and the limit on the command's length.

#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace talve {
namespace {

namespace fs = std::filesystem;
using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

// A run with -javaHome on a runtime directory of the scratch folder, which
// is also the temporary directory and the current one (payloads are
// extracted under their bare names).
class JarLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        test::InstallerBuilder installer;
        installer.payload(table::jarEntry, "jar bytes", "install.jar");
        installer.write(scratch.file("setup"));
        fs::create_directory(scratch.file("runtime"));
        bench.platform.freeBytes = std::uint64_t{1} << 30;
        bench.context.tempDir = scratch.path();
        bench.context.javaHomeGiven = true;
        bench.context.javaHome = home;
    }

    // Runs the preparation with this jvm.properties; its result.
    int prepare(const std::string& properties) {
        test::writeFile(home + "jvm.properties", properties);
        extractor = std::make_unique<JarExtractor>(bench.context);
        EXPECT_TRUE(extractor->open(scratch.file("setup")));
        return extractor->extractAndRunJar();
    }

    test::ScratchDirectory scratch;
    test::CurrentDirectoryAt inScratch{scratch.path()};
    ContextBench bench{FakePlatform::Style::Posix};
    const std::string home = scratch.file("runtime") + "/";
    std::unique_ptr<JarExtractor> extractor;
};

std::string commandFor(const std::string& home, const std::string& launcher) {
    return "\"" + home + launcher + "\" -Duser.language=en -jar \"install.jar\"";
}

// An empty entry would let the installer, and whatever it runs by name, pick
// programs out of the current directory.
TEST_F(JarLaunch, TheSearchPathStartsWithTheLibraryAndHasNoEmptyEntry) {
    const std::string library = scratch.path() + "/korvu_lib";
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases{
        {std::nullopt, library},
        {"", library},
        {":", library},
        {"/usr/bin", library + ":/usr/bin"},
        {"::/usr/bin::/bin:", library + ":/usr/bin:/bin"},
    };
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before.value_or("<unset>"));
        if (before) bench.platform.environment["PATH"] = *before;
        else bench.platform.environment.erase("PATH");
        ASSERT_EQ(prepare("java.bin.path=bin/java\n"), 0);
        EXPECT_EQ(bench.platform.environment["PATH"], after);
    }
}

TEST_F(JarLaunch, ALineTooLongForTheBufferIsLeftOutWholeNotReadAsItsTail) {
    // Read in 1,000-character pieces, the comment's tail would name the launcher.
    const std::string longComment = "#" + std::string(999, 'c') + "java.bin.path=evil/java\n";
    ASSERT_EQ(prepare(longComment), 0);
    EXPECT_EQ(extractor->installerCommand(), commandFor(home, "bin/java"));

    ASSERT_EQ(prepare(longComment + "java.bin.path=jre/bin/java\n"), 0);
    EXPECT_EQ(extractor->installerCommand(), commandFor(home, "jre/bin/java"));
}

TEST_F(JarLaunch, ALauncherOutsideTheRuntimeIsRefused) {
    for (const std::string outside : {"../../elsewhere/prog", "/usr/bin/prog", "bin/../../prog", "..\\prog",
                                      "\\prog", "C:\\prog", "bin/java/../../.."}) {
        EXPECT_EQ(prepare("java.bin.path=" + outside + "\n"), 1) << outside;
        EXPECT_EQ(extractor->installerCommand(), "") << outside;
        EXPECT_TRUE(bench.log.has("ERROR \t: The file \"" + home + "jvm.properties\" names the Java launcher \"" +
                                  outside + "\", which does not lie inside the runtime directory " + home + "."))
            << outside;
    }
    for (const std::string inside : {"bin/./java", "jre/../bin/java", "bin//java"}) {
        EXPECT_EQ(prepare("java.bin.path=" + inside + "\n"), 0) << inside;
        EXPECT_EQ(extractor->installerCommand(), commandFor(home, inside));
    }
}

TEST_F(JarLaunch, ACommandLongerThanTheLimitIsNeverRunCutShort) {
    const std::size_t fixed = commandFor(home, "").size();
    ASSERT_LT(fixed + 4, 1000u);
    const std::string fits = "bin/" + std::string(1000 - fixed - 4, 'j');
    ASSERT_EQ(prepare("java.bin.path=" + fits + "\n"), 0);
    EXPECT_EQ(extractor->installerCommand().size(), 1000u);

    const std::string tooLong = fits + "a";
    EXPECT_EQ(prepare("java.bin.path=" + tooLong + "\n"), 1);
    EXPECT_EQ(extractor->installerCommand(), "");
    EXPECT_EQ(bench.log.errors().back(), "ERROR \t: The command that starts the installer is 1001 characters long, "
                                         "more than the 1000 the launcher can run: " +
                                             commandFor(home, tooLong));
}

TEST_F(JarLaunch, RuntimePropertiesThatAreNoRegularFileStopTheRunWithoutReadingThem) {
    const std::string properties = home + "jvm.properties";
    ASSERT_EQ(mkfifo(properties.c_str(), 0600), 0);
    JarExtractor reader(bench.context);
    ASSERT_TRUE(reader.open(scratch.file("setup")));
    EXPECT_EQ(reader.extractAndRunJar(), 1);
    EXPECT_EQ(bench.log.errors(),
              (Lines{"ERROR \t: The file \"" + properties + "\" is not a regular file and is not read.",
                     "ERROR \t: The jvm provided on the command line (" + home + ")is not suitable for the installer.",
                     "ERROR \t: Please provide a correct jvm for the installer or use the jvm embedded in the "
                     "installer."}));
    EXPECT_FALSE(bench.platform.environment.count("KORVU_JVM_LOC"));
}

TEST_F(JarLaunch, ALibraryDirectoryThatCannotBeMadeIsOneWarningAndTheRunGoesOn) {
    const auto warnings = [this] {
        Lines found;
        for (const std::string& line : bench.log.lines())
            if (line.rfind("WARNING", 0) == 0) found.push_back(line);
        return found;
    };
    ASSERT_EQ(prepare(""), 0);
    EXPECT_EQ(warnings(), Lines{});
    EXPECT_EQ(bench.platform.directories.count(scratch.file("korvu_lib")), 1u);

    bench.platform.unwritablePrefixes = {scratch.file("korvu_lib")};
    ASSERT_EQ(prepare(""), 0);
    EXPECT_EQ(extractor->installerCommand(), commandFor(home, "bin/java"));
    EXPECT_EQ(warnings(), Lines{"WARNING \t: Unable to create the library directory " +
                                          scratch.file("korvu_lib") + "; the installer runs without it."});
    EXPECT_TRUE(bench.log.errors().empty());
}

} // namespace
} // namespace talve
