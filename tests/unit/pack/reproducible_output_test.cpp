// A release is checked against its source by building it again: the
// packed runtime and the installer must come out byte for byte the same
// from the same inputs, whatever the machine did to the files on the way.

#include "create_command.h"
#include "runtime_archive.h"
#include "unit/unpack/unpack_test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace {
using namespace unpacktest;

struct InputFile {
    std::string path;
    std::string content;
    bool executable = false;
};

const std::vector<InputFile> kRuntime = {
    {"bin/java", "launcher", true},
    {"bin/keytool", "", true},
    {"conf/security/java.security", "policy=1\n"},
    {"lib/modules", noise(200 * 1024)},
    {"lib/a.cfg", "a"},
    {"lib/B.cfg", "b"},
    {"lib/z", "z"},
    {"legal/LICENSE", "terms\n"},
};

// The same tree each time, but made in the given order (the order in which
// the folder lists it follows), with the umask, times and owner given.
void makeTree(const fs::path& root, bool reversed, mode_t mask, fs::file_time_type when, uid_t owner) {
    const mode_t previous = ::umask(mask);
    std::vector<InputFile> files = kRuntime;
    if (reversed) std::reverse(files.begin(), files.end());
    for (const InputFile& file : files) writeFile(root / file.path, file.content, file.executable);
    fs::create_symlink("../lib/modules", root / "bin/modules");
    fs::create_directories(root / "empty");
    writeFile(root.parent_path() / "install.jar", "installer jar");
    writeFile(root.parent_path() / "usage.txt", "usage text\n");
    ::umask(previous);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (::lchown(it->path().c_str(), owner, owner) != 0) ADD_FAILURE() << "lchown " << it->path();
        if (!it->is_symlink()) fs::last_write_time(it->path(), when);
    }
}

std::string packRuntime(const fs::path& folder) {
    std::uint64_t unpacked = 0;
    std::string error;
    EXPECT_TRUE(writePackedRuntime((folder / "runtime").string(), TALVE_UNPACK_PROGRAM, (folder / "jvm.bin").string(),
                                   unpacked, error))
        << error;
    return readFile(folder / "jvm.bin");
}

std::string createInstaller(const fs::path& folder) {
    std::vector<std::string> args{"create", "-o", (folder / "setup").string(), "--launcher", TALVE_UNPACK_PROGRAM,
                                  "--jar", (folder / "install.jar").string(), "--runtime", (folder / "jvm.bin").string(),
                                  "--usage", (folder / "usage.txt").string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(pack::runCreateCommand(static_cast<int>(argv.size()), argv.data()), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    return readFile(folder / "setup");
}

TEST(ReproducibleOutput, RuntimeAndInstallerDoNotDependOnTimesOwnersUmaskListingOrderOrLocale) {
    ScratchDir scratch;
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20);
    makeTree(scratch / "first" / "runtime", false, 022, past, 0);
    makeTree(scratch / "second" / "runtime", true, 077, fs::file_time_type::clock::now(), 4321);

    const std::string savedLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const std::string firstRuntime = packRuntime(scratch / "first");
    const std::string firstInstaller = createInstaller(scratch / "first");
    std::setlocale(LC_ALL, "C.UTF-8");
    const mode_t savedMask = ::umask(077);
    const std::string secondRuntime = packRuntime(scratch / "second");
    const std::string secondInstaller = createInstaller(scratch / "second");
    ::umask(savedMask);
    std::setlocale(LC_ALL, savedLocale.c_str());

    ASSERT_GT(firstRuntime.size(), 200u * 1024);
    EXPECT_TRUE(firstRuntime == secondRuntime) << "packed runtimes differ";
    EXPECT_TRUE(firstInstaller == secondInstaller) << "installers differ";

    // Content does count: the check above is not blind.
    writeFile(scratch / "second" / "runtime" / "lib" / "z", "Z");
    EXPECT_FALSE(packRuntime(scratch / "second") == firstRuntime);
}

} // namespace
} // namespace talve
