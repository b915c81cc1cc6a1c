// The installer file itself: its usage text, its carried runtime, the space
// it needs, and what happens when it is damaged.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

class InstallerFile : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path jar = scratch.write("install.jar", std::string(5000, 'j'));

    Launch launch() {
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)});
        return l;
    }
};

TEST_F(InstallerFile, HelpPrintsTheCarriedUsageAndEndsWithCodeOne) {
    const std::string usage = "USAGE : ./setup [-console] [-tempdir <dirName>]\n";
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--usage", scratch.write("usage.txt", usage).string()});
    for (const char* option : {"-help", "-h"}) {
        Launch l = launch();
        l.arguments({"-tempdir", "nowhere", option});
        RunResult result = l.run(installer);
        EXPECT_EQ(result.exitCode, 1) << option;
        EXPECT_EQ(result.out, usage) << option;
        EXPECT_FALSE(fs::exists(l.record)) << "installer ran after " << option;
    }
    fs::path withDefault = packInstaller(scratch, {"--jar", jar.string()}, "setup-default");
    RunResult result = launch().arguments({"-help"}).run(withDefault);
    EXPECT_EQ(result.exitCode, 1);
    // The file may be renamed after packing: the default names no program.
    EXPECT_EQ(result.out.rfind("USAGE : <installer> [-console]", 0), 0u) << result.out;
}

TEST_F(InstallerFile, CarriedRuntimeIsUnpackedIntoTheTemporaryDirectory) {
    if (target().windows) GTEST_SKIP() << "the Windows packed runtime is covered with talve-unpack";
    // A packed runtime is any program that, run with -o, unpacks a runtime into _jvm.
    const std::string unpacker = "#!/bin/sh\n[ \"$1\" = -o ] || exit 1\nmkdir -p _jvm/bin\ncp '" + target().probe +
                                 "' _jvm/bin/java\necho java.bin.path=bin/java > _jvm/jvm.properties\n";
    fs::path packed = scratch.write("jvm.sh", unpacker);
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--runtime", packed.string(), "--runtime-size", "3000000"});
    Launch l(scratch);
    RunResult result = l.exitCode(0).run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto record = readProbeRecord(l.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->env("KORVU_JVM_LOC"), record->env("KORVU_BOOTSTRAP_TEMP") + "/_jvm/");

    fs::path broken = packInstaller(scratch, {"--jar", jar.string(), "--runtime",
                                              scratch.write("bad.sh", "#!/bin/sh\nexit 1\n").string(), "--runtime-size", "1"},
                                    "broken");
    result = Launch(scratch).run(broken);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Process failed to execute successfully. Return code was : 1"), std::string::npos);

    // Any other program carries no size the packer could read.
    RunResult refused = runPack({"create", "-o", (scratch / "sizeless").string(), "--launcher", target().launcher,
                                 "--jar", jar.string(), "--runtime", packed.string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("not a packed runtime made by 'talve-pack runtime'"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("give --runtime-size"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(scratch / "sizeless"));
}

TEST_F(InstallerFile, PackedRuntimeMadeByTalvePackIsUnpackedAndRun) {
    ASSERT_FALSE(target().unpacker.empty());
    const std::string packedName = target().windows ? "jvm.exe" : "jvm";
    RunResult packed = runPack({"runtime", runtime.string(), "-o", (scratch / packedName).string(), "--unpacker",
                                target().unpacker});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const std::string unpackedBytes = packed.out.substr(0, packed.out.find_first_of("\r\n"));
    ASSERT_FALSE(unpackedBytes.empty());
    // The unpacked size comes from the packed runtime itself.
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--runtime", (scratch / packedName).string()});
    RunResult listing = runPack({"list", installer.string()});
    EXPECT_NE(listing.out.find(" " + unpackedBytes + " "), std::string::npos) << listing.out;
    Launch l(scratch);
    RunResult result = l.exitCode(3).run(installer);
    ASSERT_EQ(result.exitCode, 3) << result.err;
    auto record = readProbeRecord(l.record);
    ASSERT_TRUE(record);
    const std::string sep = target().separator;
    EXPECT_EQ(record->env("KORVU_JVM_LOC"), record->env("KORVU_BOOTSTRAP_TEMP") + sep + "_jvm" + sep);
    EXPECT_EQ(record->arguments, (std::vector<std::string>{"-Duser.language=en", "-jar", "install.jar"}));
}

TEST(PackedRuntime, UnpacksItsWholeTreeIntoJvmWithEitherCodec) {
    // Over two zstd frames, so that they unpack side by side, and no run of
    // one byte, so that a frame put in the wrong place shows.
    std::string big(9 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (const std::vector<std::string>& codec : {std::vector<std::string>{}, {"--compression", "deflate"}}) {
        SCOPED_TRACE(codec.empty() ? "zstd" : "deflate");
        Scratch scratch;
        scratch.write("runtime/bin/" + target().javaName, "not really java");
        scratch.write("runtime/lib/modules", big);
        scratch.write("runtime/conf/security/empty", "");
        const std::string packedName = target().windows ? "jvm.exe" : "jvm";
        std::vector<std::string> arguments{"runtime", (scratch / "runtime").string(), "-o",
                                           (scratch / "temp" / packedName).string(), "--unpacker", target().unpacker};
        arguments.insert(arguments.end(), codec.begin(), codec.end());
        RunResult packed = runPack(arguments);
        ASSERT_EQ(packed.exitCode, 0) << packed.err;

        std::vector<std::string> command = target().runner;
        command.insert(command.end(), {"./" + packedName, "-o"});
        Environment environment = target().environment;
        environment["PATH"] = "/usr/bin:/bin";
        RunResult unpacked = runProgram(command, environment, scratch / "temp");
        ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
        const fs::path jvm = scratch / "temp" / "_jvm";
        EXPECT_EQ(readFile(jvm / "bin" / target().javaName), "not really java");
        EXPECT_TRUE(readFile(jvm / "lib" / "modules") == big) << "lib/modules came out other than it went in";
        EXPECT_TRUE(fs::is_regular_file(jvm / "conf" / "security" / "empty"));
        EXPECT_EQ(readFile(jvm / "jvm.properties"), "java.bin.path=bin/" + target().javaName + "\n");
    }
}

TEST_F(InstallerFile, AnInstallerWithoutRuntimeNeedsOneOnTheCommandLine) {
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    RunResult result = Launch(scratch).run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Unable to find a suitable jvm."), std::string::npos) << result.err;

    Launch wrongHome(scratch);
    wrongHome.arguments({"-javaHome", target().path(scratch / "temp")});
    result = wrongHome.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    const std::string home = target().path(scratch / "temp") + target().separator;
    EXPECT_NE(result.err.find("ERROR \t: The jvm provided on the command line (" + home +
                              ")is not suitable for the installer.\nERROR \t: Please provide a correct jvm for the "
                              "installer or use the jvm embedded in the installer."),
              std::string::npos)
        << result.err;
}

TEST_F(InstallerFile, TooLittleTemporarySpaceStopsBeforeAnythingIsUnpacked) {
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--data", scratch.write("data.jar", "d").string(),
                                                 "--extra-space-mb", "999999999"});
    // jar 1 + data 1 + 999999999 extra: the usage text is not counted.
    Launch l = launch();
    RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    const std::string head = "ERROR \t: There isn't enough space in the temporary directory (" +
                             target().path(l.tempBase) + target().separator + "TALVE_TEMP_";
    EXPECT_NE(result.err.find(head), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(") to launch the installer\nERROR \t: 1000000001 Mb are required but only "),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(" Mb are available.\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(l.record));
}

TEST_F(InstallerFile, ADamagedInstallerFailsWithOneLineNamingTheFile) {
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});
    const std::string whole = readFile(installer);

    fs::path cutInPayload = scratch.write("cut-payload", whole.substr(0, whole.size() - 200));
    fs::path cutInTable = scratch.write("cut-table", whole.substr(0, whole.find("install.jar") + 20));
    for (const fs::path& damaged : {cutInPayload, cutInTable}) {
        fs::permissions(damaged, fs::perms::owner_all);
        Launch l = launch();
        RunResult result = l.run(damaged);
        EXPECT_EQ(result.exitCode, 1) << damaged;
        EXPECT_NE(result.err.find("ERROR \t: The installer file " + target().path(damaged) + " is damaged"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(l.record));
    }

    RunResult bare = launch().run(target().launcher);
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_NE(bare.err.find("ERROR \t: Unable to locate the bootstrap table. Please check that the installer was "
                            "properly copied."),
              std::string::npos)
        << bare.err;
}

TEST(PackTool, ListsTheEightRowsAndRefusesWhatItCannotStore) {
    Scratch scratch;
    fs::path jar = scratch.write("install.jar", "jar");
    fs::path installer = packInstaller(scratch, {"--jar", jar.string(), "--allow-java-args"});
    RunResult list = runPack({"list", installer.string()});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("jar "), std::string::npos);
    EXPECT_NE(list.out.find("install.jar"), std::string::npos);
    EXPECT_NE(list.out.find("allow"), std::string::npos);
    EXPECT_NE(list.out.find("noValid"), std::string::npos);
    int rows = 0;
    for (std::size_t at = list.out.find('\n'); at != std::string::npos; at = list.out.find('\n', at + 1)) ++rows;
    EXPECT_EQ(rows, 11); // location, header, eight rows, signature
    EXPECT_NE(list.out.find("signature: none\n"), std::string::npos);

    EXPECT_NE(runPack({"list", target().launcher}).exitCode, 0);
    RunResult tooLong = runPack({"create", "-o", (scratch / "x").string(), "--launcher", target().launcher, "--jar",
                                 scratch.write("much-too-long-name.jar", "j").string()});
    EXPECT_NE(tooLong.exitCode, 0);
    EXPECT_NE(tooLong.err.find("longer than 12 characters"), std::string::npos) << tooLong.err;
    RunResult twice = runPack({"create", "-o", (scratch / "y").string(), "--launcher", installer.string(), "--jar",
                               jar.string()});
    EXPECT_NE(twice.exitCode, 0);
    EXPECT_NE(twice.err.find("already carries a bootstrap table"), std::string::npos) << twice.err;
}

} // namespace
} // namespace e2e
