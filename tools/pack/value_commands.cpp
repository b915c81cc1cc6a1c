#include "value_commands.h"

#include "crypto/protected_value.h"
#include "platform/bootstrap_context.h"
#include "platform/platform.h"
#include "silent/masked_key.h"
#include "silent/silent_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

namespace talve {
namespace pack {

namespace {
const char* const encryptUsage =
    "Usage: talve-pack encrypt [--key KEY | --program-key] [--] VALUE|-\n"
    "Prints VALUE protected with KEY, as a silent or record file carries it under a\n"
    "name ending in \".encrypted\". Without --key the key is asked for twice, without echo.\n"
    "--program-key protects with the launcher's own key (the form of KORVU_SILENT_K).\n"
    "\"-\" reads the value from standard input (one line end at its end is dropped).\n"
    "A value holds at most 4096 bytes of text.\n";
const char* const decryptUsage =
    "Usage: talve-pack decrypt [--key KEY | --program-key] [--] VALUE|-\n"
    "Prints the text of a protected value; exit code 1 when the key does not fit it.\n"
    "Without --key the key is asked for without echo.\n";
const char* const checkUsage =
    "Usage: talve-pack check-silent [--key KEY | --no-key] FILE\n"
    "Checks a silent file as the launcher does before a silent run and prints the\n"
    "result (0 to 7) and its meaning; exit code 0 when a run with it would go on.\n"
    "When values need a key and no --key is given, the key is asked for once, without\n"
    "echo, as the launcher asks; --no-key checks the file without testing a key.\n";

struct ValueOptions {
    std::optional<std::string> key;
    bool programKey = false;
    bool noKey = false;
    std::string operand;
};

bool wantsHelp(int argc, char** argv) {
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

// Values of the program's key begin with "----": an option is "--" and a letter.
bool looksLikeOption(const std::string& argument) {
    return argument.size() > 2 && argument.compare(0, 2, "--") == 0 && std::isalpha(static_cast<unsigned char>(argument[2]));
}

// Options, then one operand; "--" ends the options so that a value may
// begin with "--". Nothing after saying what is wrong.
std::optional<ValueOptions> parseValueOptions(int argc, char** argv, const char* usage, bool forCheck) {
    ValueOptions options;
    bool operandSeen = false, optionsEnded = false;
    const char* problem = nullptr;
    for (int i = 1; i < argc && !problem; ++i) {
        const std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == "--key") {
            if (i + 1 >= argc)
                problem = "--key needs a value";
            else if (options.key)
                problem = "--key is given twice";
            else
                options.key = argv[++i];
        } else if (!optionsEnded && !forCheck && argument == "--program-key") {
            options.programKey = true;
        } else if (!optionsEnded && forCheck && argument == "--no-key") {
            options.noKey = true;
        } else if (!optionsEnded && looksLikeOption(argument)) {
            problem = "unknown option";
        } else if (operandSeen) {
            problem = "too many arguments";
        } else {
            options.operand = argument;
            operandSeen = true;
        }
    }
    if (!problem && !operandSeen) problem = forCheck ? "no file was named" : "no value was given";
    if (!problem && options.key && (options.programKey || options.noKey))
        problem = forCheck ? "--key and --no-key exclude each other" : "--key and --program-key exclude each other";
    if (!problem && options.key) problem = keyRuleProblem(*options.key);
    if (problem) {
        std::fprintf(stderr, "talve-pack: %s\n%s", problem, usage);
        return std::nullopt;
    }
    return options;
}

// Standard input up to limit bytes, one line end at its end dropped;
// nothing when there is more.
std::optional<std::string> standardInputValue(std::size_t limit) {
    std::string text;
    char buffer[4096];
    // Room for the line end that is dropped, and one byte to see that there is more.
    while (text.size() <= limit + 2) {
        std::cin.read(buffer, sizeof buffer);
        if (std::cin.gcount() <= 0) break;
        text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.size() > limit) return std::nullopt;
    return text;
}

// The key typed at the prompt; a key for new values is typed twice.
std::optional<std::string> promptedKey(Platform& platform, bool confirm) {
    const MaskedEntry entry = readMaskedKey(platform, "Key: ", stderr);
    if (entry.text.empty()) return std::nullopt;
    if (confirm && readMaskedKey(platform, "Key again: ", stderr).text != entry.text) {
        std::fputs("talve-pack: the keys do not match\n", stderr);
        return std::nullopt;
    }
    return entry.text;
}

// Options to the value's key, or nothing after saying why.
std::optional<crypto::ValueKey> keyFor(const ValueOptions& options, Platform& platform, bool confirm) {
    if (options.programKey) return crypto::programValueKey();
    if (options.key) return crypto::userValueKey(*options.key);
    if (options.operand == "-") {
        std::fputs("talve-pack: a value read from standard input needs --key\n", stderr);
        return std::nullopt;
    }
    const std::optional<std::string> typed = promptedKey(platform, confirm);
    if (!typed) {
        std::fputs("talve-pack: no key was given\n", stderr);
        return std::nullopt;
    }
    return crypto::userValueKey(*typed);
}

// The longest value the format can have: a longer input is no value.
constexpr std::size_t longestValue =
    crypto::valueTagLength + ((16 + crypto::longestValueText + 16 + crypto::valueMacBytes) * 8 + 5) / 6 + 1;

const char* resultMeaning(int result) {
    switch (result) {
    case silentFileWithoutKey: return "file read, no value protected with a user's key";
    case silentFileMissing: return "no file name, or the file cannot be opened";
    case silentFileMixedKeys: return "an encrypted value was protected with another key than the first one";
    case silentFileWithKey: return "file read, values protected with one user's key";
    case silentFileValueTooShort: return "an encrypted value is shorter than 20 characters";
    case silentFileBadCheckCharacter: return "an encrypted value is damaged (wrong check character, or altered)";
    case silentFileWrongKey: return "the key does not fit the encrypted values";
    case silentFileDuplicate: return "a property is given twice";
    default: return "unknown result";
    }
}
} // namespace

int runEncryptCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(encryptUsage, stdout), 0;
    const std::optional<ValueOptions> options = parseValueOptions(argc, argv, encryptUsage, false);
    if (!options) return 2;
    std::optional<std::string> text = options->operand;
    if (options->operand == "-") text = standardInputValue(crypto::longestValueText);
    if (!text || text->size() > crypto::longestValueText) {
        std::fprintf(stderr, "talve-pack: a protected value holds at most %zu bytes of text\n",
                     crypto::longestValueText);
        return 1;
    }
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::optional<crypto::ValueKey> key = keyFor(*options, *platform, true);
    if (!key) return 1;
    crypto::IV iv;
    if (!platform->randomBytes(iv.data(), iv.size())) {
        std::fputs("talve-pack: the system gave no random bytes\n", stderr);
        return 1;
    }
    std::string value;
    if (crypto::protectValue(*key, *text, iv, value) != 0) {
        std::fputs("talve-pack: the value could not be protected\n", stderr);
        return 1;
    }
    std::printf("%s\n", value.c_str());
    return 0;
}

int runDecryptCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(decryptUsage, stdout), 0;
    const std::optional<ValueOptions> options = parseValueOptions(argc, argv, decryptUsage, false);
    if (!options) return 2;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::optional<crypto::ValueKey> key = keyFor(*options, *platform, false);
    if (!key) return 1;
    std::optional<std::string> value = options->operand;
    if (options->operand == "-") value = standardInputValue(longestValue);
    const std::optional<std::string> text = value ? crypto::revealValue(*key, *value) : std::nullopt;
    if (!text) {
        std::fputs("talve-pack: the key does not fit this value\n", stderr);
        return 1;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

int runCheckSilentCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(checkUsage, stdout), 0;
    const std::optional<ValueOptions> options = parseValueOptions(argc, argv, checkUsage, true);
    if (!options) return 2;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    BootstrapContext context(*platform);
    if (options->key) context.keyValue = *options->key;
    int result = readSilentFile(context, options->operand);
    if (result == silentFileWithKey && !options->key && !options->noKey) {
        const MaskedEntry entry = readMaskedKey(*platform, "Some properties are encrypted.\n\tEnter key : ", stderr);
        if (entry.text.empty()) {
            std::fputs("talve-pack: no key was given\n", stderr);
            return 1;
        }
        context.keyValue = entry.text;
        result = readSilentFile(context, options->operand);
    }
    std::printf("result %d: %s\n", result, resultMeaning(result));
    return result == silentFileWithoutKey || result == silentFileWithKey ? 0 : 1;
}

} // namespace pack
} // namespace talve
