// Where talve-pack create puts the payloads: each on a 4 KiB boundary of the
// installer, so that the launcher's copy can share the file system's blocks,
// with zeros before it, its bytes exactly, and a Windows launcher's checksum
// over the file as written in pieces.

#include "create_command.h"
#include "payload/bootstrap_table_format.h"
#include "payload/pe_image.h"
#include "table_codec.h"
#include "unit/unpack/unpack_test_support.h"

#include <gtest/gtest.h>

namespace talve {
namespace {
using namespace unpacktest;

// The smallest Windows program the packer takes: the checksum field where
// a real one has it, zeros up to a size no real launcher is below.
std::string windowsProgram() {
    const std::size_t optional = 0x80 + 24;
    std::string bytes(100 * 1024 + 3, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    pe::writeLittleEndian32(bytes, 0x3c, 0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x80 + 4 + 16] = static_cast<char>(224);
    bytes[0x80 + 4 + 18] = 0x02;
    bytes[0x80 + 4 + 19] = 0x01;
    bytes[optional] = 0x0b;
    bytes[optional + 1] = 0x01;
    pe::writeLittleEndian32(bytes, optional + 92, 16);
    for (std::size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    return bytes;
}

// A specification that declares the launcher's own options is stored as it
// is, so its bytes can be compared with the file's.
std::string everyLauncherOption() {
    std::string spec;
    for (const char* option : {"-help", "-h", "-console", "-multipleInstance", "-noSplashScreen"})
        spec += std::string(option) + "{\nType=NoValue\n}\n";
    for (const char* option : {"-tempdir", "-javaArgs", "-location", "-javaHome", "-silent", "-record"})
        spec += std::string(option) + "{\nType=String\n}\n";
    return spec + "-key{\nType=String\nOptional=True\n}\n";
}

class InstallerLayout : public ::testing::Test {
protected:
    InstallerLayout() {
        // Payload sizes on both sides of a block, and an empty one.
        inputs_ = {{"--splash", "splash.gif", noise(1)},        {"--jar", "install.jar", noise(4095)},
                   {"--data", "data.jar", noise(4097)},          {"--usage", "usage.txt", std::string(4000, 'u')},
                   {"--check-jar", "check.jar", noise(4096)},    {"--requirements", "req.txt", ""},
                   {"--args-spec", "args.txt", everyLauncherOption()}};
    }

    std::string create(const std::string& launcher) {
        writeFile(scratch_ / "launcher", launcher, true);
        const std::string output = (scratch_ / "setup").string();
        std::vector<std::string> args{"create", "-o", output, "--launcher", (scratch_ / "launcher").string()};
        for (const Input& input : inputs_) {
            writeFile(scratch_ / input.name, input.content);
            args.push_back(input.option);
            args.push_back((scratch_ / input.name).string());
        }
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        testing::internal::CaptureStdout();
        EXPECT_EQ(pack::runCreateCommand(static_cast<int>(argv.size()), argv.data()), 0);
        testing::internal::GetCapturedStdout();
        return output;
    }

    struct Input {
        std::string option, name, content;
    };
    std::vector<Input> inputs_;
    ScratchDir scratch_;
};

TEST_F(InstallerLayout, EveryPayloadStartsOnABlockBoundaryWithZerosBeforeIt) {
    std::string launcher = readFile(TALVE_UNPACK_PROGRAM);
    launcher.resize(launcher.size() / 1024 * 1024 + 7, '\0');
    const std::string output = create(launcher);
    const std::string bytes = readFile(output);
    std::string error;
    const std::optional<pack::TableLocation> table = pack::findTable(output, error);
    ASSERT_TRUE(table && table->complete) << error;

    std::uint64_t end = table->markerOffset + table::markerSize + table::entryCount * table::entrySize;
    std::size_t rowsSeen = 0;
    for (const BootstrapEntry& row : table->entries) {
        if (!row.present()) continue;
        const Input* input = nullptr;
        for (const Input& candidate : inputs_) {
            if (candidate.name == row.filename) input = &candidate;
        }
        ASSERT_NE(input, nullptr) << row.filename;
        ++rowsSeen;
        EXPECT_EQ(row.position % 4096, 0u) << row.filename;
        ASSERT_GE(row.position, end) << row.filename << " overlaps the one before";
        EXPECT_EQ(bytes.substr(end, row.position - end), std::string(row.position - end, '\0')) << row.filename;
        EXPECT_EQ(row.length, input->content.size());
        EXPECT_EQ(bytes.substr(row.position, row.length), input->content) << row.filename;
        end = row.position + row.length;
    }
    EXPECT_EQ(rowsSeen, inputs_.size());
    EXPECT_EQ(bytes.size(), end) << "nothing follows the last payload";
}

TEST_F(InstallerLayout, AWindowsLaunchersChecksumCoversTheWholeFile) {
    const std::string bytes = readFile(create(windowsProgram()));
    const std::size_t field = pe::readHeaders(bytes).layout.checksumOffset;
    ASSERT_GT(field, 0u);
    std::uint32_t stored = 0;
    for (int i = 3; i >= 0; --i) stored = (stored << 8) | static_cast<unsigned char>(bytes[field + i]);
    EXPECT_EQ(stored, pe::checksum(bytes, field));
    EXPECT_NE(stored, 0u);
}

} // namespace
} // namespace talve
