// Protected values across the programs that make and read them: the
// documented vectors, round trips between C++ and the Java reference, and
// damaged values refused by every reader, the launcher included.

#include "crypto/protected_value.h"
#include "support/harness.h"
#include "unit/support/damaged_values.h"
#include "unit/support/value_vectors.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace e2e {
namespace {

namespace crypto = talve::crypto;

const std::string aliceKey = "Alice2024key";
const std::string umlautKey = "Schl\xc3\xbcssel2024";

bool javaAvailable() {
    const std::string java = TALVE_JAVA_PATH, javac = TALVE_JAVAC_PATH;
    return java.find("NOTFOUND") == std::string::npos && !java.empty() && javac.find("NOTFOUND") == std::string::npos &&
           !javac.empty();
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out.empty() ? "-" : out;
}

std::string unhex(const std::string& text) {
    std::string out;
    if (text == "-") return out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

// Derived once per test process, for all tests.
const crypto::ValueKey& keyOf(const std::string& keyText) {
    static std::map<std::string, crypto::ValueKey> derived;
    auto found = derived.find(keyText);
    if (found == derived.end())
        found = derived.emplace(keyText, keyText.empty() ? crypto::programValueKey() : *crypto::userValueKey(keyText))
                    .first;
    return found->second;
}

std::string protect(const std::string& keyText, const std::string& text, std::uint8_t seed = 5) {
    crypto::IV iv;
    iv.fill(seed);
    std::string value;
    EXPECT_EQ(crypto::protectValue(keyOf(keyText), text, iv, value), 0);
    return value;
}

// The Java reference compiled once, with a driver that takes thousands of
// requests in one JVM: one line in, one line out.
class JavaReference {
public:
    static JavaReference& instance() {
        static JavaReference reference;
        return reference;
    }
    bool ready() const { return ready_; }
    std::vector<std::string> ask(const std::vector<std::string>& requests) {
        std::string input;
        for (const std::string& request : requests) input += request + "\n";
        const fs::path file = scratch_.write("requests.txt", input);
        RunResult result = runProgram({TALVE_JAVA_PATH, "-cp", scratch_.root().string(), "ValueBatch"},
                                      {{"PATH", "/usr/bin:/bin"}}, scratch_.root(), file);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::vector<std::string> answers;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) answers.push_back(line);
        EXPECT_EQ(answers.size(), requests.size());
        answers.resize(requests.size());
        return answers;
    }

private:
    JavaReference() {
        if (!javaAvailable()) return;
        RunResult built = runProgram({TALVE_JAVAC_PATH, "-d", scratch_.root().string(), TALVE_JAVA_REFERENCE,
                                      TALVE_JAVA_VALUE_BATCH},
                                     {{"PATH", "/usr/bin:/bin"}}, scratch_.root());
        EXPECT_EQ(built.exitCode, 0) << built.err;
        ready_ = built.exitCode == 0;
    }
    Scratch scratch_;
    bool ready_ = false;
};

std::string keyArgument(const std::string& keyText) { return keyText.empty() ? "-" : hex(keyText); }

#define NEEDS_JAVA_NATIVELY()                                                                       \
    if (target().windows) GTEST_SKIP() << "the Java reference runs natively: the native run covers it"; \
    if (!javaAvailable() || !JavaReference::instance().ready()) GTEST_SKIP() << "no JDK for the Java reference"

TEST(JavaReference, MakesAndReadsTheDocumentedVectors) {
    NEEDS_JAVA_NATIVELY();
    const auto vectors = talve::test::documentedValueVectors(TALVE_VALUE_DOCUMENT);
    ASSERT_EQ(vectors.size(), 5u);
    std::vector<std::string> requests;
    for (const auto& v : vectors) {
        requests.push_back("vector " + keyArgument(v.key) + " " + v.ivHex + " " + hex(v.text));
        requests.push_back("decrypt " + keyArgument(v.key) + " " + v.value);
    }
    const auto answers = JavaReference::instance().ask(requests);
    for (std::size_t i = 0; i < vectors.size(); ++i) {
        EXPECT_EQ(answers[2 * i], vectors[i].value);
        EXPECT_EQ(unhex(answers[2 * i + 1]), vectors[i].text);
    }
}

TEST(JavaReference, AndTheLauncherReadEachOthersValuesOfAnyLength) {
    NEEDS_JAVA_NATIVELY();
    const std::string texts[] = {"", "a", std::string(15, 'b'), std::string(16, 'c'), std::string(17, 'd'),
                                 std::string(1000, 'e'), "Gr\xc3\xbc\xc3\x9f" "e \xe4\xb8\x96", std::string("\xff\x00\xfe", 3)};
    const std::string keys[] = {"", aliceKey, umlautKey, "\xe9t\xe9"};
    std::vector<std::string> requests;
    std::vector<std::pair<std::string, std::string>> cases;
    for (const std::string& key : keys)
        for (const std::string& text : texts) {
            cases.emplace_back(key, text);
            requests.push_back("decrypt " + keyArgument(key) + " " + protect(key, text));
            requests.push_back("encrypt " + keyArgument(key) + " " + hex(text));
        }
    const auto answers = JavaReference::instance().ask(requests);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [key, text] = cases[i];
        EXPECT_EQ(unhex(answers[2 * i]), text) << "C++ to Java, key " << hex(key) << ", " << text.size() << " bytes";
        EXPECT_EQ(crypto::revealValue(keyOf(key), answers[2 * i + 1]), text)
            << "Java to C++, key " << hex(key) << ", " << text.size() << " bytes";
    }
}

TEST(JavaReference, RefusesEveryDamageWithoutTheKey) {
    NEEDS_JAVA_NATIVELY();
    std::vector<std::string> requests;
    for (const std::string& key : {std::string(), aliceKey, umlautKey})
        for (const std::string& text : {std::string("db-Secret!"), std::string(33, 'x')})
            for (const std::string& damaged : talve::test::damagedValues(protect(key, text)))
                requests.push_back("decrypt " + keyArgument(key) + " " + damaged);
    const auto answers = JavaReference::instance().ask(requests);
    std::size_t accepted = 0;
    for (std::size_t i = 0; i < answers.size(); ++i)
        if (answers[i] != "refused") ADD_FAILURE() << ++accepted << ": " << requests[i] << " gave " << answers[i];
    EXPECT_GT(answers.size(), 50000u);
}

class DamagedValues : public ::testing::Test {
protected:
    Scratch scratch;
    // Each value with the sample of its damages.
    std::vector<std::pair<std::string, std::string>> damaged() {
        std::vector<std::pair<std::string, std::string>> out;
        for (const std::string& key : {std::string(), aliceKey})
            for (const std::string& value : talve::test::sampleOfDamagedValues(protect(key, "db-Secret!")))
                out.emplace_back(key, value);
        return out;
    }
};

TEST_F(DamagedValues, AreRefusedByTalvePackDecryptAndCheckSilent) {
    if (target().windows) GTEST_SKIP() << "talve-pack runs natively: the native run covers it";
    for (const auto& [key, value] : damaged()) {
        const std::vector<std::string> keyOptions =
            key.empty() ? std::vector<std::string>{"--program-key"} : std::vector<std::string>{"--key", key};
        std::vector<std::string> decrypt{"decrypt"};
        decrypt.insert(decrypt.end(), keyOptions.begin(), keyOptions.end());
        decrypt.push_back(value);
        RunResult result = runPack(decrypt);
        EXPECT_EQ(result.exitCode, 1) << value;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "talve-pack: the key does not fit this value\n") << value;

        const fs::path file = scratch.write("answers.properties", "p.encrypted=" + value + "\n");
        std::vector<std::string> check{"check-silent"};
        if (!key.empty()) check.insert(check.end(), {"--key", key});
        check.push_back(file.string());
        result = runPack(check);
        EXPECT_EQ(result.exitCode, 1) << value << "\n" << result.out << result.err;
        EXPECT_NE(result.err.find("ERROR \t: "), std::string::npos) << value << "\n" << result.out;
    }
}

TEST_F(DamagedValues, StopTheLauncherBeforeTheInstallerRuns) {
    const fs::path runtime = makeFakeRuntime(scratch);
    const fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});
    for (const auto& [key, value] : damaged()) {
        scratch.write("answers.properties", "p.encrypted=" + value + "\n");
        Launch l(scratch);
        std::vector<std::string> arguments{"-javaHome", target().path(runtime), "-silent", "answers.properties"};
        if (!key.empty()) arguments.insert(arguments.end(), {"-key", key});
        l.arguments(arguments);
        fs::remove(l.record);
        RunResult result = l.run(installer);
        EXPECT_EQ(result.exitCode, 1) << value;
        EXPECT_NE(result.err.find("ERROR \t: "), std::string::npos) << value;
        EXPECT_FALSE(fs::exists(l.record)) << "the installer ran with " << value;
    }
}

TEST(TalvePackValueOptions, AMissingOrEmptyKeyIsAnErrorNotAText) {
    if (target().windows) GTEST_SKIP() << "talve-pack runs natively: the native run covers it";
    for (const std::string command : {"encrypt", "decrypt", "check-silent"}) {
        RunResult result = runPack({command, "--key"});
        EXPECT_EQ(result.exitCode, 2) << command;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("talve-pack: --key needs a value\nUsage: talve-pack " + command, 0), 0u) << result.err;
        result = runPack({command, "--key", "", "x"});
        EXPECT_EQ(result.exitCode, 2) << command;
        EXPECT_EQ(result.err.rfind("talve-pack: the key is empty\n", 0), 0u) << result.err;
        // A key the launcher cannot take makes values no installer can read.
        for (const std::string& key : {std::string(201, 'k'), std::string("Alice\t2024key")}) {
            result = runPack({command, "--key", key, "x"});
            EXPECT_EQ(result.exitCode, 2) << command;
            EXPECT_EQ(result.err.rfind("talve-pack: the key ", 0), 0u) << result.err;
        }
    }
    ASSERT_EQ(runPack({"encrypt", "--key", std::string(200, 'k'), "x"}).exitCode, 0);
    // A text that looks like an option is protected after "--".
    RunResult made = runPack({"encrypt", "--key", aliceKey, "--", "--key"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(crypto::revealValue(keyOf(aliceKey), made.out.substr(0, made.out.find('\n'))), "--key");
}

TEST(TalvePackValueOptions, ATextTooLongForAValueIsRefusedNotPrintedInClear) {
    if (target().windows) GTEST_SKIP() << "talve-pack runs natively: the native run covers it";
    Scratch scratch;
    const std::string limitMessage = "talve-pack: a protected value holds at most 4096 bytes of text\n";
    const std::string longest(crypto::longestValueText, 's');
    RunResult result = runPack({"encrypt", "--program-key", longest});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(crypto::revealValue(keyOf(""), result.out.substr(0, result.out.find('\n'))), longest);

    result = runPack({"encrypt", "--program-key", longest + "s"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, limitMessage);
    // From standard input the whole input is never held: 64 MiB is refused as quickly.
    const fs::path big = scratch / "big.txt";
    fs::resize_file(scratch.write("big.txt", "x"), 64u << 20);
    result = runProgram({TALVE_PACK_PATH, "encrypt", "--program-key", "-"}, {{"PATH", "/usr/bin:/bin"}},
                        scratch.root(), big);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, limitMessage);
}

TEST(TalvePackCheckSilent, AsksForTheKeyWhenValuesNeedOne) {
    if (target().windows) GTEST_SKIP() << "talve-pack runs natively: the native run covers it";
    Scratch scratch;
    const fs::path file = scratch.write("answers.properties", "p.encrypted=" + protect(aliceKey, "x") + "\n");
    const auto checkWithInput = [&](const std::vector<std::string>& options, const std::string& typed) {
        std::vector<std::string> argv{TALVE_PACK_PATH, "check-silent"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(file.string());
        return runProgram(argv, {{"PATH", "/usr/bin:/bin"}}, scratch.root(), scratch.write("typed.txt", typed));
    };
    const std::string prompt = "Some properties are encrypted.\n\tEnter key : ";
    RunResult result = checkWithInput({}, aliceKey + "\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "result 3: file read, values protected with one user's key\n");
    EXPECT_EQ(result.err, prompt + std::string(aliceKey.size(), '*') + "\n");

    result = checkWithInput({}, "Wrong2024key\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "result 6: the key does not fit the encrypted values\n");
    EXPECT_EQ(result.err, prompt + "************\nERROR \t: Incorrect key.\n");

    result = checkWithInput({}, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, prompt + "talve-pack: no key was given\n");

    result = checkWithInput({"--no-key"}, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "result 3: file read, values protected with one user's key\n");
    EXPECT_EQ(result.err, "");
}

} // namespace
} // namespace e2e
