// Signed Windows installers, signed here with a throw-away certificate and
// no timestamp: the signed installer runs to the end with its payloads as
// packed, bytes appended behind the signature change nothing the installer
// sees, and a row moved into the certificate table is refused before
// anything is extracted.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace e2e {
namespace {

const Environment toolEnvironment{{"PATH", "/usr/bin:/bin"}};

bool installed(const char* tool) {
    return fs::exists(fs::path("/usr/bin") / tool) || fs::exists(fs::path("/bin") / tool);
}

class SignedInstaller : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);

    void SetUp() override {
        if (!target().windows) GTEST_SKIP() << "signatures are those of Windows programs";
        if (!installed("openssl") || !installed("osslsigncode"))
            GTEST_SKIP() << "openssl or osslsigncode is not installed (scripts/setup.sh installs them)";
        const RunResult made = runProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                           "-subj", "/CN=Throw-away test signer", "-keyout", "signer.key", "-out",
                                           "signer.pem"},
                                          toolEnvironment, scratch.root());
        ASSERT_EQ(made.exitCode, 0) << made.err;
        fs::create_directories(scratch / "temp");
    }

    fs::path sign(const fs::path& in) {
        const fs::path out = in.string() + ".signed.exe";
        const RunResult signing = runProgram({"osslsigncode", "sign", "-certs", "signer.pem", "-key", "signer.key", "-h",
                                              "sha256", "-in", in.string(), "-out", out.string()},
                                             toolEnvironment, scratch.root());
        EXPECT_EQ(signing.exitCode, 0) << signing.out << signing.err;
        fs::permissions(out, fs::perms::owner_all);
        return out;
    }

    RunResult run(const fs::path& installer, Launch& launch) {
        launch.arguments({"-javaHome", target().path(runtime)}).exitCode(0);
        return launch.run(installer);
    }

    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        fs::permissions(path, fs::perms::owner_all);
    }
};

TEST_F(SignedInstaller, RunsWithItsPayloadsAndIgnoresWhatFollowsTheSignature) {
    const fs::path installer = packInstaller(
        scratch, {"--jar", scratch.write("install.jar", "installer jar bytes").string(), "--data",
                  scratch.write("filesets.jar", "data jar bytes").string()});
    const fs::path signedInstaller = sign(installer);
    const std::string signedBytes = readFile(signedInstaller);
    ASSERT_GT(signedBytes.size(), fs::file_size(installer));

    // Appended bytes that carry a table of their own, with other payloads:
    // the installer must still see only what was signed.
    const std::string unsignedBytes = readFile(installer);
    const std::string fakeTail = unsignedBytes.substr(unsignedBytes.size() - 64 * 1024);
    const fs::path appended = scratch / "appended.exe";
    write(appended, signedBytes + std::string(1024 - signedBytes.size() % 1024, '\0') + fakeTail + "tail");

    for (const fs::path& file : {signedInstaller, appended}) {
        Launch launch(scratch);
        const RunResult result = run(file, launch);
        ASSERT_EQ(result.exitCode, 0) << file << ": " << result.out << result.err;
        auto record = readProbeRecord(launch.record);
        ASSERT_TRUE(record) << file;
        EXPECT_EQ(record->files["install.jar"], "installer jar bytes") << file;
        EXPECT_EQ(record->files["filesets.jar"], "data jar bytes") << file;
        EXPECT_FALSE(temporaryDirectoryLeft(launch.tempBase)) << file;
    }
}

TEST_F(SignedInstaller, ARowReachingIntoTheCertificateTableIsRefusedBeforeAnythingIsExtracted) {
    const fs::path installer =
        packInstaller(scratch, {"--jar", scratch.write("install.jar", "installer jar bytes").string(), "--data",
                                scratch.write("filesets.jar", "data jar bytes").string()});
    std::string bytes = readFile(sign(installer));
    const std::size_t tableStart = (fs::file_size(target().launcher) + 1023) / 1024 * 1024;
    const std::uint32_t unsignedSize = static_cast<std::uint32_t>(fs::file_size(installer));
    // The data row, the last payload: moved to the first byte of the table and
    // lengthened to reach into it; the launcher's own bound checks pass.
    const std::size_t dataRow = tableStart + 32 + 3 * 64;
    struct Move {
        std::uint32_t position, length;
    };
    for (const Move& move : {Move{unsignedSize + 8, 4}, Move{unsignedSize - 14, 30}}) {
        std::string damaged = bytes;
        for (int i = 0; i < 4; ++i) {
            damaged[dataRow + 8 + i] = static_cast<char>((move.position >> (8 * i)) & 0xFF);
            damaged[dataRow + 12 + i] = static_cast<char>((move.length >> (8 * i)) & 0xFF);
        }
        const fs::path file = scratch / "damaged.exe";
        write(file, damaged);
        Launch launch(scratch);
        const RunResult result = run(file, launch);
        EXPECT_EQ(result.exitCode, 1) << move.position;
        EXPECT_NE(result.err.find("ERROR"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("reaches into its signature"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(launch.record)) << "the installer ran";
        EXPECT_FALSE(temporaryDirectoryLeft(launch.tempBase));
        for (const auto& item : fs::directory_iterator(launch.tempBase)) fs::remove_all(item.path());
    }
}

} // namespace
} // namespace e2e
