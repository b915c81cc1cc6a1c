#include "archive_reader.h"
#include "runtime_archive.h"
#include "runtime_unpacker.h"
#include "unpack_test_support.h"

#include <gtest/gtest.h>

namespace talve {
namespace {
using namespace unpacktest;

const std::string kStub = "#!fake unpacker stub\n";

// A runtime folder with what real runtimes hold: nested folders, empty
// files and folders, executables, links inside it, and a large file.
void makeRuntime(const fs::path& root) {
    writeFile(root / "bin" / "java", "launcher", true);
    writeFile(root / "bin" / "keytool", "", true);
    writeFile(root / "conf" / "security" / "policy" / "README.txt", "policy\n");
    writeFile(root / "lib" / "empty.cfg", "");
    writeFile(root / "lib" / "modules", noise(3 * 1024 * 1024 + 17));
    writeFile(root / "lib" / "repetitive.txt", std::string(5 * 1024 * 1024, 'j'));
    fs::create_directories(root / "lib" / "empty" / "folder");
    fs::create_symlink("../lib/modules", root / "bin" / "modules-link");
    fs::create_symlink("security", root / "conf" / "sec");
}

struct Packed {
    bool ok = false;
    std::uint64_t unpackedBytes = 0;
    std::string error;
};

Packed pack(const fs::path& runtime, const fs::path& stub, const fs::path& output,
            const RuntimeCompression& compression = RuntimeCompression()) {
    Packed packed;
    packed.ok = writePackedRuntime(runtime.string(), stub.string(), output.string(), packed.unpackedBytes,
                                   packed.error, compression);
    return packed;
}

// Sizes around the frame length, so that a file ends exactly on a frame's
// end, one byte after, or spans several frames unpacked side by side.
TEST(RuntimeRoundTrip, BothCodecsGiveBackEveryFileWhateverItsSize) {
    const std::uint64_t frame = archive::kZstdFrameSize;
    for (const archive::Codec codec : {archive::Codec::Deflate, archive::Codec::Zstd}) {
        SCOPED_TRACE(static_cast<int>(codec));
        ScratchDir scratch;
        writeFile(scratch / "runtime" / "bin" / "java", "launcher", true);
        writeFile(scratch / "runtime" / "lib" / "empty", "");
        writeFile(scratch / "runtime" / "lib" / "one-frame", noise(static_cast<std::size_t>(frame), 1));
        writeFile(scratch / "runtime" / "lib" / "one-byte-more", noise(static_cast<std::size_t>(frame) + 1, 2));
        std::string modules = noise(static_cast<std::size_t>(2 * frame), 3) + std::string(static_cast<std::size_t>(frame), 'm');
        writeFile(scratch / "runtime" / "lib" / "modules", modules + "tail");
        writeFile(scratch / "stub", kStub);
        RuntimeCompression compression;
        compression.codec = codec;
        compression.zstdLevel = 1;
        const Packed packed = pack(scratch / "runtime", scratch / "stub", scratch / "packed", compression);
        ASSERT_TRUE(packed.ok) << packed.error;

        std::string error;
        archive::ArchiveIndex index;
        std::FILE* file = std::fopen((scratch / "packed").string().c_str(), "rb");
        ASSERT_TRUE(archive::readArchiveIndex(file, fs::file_size(scratch / "packed"), index, error)) << error;
        std::fclose(file);
        for (const archive::IndexedEntry& entry : index.entries) {
            if (entry.header.type == archive::EntryType::File) {
                EXPECT_EQ(entry.header.codec, codec) << entry.header.path;
            }
        }
        ASSERT_TRUE(unpack::unpackRuntime(scratch / "packed", scratch / "_jvm", error)) << error;
        EXPECT_EQ(without(treeListing(scratch / "_jvm"), "f jvm.properties"), treeListing(scratch / "runtime"));
    }
}

TEST(RuntimeRoundTrip, UnpacksTheSameTreeWithLinksAndExecutableBits) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    writeFile(scratch / "stub", kStub);

    const Packed packed = pack(scratch / "runtime", scratch / "stub", scratch / "packed");
    ASSERT_TRUE(packed.ok) << packed.error;
    EXPECT_EQ(readFile(scratch / "packed").substr(0, kStub.size()), kStub);
    EXPECT_NE(fs::status(scratch / "packed").permissions() & fs::perms::owner_exec, fs::perms::none);

    std::string error;
    ASSERT_TRUE(unpack::unpackRuntime(scratch / "packed", scratch / "out" / "_jvm", error)) << error;
    EXPECT_EQ(without(treeListing(scratch / "out" / "_jvm"), "f jvm.properties"),
              treeListing(scratch / "runtime"));
    EXPECT_EQ(readFile(scratch / "out" / "_jvm" / "jvm.properties"), "java.bin.path=bin/java\n");
    EXPECT_EQ(readFile(scratch / "out" / "_jvm" / "bin" / "modules-link"), readFile(scratch / "runtime" / "lib" / "modules"));

    // Whole 4 KiB blocks: 8 folders with _jvm itself, 769 for the noise,
    // 1280 for the repetitive file, 1 each for java, README.txt and
    // jvm.properties; empty files and links take none.
    EXPECT_EQ(packed.unpackedBytes, (8u + 769 + 1280 + 3) * 4096);
}

TEST(RuntimeRoundTrip, UnpacksOnlyIntoAMissingOrEmptyFolder) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    writeFile(scratch / "stub", kStub);
    ASSERT_TRUE(pack(scratch / "runtime", scratch / "stub", scratch / "packed").ok);

    std::string error;
    fs::create_directory(scratch / "_jvm");
    ASSERT_TRUE(unpack::unpackRuntime(scratch / "packed", scratch / "_jvm", error)) << error;
    EXPECT_EQ(readFile(scratch / "_jvm" / "bin" / "java"), "launcher");

    // What is there already, an earlier run or anything else, is kept as it
    // was rather than merged with.
    writeFile(scratch / "_jvm" / "bin" / "java", "changed");
    const std::vector<std::string> before = treeListing(scratch.path());
    EXPECT_FALSE(unpack::unpackRuntime(scratch / "packed", scratch / "_jvm", error));
    EXPECT_EQ(error, "cannot unpack into " + (scratch / "_jvm").string() +
                         ": it already exists and is not empty; remove it or unpack elsewhere");
    EXPECT_EQ(treeListing(scratch.path()), before);

    writeFile(scratch / "elsewhere" / "keep", "keep");
    fs::create_symlink(scratch / "elsewhere", scratch / "linked");
    EXPECT_FALSE(unpack::unpackRuntime(scratch / "packed", scratch / "linked", error));
    EXPECT_NE(error.find("it already exists and is not a folder"), std::string::npos) << error;
    EXPECT_EQ(treeListing(scratch / "elsewhere"), (std::vector<std::string>{"f keep 4 " + std::to_string(archive::crc32Of("keep", 4))}));
}

TEST(RuntimeRoundTrip, JvmPropertiesIsKeptOrMadeForTheRuntimesSystem) {
    ScratchDir scratch;
    writeFile(scratch / "stub", kStub);
    writeFile(scratch / "own" / "bin" / "java", "", true);
    writeFile(scratch / "own" / "jvm.properties", "java.bin.path=jre/bin/java\r\n");
    writeFile(scratch / "windows" / "bin" / "java.exe", "MZ");
    writeFile(scratch / "windows" / "bin" / "javaw.exe", "MZ");

    std::string error;
    ASSERT_TRUE(pack(scratch / "own", scratch / "stub", scratch / "own.bin").ok);
    ASSERT_TRUE(unpack::unpackRuntime(scratch / "own.bin", scratch / "own-out", error)) << error;
    EXPECT_EQ(readFile(scratch / "own-out" / "jvm.properties"), "java.bin.path=jre/bin/java\r\n");

    ASSERT_TRUE(pack(scratch / "windows", scratch / "stub", scratch / "windows.bin").ok);
    ASSERT_TRUE(unpack::unpackRuntime(scratch / "windows.bin", scratch / "windows-out", error)) << error;
    EXPECT_EQ(readFile(scratch / "windows-out" / "jvm.properties"), "java.bin.path=bin/java.exe\n");
}

TEST(RuntimeRoundTrip, ALinkPlantedAtTheOutputIsReplacedNotWrittenThrough) {
    ScratchDir scratch;
    makeRuntime(scratch / "runtime");
    writeFile(scratch / "stub", kStub);
    writeFile(scratch / "victim", "precious");
    fs::create_symlink(scratch / "victim", scratch / "packed");
    ASSERT_TRUE(pack(scratch / "runtime", scratch / "stub", scratch / "packed").ok);
    EXPECT_EQ(readFile(scratch / "victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(scratch / "packed"));
    EXPECT_EQ(readFile(scratch / "packed").substr(0, kStub.size()), kStub);
    // Only the three inputs and the output: no private file is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 4);
}

TEST(RuntimeRoundTrip, LinksLeadingOutOfTheRuntimeAreRefused) {
    ScratchDir scratch;
    writeFile(scratch / "stub", kStub);
    writeFile(scratch / "elsewhere" / "tzdb.dat", "tz");
    const auto refusedLink = [&](const fs::path& target, const std::string& expected) {
        fs::remove_all(scratch / "runtime");
        writeFile(scratch / "runtime" / "bin" / "java", "", true);
        fs::create_symlink(target, scratch / "runtime" / "bin" / "link");
        const Packed packed = pack(scratch / "runtime", scratch / "stub", scratch / "packed");
        EXPECT_FALSE(packed.ok) << target;
        EXPECT_EQ(packed.error, "cannot carry " + (scratch / "runtime" / "bin" / "link").string() + ": it is a link to " +
                                    target.string() + expected);
        EXPECT_FALSE(fs::exists(scratch / "packed"));
    };
    const std::string outside = ", outside the runtime folder; copy the runtime with its links resolved (cp -rL) or "
                                "remove the link";
    refusedLink("/", outside);
    refusedLink("../../elsewhere/tzdb.dat", outside);
    refusedLink(scratch / "elsewhere", outside);
    refusedLink(scratch / "nowhere", ", which does not exist");
}

TEST(RuntimeRoundTrip, AbsoluteLinksIntoTheRuntimeStayLinks) {
    ScratchDir scratch;
    writeFile(scratch / "stub", kStub);
    writeFile(scratch / "runtime" / "bin" / "java", "launcher", true);
    writeFile(scratch / "runtime" / "lib" / "tzdb.dat", "tz");
    fs::create_symlink(scratch / "runtime" / "lib" / "tzdb.dat", scratch / "runtime" / "bin" / "tzdb.dat");
    fs::create_symlink(scratch / "runtime" / "lib" / ".." / "bin", scratch / "runtime" / "lib" / "bin");
    fs::create_symlink(scratch / "runtime", scratch / "runtime" / "lib" / "home");

    const Packed packed = pack(scratch / "runtime", scratch / "stub", scratch / "packed");
    ASSERT_TRUE(packed.ok) << packed.error;
    std::string error;
    ASSERT_TRUE(unpack::unpackRuntime(scratch / "packed", scratch / "_jvm", error)) << error;
    EXPECT_EQ(fs::read_symlink(scratch / "_jvm" / "bin" / "tzdb.dat"), "../lib/tzdb.dat");
    EXPECT_EQ(fs::read_symlink(scratch / "_jvm" / "lib" / "bin"), "../bin");
    EXPECT_EQ(fs::read_symlink(scratch / "_jvm" / "lib" / "home"), "..");
    EXPECT_EQ(readFile(scratch / "_jvm" / "bin" / "tzdb.dat"), "tz");
    EXPECT_TRUE(fs::is_regular_file(scratch / "_jvm" / "lib" / "tzdb.dat"));
}

TEST(RuntimeRoundTrip, WriterRefusesWhatCannotMakeAWorkingPackedRuntime) {
    ScratchDir scratch;
    writeFile(scratch / "stub", kStub);
    writeFile(scratch / "empty-stub", "");
    writeFile(scratch / "elf-stub", "\x7f" "ELF rest");
    writeFile(scratch / "exe-stub", "MZ rest");
    writeFile(scratch / "linux" / "bin" / "java", "", true);
    writeFile(scratch / "windows" / "bin" / "java.exe", "MZ");
    writeFile(scratch / "nojava" / "lib" / "x", "x");
    writeFile(scratch / "backslash" / "bin" / "java", "", true);
    writeFile(scratch / "backslash" / "a\\b", "");

    const auto refused = [&](const std::string& runtime, const std::string& stub, const fs::path& output,
                             const std::string& expected) {
        const Packed packed = pack(scratch / runtime, scratch / stub, output);
        EXPECT_FALSE(packed.ok) << runtime;
        EXPECT_NE(packed.error.find(expected), std::string::npos) << packed.error;
        EXPECT_FALSE(fs::exists(output)) << output;
    };
    refused("missing", "stub", scratch / "out", "does not exist or is not a folder");
    refused("nojava", "stub", scratch / "out", "has neither bin/java nor bin/java.exe");
    refused("linux", "missing-stub", scratch / "out", "does not exist or is not a file");
    refused("linux", "empty-stub", scratch / "out", "is empty");
    refused("linux", "stub", scratch / "linux" / "out", "lies inside the runtime folder");
    refused("windows", "elf-stub", scratch / "out", "is a Linux program but the runtime is for Windows");
    refused("linux", "exe-stub", scratch / "out", "is a Windows program");
    refused("backslash", "stub", scratch / "out", "cannot carry");
    refused("linux", "stub", scratch / "no-such-folder" / "out", "cannot create");

    writeFile(scratch / "feed" / "bin" / "java", "", true);
    writeFile(scratch / "feed" / "lib" / "a\nb", "");
    refused("feed", "stub", scratch / "out", "/feed/lib/a\\x0ab: its name holds a control character");
}

} // namespace
} // namespace talve
