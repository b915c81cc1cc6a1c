// talve-pack create given hostile or mistaken files: nothing it was not
// asked to write may change, and a refusal leaves no output behind.

#include "cmdline/launcher_options.h"
#include "cmdline/parameter_builder.h"
#include "create_command.h"
#include "list_command.h"
#include "payload/bootstrap_table_format.h"
#include "table_codec.h"
#include "unit/unpack/unpack_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace talve {
namespace {
using namespace unpacktest;

struct Outcome {
    int code = -1;
    std::string errors;
};

class Create : public ::testing::Test {
protected:
    Create() {
        writeFile(scratch_ / "launcher", readFile(TALVE_UNPACK_PROGRAM), true);
        writeFile(scratch_ / "install.jar", "jar bytes");
    }

    Outcome create(const std::string& output, std::vector<std::string> options) {
        std::vector<std::string> args{"create", "-o", output, "--launcher", (scratch_ / "launcher").string(), "--jar",
                                      (scratch_ / "install.jar").string()};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        Outcome outcome;
        outcome.code = pack::runCreateCommand(static_cast<int>(argv.size()), argv.data());
        testing::internal::GetCapturedStdout();
        outcome.errors = testing::internal::GetCapturedStderr();
        return outcome;
    }

    // Refused with a message holding `expected`, and the folder exactly as it was.
    void expectRefused(const std::string& output, const std::vector<std::string>& options,
                       const std::string& expected) {
        const std::vector<std::string> before = treeListing(scratch_.path());
        const Outcome outcome = create(output, options);
        EXPECT_EQ(outcome.code, 1);
        EXPECT_NE(outcome.errors.find(expected), std::string::npos) << outcome.errors;
        EXPECT_EQ(outcome.errors.find('\n'), outcome.errors.size() - 1) << "one line: " << outcome.errors;
        EXPECT_EQ(treeListing(scratch_.path()), before);
    }

    // The rows of a written installer, and the payload of one of them.
    std::array<BootstrapEntry, 8> rows(const std::string& installer) {
        std::string error;
        std::optional<pack::TableLocation> location = pack::findTable(installer, error);
        EXPECT_TRUE(location) << error;
        return location ? location->entries : std::array<BootstrapEntry, 8>{};
    }
    std::string payload(const std::string& installer, int entry) {
        const BootstrapEntry row = rows(installer)[entry];
        return readFile(installer).substr(row.position, row.length);
    }

    ScratchDir scratch_;
};

// Every launcher's own options declared, so that nothing is added.
std::string declaringTheLaunchersOptions() {
    std::string text;
    for (const LauncherOptionSpec& option : launcherOptions) text += std::string(option.name) + "{\nType=NoValue\n}\n";
    return text;
}

TEST_F(Create, ALinkPlantedAtTheOutputIsReplacedNotWrittenThrough) {
    writeFile(scratch_ / "victim", "precious");
    fs::permissions(scratch_ / "victim", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(scratch_ / "victim", scratch_ / "setup");
    fs::create_symlink(scratch_ / "victim", scratch_ / "setup.partial");

    ASSERT_EQ(create((scratch_ / "setup").string(), {}).code, 0);
    EXPECT_EQ(readFile(scratch_ / "victim"), "precious");
    EXPECT_EQ(fs::status(scratch_ / "victim").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::is_symlink(scratch_ / "setup"));
    EXPECT_EQ(readFile(scratch_ / "setup").substr(0, 4), "\x7f" "ELF");
    EXPECT_NE(fs::status(scratch_ / "setup").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_TRUE(fs::is_symlink(scratch_ / "setup.partial"));
    const auto names = std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator());
    EXPECT_EQ(names, 5) << "launcher, install.jar, victim, setup, setup.partial";
}

TEST_F(Create, AnOutputThatIsAnInputIsRefused) {
    writeFile(scratch_ / "data.jar", "data");
    fs::create_symlink(scratch_ / "install.jar", scratch_ / "alias.jar");
    expectRefused((scratch_ / "install.jar").string(), {}, ": is also the input " + (scratch_ / "install.jar").string());
    expectRefused((scratch_ / "launcher").string(), {}, ": is also the input " + (scratch_ / "launcher").string());
    expectRefused((scratch_ / "data.jar").string(), {"--data", (scratch_ / "data.jar").string()}, "is also the input");
    expectRefused((scratch_ / "alias.jar").string(), {}, "is also the input");
}

TEST_F(Create, InputsMustBeRegularFiles) {
    // Apart, so that listing the output's folder does not read the pipe.
    ScratchDir inputs;
    fs::create_directories(inputs / "folder");
    ASSERT_EQ(::mkfifo((inputs / "pipe").c_str(), 0600), 0);
    const std::string output = (scratch_ / "setup").string();
    expectRefused(output, {"--data", (inputs / "folder").string()}, "/folder: cannot be read: is a folder, not a file");
    // A pipe nobody writes to would block the tool for ever.
    expectRefused(output, {"--splash", (inputs / "pipe").string()},
                  "/pipe: cannot be read: is not a regular file (a device or a pipe?)");
    expectRefused(output, {"--usage", "/dev/zero"}, "/dev/zero: cannot be read: is not a regular file");
    expectRefused(output, {"--data", (scratch_ / "missing").string()}, "/missing: cannot be read: No such file");

    std::string pipe = (inputs / "pipe").string();
    char command[] = "list";
    char* argv[] = {command, &pipe[0]};
    testing::internal::CaptureStderr();
    EXPECT_EQ(pack::runListCommand(2, argv), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("/pipe: cannot be read: is not a regular file"),
              std::string::npos);
}

// `head` followed by zeros up to `size` bytes.
std::string fakeProgram(const std::string& head, std::size_t size) {
    std::string bytes = head;
    bytes.resize(size, '\0');
    return bytes;
}

std::string peImage(std::uint16_t characteristics) {
    std::string bytes = fakeProgram("MZ", 100 * 1024);
    bytes[0x3c] = '\x80';
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x80 + 22] = static_cast<char>(characteristics & 0xff);
    bytes[0x80 + 23] = static_cast<char>(characteristics >> 8);
    return bytes;
}

TEST_F(Create, TheLauncherMustBeAProgramOfAKnownKind) {
    const std::string output = (scratch_ / "setup").string();
    const auto refusedLauncher = [&](const std::string& bytes, const std::string& expected) {
        writeFile(scratch_ / "launcher", bytes, true);
        expectRefused(output, {}, (scratch_ / "launcher").string() + ": not a launcher: " + expected);
    };
    const std::string elf = "\x7f" "ELF\x02\x01\x01";
    refusedLauncher("", "0 bytes, too small to be the launcher (at least 65536 expected)");
    refusedLauncher(fakeProgram(elf + std::string(9, '\0') + "\x02", 64), "64 bytes, too small");
    refusedLauncher(std::string(100 * 1024, '\0'), "not a program (neither ELF nor a Windows executable)");
    refusedLauncher(fakeProgram("#!/bin/sh\n", 100 * 1024), "not a program");
    refusedLauncher(fakeProgram(elf + std::string(9, '\0') + "\x01", 100 * 1024), "an ELF file that is not a program");
    refusedLauncher(fakeProgram("\x7f" "ELF\x07\x01", 100 * 1024), "a damaged ELF file");
    refusedLauncher(fakeProgram("MZ", 100 * 1024), "an MS-DOS file without a Windows program in it");
    refusedLauncher(peImage(0x2102), "a Windows DLL or object, not a program");

    writeFile(scratch_ / "launcher", peImage(0x0102), true);
    EXPECT_EQ(create(output, {}).code, 0);
    writeFile(scratch_ / "launcher", fakeProgram(elf + std::string(9, '\0') + "\x03", 100 * 1024), true);
    EXPECT_EQ(create(output, {}).code, 0);
    // A launcher of whole 1,024-byte blocks needs no padding: the table follows it at once.
    const std::string created = readFile(output);
    EXPECT_EQ(created.compare(100 * 1024, table::markerSize, table::buildMarker()), 0)
        << "the table does not follow the launcher";
}

TEST_F(Create, PayloadNamesWithControlCharactersAreRefused) {
    writeFile(scratch_ / "data\nx.jar", "data");
    expectRefused((scratch_ / "setup").string(), {"--data", (scratch_ / "data\nx.jar").string()},
                  "/data\\x0ax.jar: the file name holds a control character; rename the file");
}

// The launcher skips a usage text or specification that fills its buffer:
// -help would print nothing and the command line would go unchecked.
TEST_F(Create, UsageAndSpecificationMustFitTheLaunchersBuffers) {
    const std::string output = (scratch_ / "setup").string();
    const std::string usage = (scratch_ / "usage.txt").string(), spec = (scratch_ / "args.txt").string();
    writeFile(usage, std::string(4095, 'u'));
    const std::string declared = declaringTheLaunchersOptions();
    writeFile(spec, declared + std::string(8191 - declared.size(), '\n'));
    EXPECT_EQ(create(output, {"--usage", usage, "--args-spec", spec}).code, 0);
    fs::remove(output);
    writeFile(usage, std::string(4096, 'u'));
    expectRefused(output, {"--usage", usage}, "4096 bytes, too long: the launcher reads a usage text of less than 4096 bytes");
    writeFile(spec, declared + std::string(8192 - declared.size(), '\n'));
    expectRefused(output, {"--args-spec", spec},
                  "8192 bytes, too long: the launcher reads an argument specification of less than 8192 bytes");
    // What is stored counts, the launcher's options included.
    writeFile(spec, "-a{\nType=NoValue\n}\n" + std::string(8000, '\n'));
    expectRefused(output, {"--args-spec", spec}, "args.txt with the launcher's own options added: 8");
}

// A name every launcher would refuse makes an installer no launcher runs:
// refused when packing, by the launcher's own rule.
TEST_F(Create, StoredNamesFollowTheLaunchersRule) {
    const std::string output = (scratch_ / "setup").string();
    const std::string refused = "' is one every launcher refuses: " + std::string(table::plainFileNameRule);
    for (const std::string name : {"a\\b.jar", "..\\setup.jar", "c:x.jar"}) {
        writeFile(scratch_ / name, "data");
        expectRefused(output, {"--data", (scratch_ / name).string()}, "the file name '" + name + refused);
        fs::remove(scratch_ / name);
    }
    for (const std::string name : {"../x.jar", "..", "a/b", "d:"})
        expectRefused(output, {"--jar-name", name}, "--jar-name: the file name '" + name + refused);
    expectRefused(output, {"--jar-name", "thirteen.jar_"}, "--jar-name: the file name 'thirteen.jar_' is longer than 12");
    // Extracted side by side, on Windows too, where case is no difference.
    writeFile(scratch_ / "Data.jar", "data");
    expectRefused(output, {"--data", (scratch_ / "Data.jar").string(), "--jar-name", "data.JAR"},
                  "the jar and data payloads would both be stored as 'Data.jar'; give one of them another name");
    expectRefused(output, {"--splash", (scratch_ / "install.jar").string(), "--data-name", "x", "--data",
                           (scratch_ / "Data.jar").string()},
                  "the splash and jar payloads would both be stored as 'install.jar'");

    ASSERT_EQ(create(output, {"--jar-name", "setup.jar", "--data", (scratch_ / "Data.jar").string(), "--data-name",
                              "files.jar", "--console"})
                  .code,
              0);
    const auto written = rows(output);
    EXPECT_EQ(written[table::jarEntry].filename, "setup.jar");
    EXPECT_EQ(written[table::jarEntry].data1, table::consoleKeyword);
    EXPECT_EQ(written[table::dataEntry].filename, "files.jar");
    EXPECT_EQ(written[table::dataEntry].data1, "0");
    const std::string usage = payload(output, table::usageEntry);
    EXPECT_EQ(usage.rfind("USAGE : <installer> [-console]", 0), 0u) << usage;
    EXPECT_EQ(usage.find("setup"), std::string::npos) << "the output's name is fixed in the usage text";
}

TEST_F(Create, TheLaunchersOwnOptionsJoinASpecificationThatLacksThem) {
    const std::string output = (scratch_ / "setup").string(), spec = (scratch_ / "args.txt").string();
    // Its own -silent stays as declared; the text needs no final line end.
    writeFile(spec, "-silent{\nType=String\nOptional=True\n}\n-threads{\nType=Integer\n}");
    ASSERT_EQ(create(output, {"--args-spec", spec}).code, 0);
    std::map<std::string, ParameterSpec> declared;
    for (const ParameterSpec& parameter : buildParameters(payload(output, table::argumentsEntry)))
        declared.emplace(parameter.name, parameter);
    EXPECT_EQ(declared.size(), launcherOptions.size() + 1);
    EXPECT_TRUE(declared["-silent"].optional);
    EXPECT_EQ(declared["-threads"].type, ParameterType::Integer);
    EXPECT_EQ(declared["-console"].type, ParameterType::NoValue);
    EXPECT_EQ(declared["-record"].type, ParameterType::String);
    EXPECT_FALSE(declared["-record"].optional);
    EXPECT_TRUE(declared["-key"].optional) << "without a value the key is asked for";

    writeFile(spec, declaringTheLaunchersOptions());
    ASSERT_EQ(create(output, {"--args-spec", spec}).code, 0);
    EXPECT_EQ(payload(output, table::argumentsEntry), declaringTheLaunchersOptions());

    // The launcher stops reading at a stray line before the first block: blocks behind it would declare nothing.
    fs::remove(output);
    writeFile(spec, "parameters of the installer\n-a{\nType=NoValue\n}\n");
    expectRefused(output, {"--args-spec", spec}, "the launcher's own option -help cannot be added behind this specification");
}

} // namespace
} // namespace talve
