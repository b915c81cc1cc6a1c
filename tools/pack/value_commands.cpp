#include "value_commands.h"

#include "crypto/protected_value.h"
#include "platform/bootstrap_context.h"
#include "platform/platform.h"
#include "silent/masked_key.h"
#include "silent/silent_file.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

namespace talve {
namespace pack {

namespace {
const char* const encryptUsage =
    "Usage: talve-pack encrypt [--key KEY | --program-key] VALUE|-\n"
    "Prints VALUE protected with KEY, as a silent or record file carries it under a\n"
    "name ending in \".encrypted\". Without --key the key is asked for twice, without echo.\n"
    "--program-key protects with the launcher's own key (the form of KORVU_SILENT_K).\n"
    "\"-\" reads the value from standard input (one line end at its end is dropped).\n";
const char* const decryptUsage =
    "Usage: talve-pack decrypt [--key KEY | --program-key] VALUE|-\n"
    "Prints the text of a protected value; exit code 1 when the key does not fit it.\n"
    "Without --key the key is asked for without echo.\n";
const char* const checkUsage =
    "Usage: talve-pack check-silent [--key KEY] FILE\n"
    "Checks a silent file as the launcher does before a silent run and prints the\n"
    "result (0 to 7) and its meaning; exit code 0 when a run with it would go on.\n";

struct ValueOptions {
    std::optional<std::string> key;
    bool programKey = false;
    std::string value;
};

bool wantsHelp(int argc, char** argv) {
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

std::optional<ValueOptions> parseValueOptions(int argc, char** argv) {
    ValueOptions options;
    bool valueSeen = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc && !options.key) {
            options.key = argv[++i];
        } else if (std::strcmp(argv[i], "--program-key") == 0) {
            options.programKey = true;
        } else if (!valueSeen) {
            options.value = argv[i];
            valueSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (!valueSeen || (options.key && options.programKey)) return std::nullopt;
    return options;
}

std::string standardInputValue() {
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
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
    if (options.value == "-") {
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

const char* resultMeaning(int result) {
    switch (result) {
    case silentFileWithoutKey: return "file read, no value protected with a user's key";
    case silentFileMissing: return "no file name, or the file cannot be opened";
    case silentFileMixedKeys: return "an encrypted value was protected with another key than the first one";
    case silentFileWithKey: return "file read, values protected with one user's key";
    case silentFileValueTooShort: return "an encrypted value is shorter than 20 characters";
    case silentFileBadCheckCharacter: return "an encrypted value has a wrong check character";
    case silentFileWrongKey: return "the key does not fit the encrypted values";
    case silentFileDuplicate: return "a property is given twice";
    default: return "unknown result";
    }
}
} // namespace

int runEncryptCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(encryptUsage, stdout), 0;
    const std::optional<ValueOptions> options = parseValueOptions(argc, argv);
    if (!options) return std::fputs(encryptUsage, stderr), 2;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::optional<crypto::ValueKey> key = keyFor(*options, *platform, true);
    if (!key) return 1;
    const std::string text = options->value == "-" ? standardInputValue() : options->value;
    crypto::IV iv;
    if (!platform->randomBytes(iv.data(), iv.size())) {
        std::fputs("talve-pack: the system gave no random bytes\n", stderr);
        return 1;
    }
    std::string value;
    if (crypto::protectValue(*key, text, iv, value) != 0) return 1;
    std::printf("%s\n", value.c_str());
    return 0;
}

int runDecryptCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(decryptUsage, stdout), 0;
    const std::optional<ValueOptions> options = parseValueOptions(argc, argv);
    if (!options) return std::fputs(decryptUsage, stderr), 2;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::optional<crypto::ValueKey> key = keyFor(*options, *platform, false);
    if (!key) return 1;
    const std::string value = options->value == "-" ? standardInputValue() : options->value;
    const std::optional<std::string> text = crypto::revealValue(*key, value);
    if (!text) {
        std::fputs("talve-pack: the key does not fit this value, or the value is damaged\n", stderr);
        return 1;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

int runCheckSilentCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv)) return std::fputs(checkUsage, stdout), 0;
    std::string key, file;
    if (argc == 4 && std::strcmp(argv[1], "--key") == 0) {
        key = argv[2];
        file = argv[3];
    } else if (argc == 2) {
        file = argv[1];
    } else {
        return std::fputs(checkUsage, stderr), 2;
    }
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    BootstrapContext context(*platform);
    context.keyValue = key;
    const int result = readSilentFile(context, file);
    std::printf("result %d: %s\n", result, resultMeaning(result));
    return result == silentFileWithoutKey || result == silentFileWithKey ? 0 : 1;
}

} // namespace pack
} // namespace talve
