// Installers, runtimes and environments put together by somebody who wants
// the launcher to write, run or wait for what nobody asked for.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace e2e {
namespace {

class HostileInput : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path jar = scratch.write("install.jar", "installer jar bytes");
    fs::path data = scratch.write("filesets.jar", "data jar bytes");

    Launch withRuntime() {
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)});
        return l;
    }

    // A run that must stop before the installer: code 1, this error, nothing left behind.
    void expectRefused(Launch& l, const fs::path& installer, const std::string& error) {
        RunResult result = l.run(installer);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("ERROR \t: " + error), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(l.record)) << "the installer ran";
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
};

// The name field of a row, rewritten in an installer that talve-pack made
// (which stores base names only).
void renamePayload(const fs::path& installer, const std::string& from, const std::string& to) {
    std::string bytes = readFile(installer);
    const std::size_t at = bytes.rfind(from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_LE(to.size(), 12u);
    bytes.replace(at, 12, to + std::string(12 - to.size(), '\0'));
    std::FILE* file = std::fopen(installer.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

TEST_F(HostileInput, APayloadNamedOutsideTheRunIsRefusedBeforeAnythingIsExtracted) {
    for (const std::string name : {"../../x.jar", "..\\..\\x.jar"}) {
        fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--data", data.string()});
        renamePayload(installer, "filesets.jar", name);
        Launch l = withRuntime();
        expectRefused(l, installer, "The installer file " + target().path(installer) +
                                        " is damaged: the data payload is named \"" + name +
                                        "\", which is not a plain file name.");
        EXPECT_FALSE(fs::exists(scratch / "x.jar")) << name;
    }
}

TEST_F(HostileInput, TheJavaLauncherMustLieInsideTheRuntime) {
    // A program that would gladly play the installer.
    fs::create_directories(scratch / "elsewhere");
    fs::copy_file(runtime / "bin" / target().javaName, scratch / "elsewhere" / target().javaName);
    scratch.write("runtime/jvm.properties", "java.bin.path=../elsewhere/" + target().javaName + "\n");
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    Launch l = withRuntime();
    const std::string home = target().path(runtime) + target().separator;
    expectRefused(l, installer, "The file \"" + home + "jvm.properties\" names the Java launcher \"../elsewhere/" +
                                    target().javaName + "\", which does not lie inside the runtime directory " + home +
                                    ".");
}

TEST_F(HostileInput, ACommandTooLongToRunWholeIsNotRunCutShort) {
    // Cut at 1,000 characters, the program's own name would end in the middle.
    scratch.write("runtime/jvm.properties", "java.bin.path=bin/" + std::string(970, 'j') + "/" + target().javaName + "\n");
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    Launch l = withRuntime();
    expectRefused(l, installer, "The command that starts the installer is ");
}

TEST_F(HostileInput, RuntimePropertiesThatAreAPipeDoNotHangTheRun) {
    if (target().windows) GTEST_SKIP() << "FIFOs are the POSIX side";
    fs::remove(runtime / "jvm.properties");
    ASSERT_EQ(mkfifo((runtime / "jvm.properties").c_str(), 0600), 0);
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    Launch l = withRuntime();
    const std::string home = target().path(runtime) + target().separator;
    expectRefused(l, installer, "The file \"" + home + "jvm.properties\" is not a regular file and is not read.");
}

TEST_F(HostileInput, AFailingPackedRuntimeExplainsItselfInTheKeptLogNotOnTheConsole) {
    const std::string packedName = target().windows ? "jvm.exe" : "jvm";
    RunResult packed = runPack({"runtime", runtime.string(), "-o", (scratch / packedName).string(), "--unpacker",
                                target().unpacker});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    // Damaged after packing, as a broken download would be.
    std::string bytes = readFile(scratch / packedName);
    bytes[bytes.size() - 3] = static_cast<char>(bytes[bytes.size() - 3] ^ 0xFF);
    fs::remove(scratch / packedName);
    scratch.write(packedName, bytes);
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--runtime", (scratch / packedName).string(),
                                                 "--runtime-size", "100000"});
    Launch l(scratch);
    RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Process failed to execute successfully. Return code was : 1"), std::string::npos);
    EXPECT_EQ(result.err.find("talve-unpack"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("talve-unpack"), std::string::npos) << result.out;
    auto logs = bootstrapLogs(l.tempBase);
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = target().normalized(readFile(logs[0]));
    EXPECT_NE(log.find("ERROR \t: The packed runtime wrote on its error output :\nERROR \t:     talve-unpack: "),
              std::string::npos)
        << log;
    EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
}

TEST_F(HostileInput, ARelativeTempIsTakenFromTheLaunchDirectoryAndNothingIsLeftBehind) {
    fs::create_directories(scratch / "sub");
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    for (const std::string relative : {"sub", "."}) {
        Launch l = withRuntime();
        l.set(target().temporaryVariable("TEMP"), relative);
        RunResult result = l.run(installer);
        ASSERT_EQ(result.exitCode, 0) << relative << result.err;
        auto record = readProbeRecord(l.record);
        ASSERT_TRUE(record);
        const std::string base = target().path(scratch.root()) + target().separator + relative + target().separator;
        EXPECT_EQ(record->env("KORVU_BOOTSTRAP_TEMP").rfind(base + "TALVE_TEMP_", 0), 0u)
            << record->env("KORVU_BOOTSTRAP_TEMP");
        EXPECT_FALSE(temporaryDirectoryLeft(scratch.root())) << relative;
        EXPECT_FALSE(temporaryDirectoryLeft(scratch / "sub")) << relative;
        fs::remove(l.record);
    }
}

} // namespace
} // namespace e2e
