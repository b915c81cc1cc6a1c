// A Windows installer given an icon, version information and an execution
// level, under Wine: read back through the calls Explorer makes
// (talve_resource_probe.exe), and, signed, still an installer that runs to
// the start of java. tests/win32/windows_resources_test.sh reads the same
// installers with icoutils and osslsigncode, without Wine.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

const Environment toolEnvironment{{"PATH", "/usr/bin:/bin"}};

bool installed(const char* tool) {
    return fs::exists(fs::path("/usr/bin") / tool) || fs::exists(fs::path("/bin") / tool);
}

class WindowsResources : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path jar = scratch.write("install.jar", "installer jar bytes");

    void SetUp() override {
        if (!target().windows) GTEST_SKIP() << "icons and version information are those of Windows programs";
        fs::create_directories(scratch / "temp");
    }

    fs::path pack(const std::string& name, const std::vector<std::string>& resourceOptions,
                  const std::string& launcher = "") {
        std::vector<std::string> options{"--jar", jar.string(), "--data", scratch.write("filesets.jar", "data").string()};
        options.insert(options.end(), resourceOptions.begin(), resourceOptions.end());
        return packInstaller(scratch, options, name, launcher);
    }

    // The launcher under test and, where that is a 64-bit build, the
    // shipped 32-bit one too: Windows reads either's resources.
    std::vector<std::string> launchers() const {
        std::vector<std::string> all{target().launcher};
        if (!target().shippedLauncher.empty()) all.push_back(target().shippedLauncher);
        return all;
    }

    RunResult runOnWine(const std::string& program, const fs::path& file) {
        std::vector<std::string> argv = target().runner;
        argv.push_back(program);
        argv.push_back(target().path(file));
        Environment environment = target().environment;
        environment["PATH"] = "/usr/bin:/bin";
        RunResult result = runProgram(argv, environment, scratch.root());
        result.out = target().normalized(result.out);
        return result;
    }

    std::string resourceProbe() const {
        return (fs::path(target().probe).parent_path() / "talve_resource_probe.exe").string();
    }
};

const std::vector<std::string> everything{
    "--icon", TALVE_SAMPLE_ICON, "--product-name", "Example Setup", "--product-version", "2.0.13", "--file-version",
    "2.0.13.7", "--company", "Example Corp.", "--description", "Installs Example", "--copyright",
    "(c) 2026 Example Corp.", "--execution-level", "requireAdministrator"};

TEST_F(WindowsResources, ExplorerReadsTheIconAndEveryVersionText) {
    for (const std::string& launcher : launchers()) {
        SCOPED_TRACE(launcher);
        const fs::path installer = pack("setup.exe", everything, launcher);
        const RunResult read = runOnWine(resourceProbe(), installer);
        ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
        EXPECT_EQ(read.out,
                  "fixed file version: 2.0.13.7\n"
                  "fixed product version: 2.0.13.0\n"
                  "translation: 0000 04b0\n"
                  "CompanyName: Example Corp.\n"
                  "FileDescription: Installs Example\n"
                  "FileVersion: 2.0.13.7\n"
                  "LegalCopyright: (c) 2026 Example Corp.\n"
                  "OriginalFilename: setup.exe\n"
                  "ProductName: Example Setup\n"
                  "ProductVersion: 2.0.13\n"
                  "icon groups: 1\n"
                  "first group extracted: large and small\n"
                  "image 1: 16x16\n"
                  "image 2: 32x32\n"
                  "image 3: 48x48\n"
                  "image 4: 256x256\n"
                  "LoadImage 48: yes\n");
        EXPECT_NE(readFile(installer).find("level=\"requireAdministrator\""), std::string::npos);

        // What is not given is left out: no icon, no version texts but the file name.
        const fs::path plain = pack("plain.exe", {"--product-name", "Example Setup"}, launcher);
        const RunResult few = runOnWine(resourceProbe(), plain);
        EXPECT_EQ(few.out,
                  "fixed file version: 0.0.0.0\n"
                  "fixed product version: 0.0.0.0\n"
                  "translation: 0000 04b0\n"
                  "OriginalFilename: plain.exe\n"
                  "ProductName: Example Setup\n"
                  "icon groups: 0\n"
                  "LoadImage 48: no\n");
    }
}

TEST_F(WindowsResources, TheSignedInstallerRunsToJava) {
    if (!installed("openssl") || !installed("osslsigncode"))
        GTEST_SKIP() << "openssl or osslsigncode is not installed (scripts/setup.sh installs them)";
    const fs::path installer = pack("setup.exe", everything);
    const RunResult made = runProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                       "/CN=Throw-away test signer", "-keyout", "signer.key", "-out", "signer.pem"},
                                      toolEnvironment, scratch.root());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const fs::path signedInstaller = scratch / "setup-signed.exe";
    const RunResult signing =
        runProgram({"osslsigncode", "sign", "-certs", "signer.pem", "-key", "signer.key", "-h", "sha256", "-in",
                    installer.string(), "-out", signedInstaller.string()},
                   toolEnvironment, scratch.root());
    ASSERT_EQ(signing.exitCode, 0) << signing.out << signing.err;
    fs::permissions(signedInstaller, fs::perms::owner_all);

    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(runtime)}).exitCode(0);
    const RunResult result = launch.run(signedInstaller);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    std::optional<ProbeRecord> record = readProbeRecord(launch.record);
    ASSERT_TRUE(record) << "java was not started: " << result.out << result.err;
    EXPECT_EQ(record->files["install.jar"], "installer jar bytes");
    EXPECT_EQ(record->files["filesets.jar"], "data");
}

} // namespace
} // namespace e2e
