// The packed runtime, on each target, when its archive is damaged or its
// "_jvm" folder is already taken: one line, exit code 1, and nothing of the
// run left behind.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace e2e {
namespace {

// Bytes that do not compress, so the last file spans the archive's tail.
std::string noise(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t seed = 2024;
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PackedRuntimeFailure : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(target().unpacker.empty());
        scratch.write("runtime/bin/" + target().javaName, "not really java");
        scratch.write("runtime/jvm.properties", "java.bin.path=bin/" + target().javaName + "\n");
        // Sorted last, so the entries before it are on disk when it fails.
        scratch.write("runtime/lib/modules", noise(300 * 1024));
        fs::create_directories(scratch / "temp");
        RunResult packed = runPack({"runtime", (scratch / "runtime").string(), "-o", (scratch / "temp" / name).string(),
                                    "--unpacker", target().unpacker});
        ASSERT_EQ(packed.exitCode, 0) << packed.err;
    }

    RunResult unpack() {
        std::vector<std::string> command = target().runner;
        command.insert(command.end(), {"./" + name, "-o"});
        Environment environment = target().environment;
        environment["PATH"] = "/usr/bin:/bin";
        RunResult result = runProgram(command, environment, scratch / "temp");
        result.err = target().normalized(result.err);
        return result;
    }

    Scratch scratch;
    const std::string name = target().windows ? "jvm.exe" : "jvm";
};

TEST_F(PackedRuntimeFailure, ADamagedFileLeavesNothingOfTheRun) {
    {
        std::fstream file(scratch / "temp" / name, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(-5000, std::ios::end); // inside lib/modules, ahead of the trailer
        file.put('\x55');
    }
    RunResult result = unpack();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("talve-unpack: damaged runtime archive in ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("(lib/modules)"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_EQ(namesIn(scratch / "temp"), std::vector<std::string>{name});
}

TEST_F(PackedRuntimeFailure, ATakenJvmFolderIsLeftAsItWas) {
    scratch.write("temp/_jvm/keep.txt", "mine");
    RunResult result = unpack();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "talve-unpack: cannot unpack into _jvm: it already exists and is not empty; remove it or "
                          "unpack elsewhere\n");
    EXPECT_EQ(namesIn(scratch / "temp" / "_jvm"), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(readFile(scratch / "temp" / "_jvm" / "keep.txt"), "mine");

    // An empty folder waiting for the runtime is taken.
    fs::remove(scratch / "temp" / "_jvm" / "keep.txt");
    result = unpack();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(scratch / "temp" / "_jvm" / "bin" / target().javaName), "not really java");
    EXPECT_EQ(namesIn(scratch / "temp"), (std::vector<std::string>{"_jvm", name}));
}

} // namespace
} // namespace e2e
