// Silent runs check their answers file before anything is unpacked; record
// runs obtain a key; the installer jar gets the key only in protected form.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

const std::string aliceKey = "Alice2024key";
const std::string bobKey = "Bob2024keyXY";

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string packed(const std::vector<std::string>& arguments) {
    RunResult result = runPack(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return firstLine(result.out);
}

std::string encrypted(const std::string& key, const std::string& text) {
    return packed({"encrypt", "--key", key, text});
}

bool javaAvailable() {
    const std::string java = TALVE_JAVA_PATH;
    return !java.empty() && java.find("NOTFOUND") == std::string::npos;
}

// The Java reference, run from its source as an installer author would try it.
RunResult javaReference(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TALVE_JAVA_PATH, TALVE_JAVA_REFERENCE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, {{"PATH", "/usr/bin:/bin"}, {"HOME", target().environment.at("HOME")}},
                      fs::current_path());
}

class SilentAndRecord : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});
    const std::string alice1 = encrypted(aliceKey, "first answer");

    Launch launch(std::vector<std::string> arguments) {
        Launch l(scratch);
        arguments.insert(arguments.begin(), {"-javaHome", target().path(runtime)});
        l.arguments(arguments);
        // Whether the installer ran shows in a record of this run alone.
        fs::remove(l.record);
        return l;
    }
    // The key the installer jar received, read back with the launcher's own key.
    std::string exportedKey(const Launch& l) {
        auto record = readProbeRecord(l.record);
        if (!record || !record->has("KORVU_SILENT_K")) return "(no KORVU_SILENT_K)";
        return packed({"decrypt", "--program-key", record->env("KORVU_SILENT_K")});
    }
};

TEST_F(SilentAndRecord, ARecordRunHandsAComplexKeyToTheInstallerProtected) {
    Launch l = launch({"-record", "answers.properties", "-key", aliceKey});
    RunResult result = l.run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.find("Enter key"), std::string::npos);
    auto record = readProbeRecord(l.record);
    ASSERT_TRUE(record);
    const std::string silentK = record->env("KORVU_SILENT_K");
    EXPECT_EQ(silentK.substr(0, 4), "----");
    EXPECT_EQ(exportedKey(l), aliceKey);
    if (!javaAvailable()) GTEST_SKIP() << "no Java runtime for the reference";
    RunResult decoded = javaReference({"decode-silent-key", silentK});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_EQ(decoded.out, aliceKey + "\n");
}

TEST_F(SilentAndRecord, ARecordRunFromAScriptTakesItsKeyFromStandardInput) {
    Launch l = launch({"-record", "answers.properties", "-key", "weak"});
    l.input("weak\r\n" + aliceKey + "\r\n" + aliceKey + "\r\n");
    RunResult result = l.run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("The entered key does not meet the complexity requirements.\n"), std::string::npos);
    EXPECT_EQ(exportedKey(l), aliceKey);

    // An input that ends before a key is confirmed cannot be asked again for ever.
    for (const std::string input : {"", "weak\n", "Alice2024key\n"}) {
        Launch ended = launch({"-record", "answers.properties", "-key"});
        ended.input(input);
        result = ended.run(installer);
        EXPECT_EQ(result.exitCode, 1) << input;
        EXPECT_NE(result.out.find("A key is needed in order to encrypt recorded properties.\n"), std::string::npos);
        EXPECT_NE(result.err.find("ERROR \t: The input ended before a key was accepted and confirmed. The installer "
                                  "will exit.\n"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(ended.record));
    }
}

TEST_F(SilentAndRecord, AFaultySilentFileStopsTheRunWithItsMessage) {
    const std::string bob1 = encrypted(bobKey, "other answer");
    std::string badCheck = alice1;
    badCheck.back() = badCheck.back() == 'q' ? '7' : 'q';
    const std::string path = target().path(scratch / "answers.properties");
    struct Case {
        std::string content;
        std::vector<std::string> key;
        std::vector<std::string> errors;
    } cases[] = {
        {"a.encrypted=" + alice1 + "\nb.encrypted=" + bob1 + "\n", {},
         {"Key for property [b.encrypted] does not match the one used for property [a.encrypted]\n"}},
        {"p.encrypted=" + alice1.substr(0, 19) + "\n", {},
         {"Incorrect value for property [p.encrypted] : [" + alice1.substr(0, 19) + "] is too short."}},
        {"p.encrypted=" + badCheck + "\n", {}, {"Incorrect value for property [p.encrypted] : [" + badCheck + "]."}},
        {"a=1\na.encrypted=" + alice1 + "\n", {},
         {"Duplicates keys [a] were found in the silent file",
          "The provided silent file [" + path + "] contains duplicate keys.",
          "Please remove the duplicate keys and launch your installer again."}},
        {"p.encrypted=" + alice1 + "\n", {"-key", bobKey}, {"Incorrect key."}},
    };
    for (const Case& c : cases) {
        scratch.write("answers.properties", c.content);
        std::vector<std::string> arguments{"-silent", "answers.properties"};
        arguments.insert(arguments.end(), c.key.begin(), c.key.end());
        Launch l = launch(arguments);
        RunResult result = l.run(installer);
        EXPECT_EQ(result.exitCode, 1) << c.content;
        std::string expected;
        for (const std::string& error : c.errors) expected += "ERROR \t: " + error + "\n";
        EXPECT_EQ(result.err, expected) << c.content;
        EXPECT_EQ(result.out.find("Enter key"), std::string::npos);
        EXPECT_FALSE(fs::exists(l.record)) << "the installer ran for " << c.content;
    }

    Launch missing = launch({"-silent", "absent.properties"});
    RunResult result = missing.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR \t: The silent file [" + target().path(scratch / "absent.properties") +
                              "] was not found.\n\n");

    // A device is there, but is no file of answers: the same answer, after
    // a line that says what it is.
    const std::string device = target().windows ? target().path(scratch / "NUL") : "/dev/null";
    Launch deviceRun = launch({"-silent", target().windows ? "NUL" : device});
    result = deviceRun.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR \t: The file \"" + device + "\" is not a regular file and is not read.\n"
                          "ERROR \t: The silent file [" + device + "] was not found.\n\n");
    EXPECT_FALSE(fs::exists(deviceRun.record));
}

TEST_F(SilentAndRecord, AFittingKeyIsExportedWithoutAPrompt) {
    scratch.write("answers.properties", "# answers\nname = x\np.encrypted = " + alice1 + "\n");
    Launch l = launch({"-silent", "answers.properties", "-key", aliceKey});
    RunResult result = l.run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(exportedKey(l), aliceKey);
}

TEST_F(SilentAndRecord, WithoutKeyTheSilentRunAsksForItOnce) {
    scratch.write("answers.properties", "p.encrypted=" + alice1 + "\n");
    Launch right = launch({"-silent", "answers.properties"});
    right.input(aliceKey + "\n");
    RunResult result = right.run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Some properties are encrypted.\n\tEnter key : " + std::string(aliceKey.size(), '*') + "\n");
    EXPECT_EQ(exportedKey(right), aliceKey);

    Launch wrong = launch({"-silent", "answers.properties"});
    wrong.input(bobKey + "\n" + aliceKey + "\n");
    result = wrong.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR \t: Incorrect key.\nERROR \t: A wrong key has been provided.\n");
    EXPECT_FALSE(fs::exists(wrong.record));

    Launch none = launch({"-silent", "answers.properties"});
    result = none.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR \t: No key was provided. The installer will exit.\n");
}

TEST_F(SilentAndRecord, TheJavaReferenceAndTheLauncherReadEachOthersValues) {
    if (target().windows) GTEST_SKIP() << "talve-pack and Java run natively: the native run covers it";
    if (!javaAvailable()) GTEST_SKIP() << "no Java runtime for the reference";
    RunResult read = javaReference({"decrypt", aliceKey, alice1});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, "first answer\n");
    EXPECT_EQ(javaReference({"fits", bobKey, alice1}).out, "false\n");

    RunResult made = javaReference({"encrypt", aliceKey, "from java"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string javaValue = firstLine(made.out);
    EXPECT_EQ(javaValue.substr(0, 4), alice1.substr(0, 4)) << "one key, one tag";
    EXPECT_EQ(packed({"decrypt", "--key", aliceKey, javaValue}), "from java");
    EXPECT_EQ(runPack({"decrypt", "--key", bobKey, javaValue}).exitCode, 1);

    const fs::path file = scratch.write("answers.properties", "a.encrypted=" + alice1 + "\nb.encrypted=" + javaValue);
    RunResult check = runPack({"check-silent", "--key", aliceKey, file.string()});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.out, "result 3: file read, values protected with one user's key\n");
    check = runPack({"check-silent", "--key", bobKey, file.string()});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(check.out, "result 6: the key does not fit the encrypted values\n");
    EXPECT_EQ(check.err, "ERROR \t: Incorrect key.\n");
}

TEST_F(SilentAndRecord, TalvePackAsksForAKeyOffItsStandardOutput) {
    if (target().windows) GTEST_SKIP() << "talve-pack runs natively: the native run covers it";
    const fs::path typed = scratch.write("typed.txt", aliceKey + "\n" + aliceKey + "\n");
    RunResult made = runProgram({TALVE_PACK_PATH, "encrypt", "typed answer"}, {{"PATH", "/usr/bin:/bin"}},
                                scratch.root(), typed);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(made.err, "Key: " + std::string(aliceKey.size(), '*') + "\nKey again: " +
                            std::string(aliceKey.size(), '*') + "\n");
    EXPECT_EQ(packed({"decrypt", "--key", aliceKey, firstLine(made.out)}), "typed answer");

    const fs::path mistyped = scratch.write("mistyped.txt", aliceKey + "\n" + bobKey + "\n");
    made = runProgram({TALVE_PACK_PATH, "encrypt", "x"}, {{"PATH", "/usr/bin:/bin"}}, scratch.root(), mistyped);
    EXPECT_EQ(made.exitCode, 1);
    EXPECT_EQ(made.out, "");
}

} // namespace
} // namespace e2e
