// Packs a folder with the real talve-unpack in front, as talve-pack does,
// and runs the packed file the way the launcher does: "./<name> -o" in a
// scratch folder.

#include "runtime_command.h"
#include "unpack_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace talve {
namespace {
using namespace unpacktest;

const fs::path kUnpackProgram = TALVE_UNPACK_PROGRAM;
// Empty unless the build was pointed at a Windows build.

int runPackCommand(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    return runRuntimeCommand(static_cast<int>(argv.size()), argv.data());
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Runs `command` in `folder` and returns its exit code; standard error
// goes to `errors`.
int runIn(const fs::path& folder, const std::string& command, const fs::path& errors) {
    const int status = std::system(("cd " + quoted(folder) + " && " + command + " 2>" + quoted(errors)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void makeRuntime(const fs::path& root) {
    writeFile(root / "bin" / "java", "#!/bin/sh\necho java\n", true);
    writeFile(root / "lib" / "server" / "libjvm.so", noise(2 * 1024 * 1024));
    writeFile(root / "lib" / "empty", "");
    writeFile(root / "legal" / "java.base" / "LICENSE", "license");
    fs::create_directories(root / "legal" / "java.logging");
    fs::create_symlink("../java.base/LICENSE", root / "legal" / "java.logging" / "LICENSE");
    fs::create_directories(root / "conf" / "empty");
}

TEST(PackedRuntimeEndToEnd, UnpacksIntoJvmWithItsProperties) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    fs::create_directories(scratch / "temp");

    // No --unpacker: the talve-unpack beside talve-pack is taken.
    const fs::path packProgram = kUnpackProgram.parent_path() / "talve-pack";
    testing::internal::CaptureStdout();
    ASSERT_EQ(runPackCommand({packProgram.string(), "runtime", (scratch / "runtime").string(), "-o",
                              (scratch / "temp" / "jvm").string()}),
              0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_GT(std::stoull(printed), 2u * 1024 * 1024);
    EXPECT_EQ(printed.back(), '\n');

    ASSERT_EQ(runIn(scratch / "temp", "\"./jvm\" -o", scratch / "errors"), 0) << readFile(scratch / "errors");
    EXPECT_EQ(readFile(scratch / "errors"), "");
    EXPECT_EQ(without(treeListing(scratch / "temp" / "_jvm"), "f jvm.properties"), treeListing(scratch / "runtime"));
    EXPECT_EQ(readFile(scratch / "temp" / "_jvm" / "jvm.properties"), "java.bin.path=bin/java\n");
}

TEST(PackedRuntimeEndToEnd, FailsWithExitCodeOneAndOneLine) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    fs::create_directories(scratch / "temp");
    testing::internal::CaptureStdout();
    ASSERT_EQ(runPackCommand({"talve-pack", "runtime", (scratch / "runtime").string(), "-o",
                              (scratch / "packed").string(), "--unpacker", kUnpackProgram.string()}),
              0);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(runIn(scratch / "temp", "\"" + (scratch / "packed").string() + "\"", scratch / "errors"), 1);
    EXPECT_NE(readFile(scratch / "errors").find("usage:"), std::string::npos);

    const std::string packed = readFile(scratch / "packed");
    writeFile(scratch / "temp" / "jvm", packed.substr(0, packed.size() - 10), true);
    EXPECT_EQ(runIn(scratch / "temp", "\"./jvm\" -o", scratch / "errors"), 1);
    const std::string message = readFile(scratch / "errors");
    EXPECT_EQ(message.rfind("talve-unpack: damaged runtime archive in ", 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << message;

    // What an earlier run or anybody else left in _jvm is not merged with.
    writeFile(scratch / "temp" / "jvm", packed, true);
    writeFile(scratch / "temp" / "_jvm" / "bin" / "java" / "keep", "");
    EXPECT_EQ(runIn(scratch / "temp", "\"./jvm\" -o", scratch / "errors"), 1);
    EXPECT_EQ(readFile(scratch / "errors"), "talve-unpack: cannot unpack into _jvm: it already exists and is not "
                                            "empty; remove it or unpack elsewhere\n");
    EXPECT_EQ(treeListing(scratch / "temp" / "_jvm"), (std::vector<std::string>{"d bin", "d bin/java", "f bin/java/keep 0 0"}));
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(PackedRuntimeEndToEnd, PackCommandReportsWrongArguments) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "--help"}), 0);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", (scratch / "runtime").string()}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "b", "-o", "x"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "-o"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "--fast", "-o", "x"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "--compression", "lzma", "-o", "x"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "--level", "23", "-o", "x"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "--level", "0", "-o", "x"}), 2);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", "a", "--compression", "deflate", "--level", "3", "-o", "x"}), 2);
    // talve-pack found nowhere beside an unpacker.
    EXPECT_EQ(runPackCommand({(scratch / "talve-pack").string(), "runtime", (scratch / "runtime").string(), "-o",
                              (scratch / "out").string()}),
              1);
    EXPECT_EQ(runPackCommand({"talve-pack", "runtime", (scratch / "missing").string(), "-o",
                              (scratch / "out").string(), "--unpacker", kUnpackProgram.string()}),
              1);
    const std::string help = testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(help.rfind("usage: talve-pack runtime DIR -o FILE [--unpacker STUB] [--compression zstd|deflate] [--level N]\n", 0), 0u);
    EXPECT_NE(errors.find("talve-pack runtime: no runtime folder given"), std::string::npos);
    EXPECT_NE(errors.find("talve-pack runtime: no output file given (-o FILE)"), std::string::npos);
    EXPECT_NE(errors.find("only one runtime folder can be packed, got a and b"), std::string::npos);
    EXPECT_NE(errors.find("-o needs a file name"), std::string::npos);
    EXPECT_NE(errors.find("unknown option --fast"), std::string::npos);
    EXPECT_NE(errors.find("unknown compression lzma (zstd or deflate)"), std::string::npos);
    EXPECT_EQ(countOf(errors, "--level needs a zstd level from 1 to 22"), 2u);
    EXPECT_NE(errors.find("--level applies to zstd only"), std::string::npos);
    EXPECT_NE(errors.find("no Linux unpacker found (looked for " + (scratch / "talve-unpack").string() +
                          "); give one with --unpacker"),
              std::string::npos);
    EXPECT_NE(errors.find("talve-pack runtime: runtime folder " + (scratch / "missing").string() + " does not exist"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "out"));
}

// A Windows runtime packed on Linux takes the Windows unpacker where the kit
// installs it, beside talve-pack's own folder.
TEST(PackedRuntimeEndToEnd, AWindowsRuntimeFindsTheKitsWindowsUnpacker) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    writeFile(scratch / "runtime" / "bin" / "java.exe", "MZ");
    const fs::path talvePack = scratch / "kit" / "bin" / "talve-pack";
    testing::internal::CaptureStderr();
    const int missing = runPackCommand({talvePack.string(), "runtime", (scratch / "runtime").string(), "-o",
                                        (scratch / "jvm.exe").string()});
    const std::string errors = testing::internal::GetCapturedStderr();
    if (!fs::exists("/usr/lib/talve/windows/talve-unpack.exe")) {
        EXPECT_EQ(missing, 1);
        EXPECT_NE(errors.find("no Windows unpacker found (looked for " + (scratch / "kit/bin/talve-unpack.exe").string() +
                              ", " + (scratch / "kit/lib/talve/windows/talve-unpack.exe").string() +
                              ", /usr/lib/talve/windows/talve-unpack.exe); give one with --unpacker STUB"),
                  std::string::npos)
            << errors;
    }
    const std::string stub = "MZ" + noise(70000);
    writeFile(scratch / "kit" / "lib" / "talve" / "windows" / "talve-unpack.exe", stub, true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPackCommand({talvePack.string(), "runtime", (scratch / "runtime").string(), "-o",
                              (scratch / "jvm.exe").string()}),
              0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(scratch / "jvm.exe").compare(0, stub.size(), stub), 0) << "another unpacker in front";
}

} // namespace
} // namespace talve
