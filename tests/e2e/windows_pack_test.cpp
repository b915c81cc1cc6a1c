// talve-pack.exe, the packer for Windows hosts, run under Wine: it must
// write the very bytes the Linux talve-pack writes from the same inputs, and
// read them back the same way, so that an installer can be built on either.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

class WindowsPack : public ::testing::Test {
protected:
    void SetUp() override {
        if (!target().windows || target().pack.empty() || !fs::exists(target().pack))
            GTEST_SKIP() << "talve-pack.exe runs in the Wine suite";
    }

    // talve-pack.exe with these arguments, from the scratch folder.
    RunResult runWindowsPack(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = target().runner;
        argv.push_back(target().pack);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Environment environment = target().environment;
        environment["PATH"] = "/usr/bin:/bin";
        RunResult result = runProgram(argv, environment, scratch.root());
        result.out = target().normalized(result.out);
        result.err = target().normalized(result.err);
        return result;
    }

    Scratch scratch;
};

TEST_F(WindowsPack, CreateRuntimeAndListGiveTheLinuxPackersBytesAndText) {
    scratch.write("runtime/bin/java.exe", "not really java");
    scratch.write("runtime/lib/modules", std::string(200000, 'm'));
    scratch.write("runtime/conf/security/empty", "");
    scratch.write("runtime/jvm.properties", "java.bin.path=bin/java.exe\n");
    // Windows knows no mode bits: a program is such by its name (.exe and
    // the like), which the Linux files here follow.
    fs::permissions(scratch / "runtime/bin/java.exe", fs::perms::owner_exec, fs::perm_options::add);
    const fs::path jar = scratch.write("install.jar", "installer jar bytes");
    const fs::path data = scratch.write("filesets.jar", "data jar bytes");
    const fs::path usage = scratch.write("usage.txt", "Usage: setup [-silent FILE]\n");

    fs::create_directories(scratch / "linux");
    fs::create_directories(scratch / "windows");
    RunResult linux = runPack({"runtime", (scratch / "runtime").string(), "-o", (scratch / "linux" / "jvm.exe").string(),
                               "--unpacker", target().unpacker});
    ASSERT_EQ(linux.exitCode, 0) << linux.err;
    RunResult windows = runWindowsPack({"runtime", target().path(scratch / "runtime"), "-o",
                                        target().path(scratch / "windows" / "jvm.exe"), "--unpacker",
                                        target().path(target().unpacker)});
    ASSERT_EQ(windows.exitCode, 0) << windows.err;
    EXPECT_EQ(windows.out, linux.out);
    EXPECT_EQ(readFile(scratch / "windows" / "jvm.exe"), readFile(scratch / "linux" / "jvm.exe"));

    linux = runPack({"create", "-o", (scratch / "linux" / "setup.exe").string(), "--launcher", target().launcher, "--jar",
                     jar.string(), "--data", data.string(), "--usage", usage.string(), "--runtime",
                     (scratch / "linux" / "jvm.exe").string()});
    ASSERT_EQ(linux.exitCode, 0) << linux.err;
    windows = runWindowsPack({"create", "-o", target().path(scratch / "windows" / "setup.exe"), "--launcher",
                              target().path(target().launcher), "--jar", target().path(jar), "--data",
                              target().path(data), "--usage", target().path(usage), "--runtime",
                              target().path(scratch / "windows" / "jvm.exe")});
    ASSERT_EQ(windows.exitCode, 0) << windows.err;
    const std::string built = readFile(scratch / "windows" / "setup.exe");
    EXPECT_EQ(built.size(), fs::file_size(scratch / "linux" / "setup.exe"));
    EXPECT_TRUE(built == readFile(scratch / "linux" / "setup.exe")) << "the two installers differ";

    linux = runPack({"list", (scratch / "linux" / "setup.exe").string()});
    ASSERT_EQ(linux.exitCode, 0) << linux.err;
    windows = runWindowsPack({"list", target().path(scratch / "windows" / "setup.exe")});
    ASSERT_EQ(windows.exitCode, 0) << windows.err;
    // The first line names the file as each was given it; the table is the same.
    const auto afterFirstLine = [](const std::string& text) { return text.substr(text.find('\n') + 1); };
    std::string firstLine = linux.out.substr(0, linux.out.find('\n'));
    const std::string linuxName = (scratch / "linux" / "setup.exe").string();
    ASSERT_NE(firstLine.find(linuxName), std::string::npos) << firstLine;
    firstLine.replace(firstLine.find(linuxName), linuxName.size(), target().path(scratch / "windows" / "setup.exe"));
    EXPECT_EQ(windows.out.substr(0, windows.out.find('\n')), firstLine);
    EXPECT_EQ(afterFirstLine(windows.out), afterFirstLine(linux.out));

    // A file that is no installer is refused by both alike.
    linux = runPack({"list", jar.string()});
    windows = runWindowsPack({"list", target().path(jar)});
    EXPECT_NE(windows.exitCode, 0);
    EXPECT_EQ(windows.exitCode, linux.exitCode);
}

} // namespace
} // namespace e2e
