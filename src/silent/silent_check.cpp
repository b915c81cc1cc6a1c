#include "common/text_lines.h"
#include "crypto/protected_value.h"
#include "platform/bootstrap_context.h"
#include "platform/file_read_problem.h"
#include "silent/masked_key.h"
#include "silent/silent_file.h"

#include <cctype>
#include <optional>
#include <set>

namespace talve {

namespace {
constexpr std::size_t lineBufferSize = 8192;
// Far beyond any list of answers, and small enough to hold in memory.
constexpr std::size_t silentFileLimit = 16u << 20;
const std::string encryptedSuffix = ".encrypted";

// The derivation is slow on purpose: one per run, however many values and
// readings of the file need the key.
const crypto::ValueKey* userKeyFor(const std::string& keyText) {
    static std::string derivedFor;
    static std::optional<crypto::ValueKey> derived;
    if (!derived || derivedFor != keyText) {
        derived = crypto::userValueKey(keyText);
        derivedFor = keyText;
    }
    return derived ? &*derived : nullptr;
}

void logDamagedValue(BootstrapContext& context, const std::string& key, const std::string& value) {
    context.logError("Incorrect value for property [" + key + "] : [" + value + "].");
}

std::string trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
} // namespace

int readSilentFile(BootstrapContext& context, const std::string& path) {
    if (path.empty()) return silentFileMissing;
    const FileRead file = context.platform().readRegularFile(path, silentFileLimit);
    if (file.status != FileReadStatus::ok) {
        // Reported as not found, as ever; this line tells what was there instead.
        if (file.status != FileReadStatus::missing)
            context.logError(fileReadProblem(path, file.status, silentFileLimit));
        return silentFileMissing;
    }

    std::set<std::string> names;
    std::string tag, tagProperty;
    const crypto::ValueKey* keyAtHand = nullptr;
    // A CR before the line feed counts towards the limit on every system, as
    // in the installer library, and goes with the trimming: one file, one
    // meaning, wherever it is read.
    for (const std::string& rawLine : linesFittingBuffer(file.content, lineBufferSize)) {
        const std::string line = trimmed(rawLine);
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        const bool encrypted = endsWith(key, encryptedSuffix);
        const std::string name = encrypted ? key.substr(0, key.size() - encryptedSuffix.size()) : key;

        context.logDebug("checking duplicates for key : " + name);
        if (!names.insert(name).second) {
            context.logError("Duplicates keys [" + name + "] were found in the silent file");
            return silentFileDuplicate;
        }
        if (!encrypted || value.empty()) continue;
        if (value.size() < crypto::shortestValue) {
            context.logError("Incorrect value for property [" + key + "] : [" + value + "] is too short.");
            return silentFileValueTooShort;
        }
        if (!crypto::hasValidCheckCharacter(value)) {
            logDamagedValue(context, key, value);
            return silentFileBadCheckCharacter;
        }
        const std::string valueTag = value.substr(0, crypto::valueTagLength);
        // The program's key is always at hand: a value of it that does not
        // authenticate was altered, and the jar would get a wrong answer.
        if (valueTag == crypto::programKeyTag) {
            static const crypto::ValueKey programKey = crypto::programValueKey();
            if (!crypto::keyFitsValue(programKey, value)) {
                logDamagedValue(context, key, value);
                return silentFileBadCheckCharacter;
            }
            continue;
        }
        if (!tag.empty()) {
            if (valueTag != tag) {
                context.logError("Key for property [" + key + "] does not match the one used for property [" +
                                 tagProperty + "]\n");
                return silentFileMixedKeys;
            }
            // The key fitted the first value: this one was altered.
            if (keyAtHand && !crypto::keyFitsValue(*keyAtHand, value)) {
                logDamagedValue(context, key, value);
                return silentFileBadCheckCharacter;
            }
            continue;
        }
        if (!context.keyValue.empty()) {
            keyAtHand = userKeyFor(context.keyValue);
            if (!keyAtHand || !crypto::keyFitsValue(*keyAtHand, value)) {
                context.logError("Incorrect key.");
                return silentFileWrongKey;
            }
        }
        tag = valueTag;
        tagProperty = key;
    }
    return tag.empty() ? silentFileWithoutKey : silentFileWithKey;
}

bool BootstrapContext::checkSilentFile() {
    if (!silentMode) return false;
    // Values can only have been made with keys that keep the rule, and the
    // installer library refuses any other: say so before anything runs.
    if (!keyValue.empty()) {
        if (const char* problem = keyRuleProblem(keyValue)) {
            logError(std::string("The key given with -key cannot be used: ") + problem + ".");
            return false;
        }
    }
    const bool named = hasEnvironment("TALVE_SILENT_PROPERTIES");
    const std::string path = named ? environmentValue("TALVE_SILENT_PROPERTIES") : std::string();
    switch (readSilentFile(*this, path)) {
    case silentFileWithoutKey:
        return true;
    case silentFileWithKey:
        if (keyValue.empty()) {
            showConsole();
            const MaskedEntry entry = readMaskedKey(platform_, "Some properties are encrypted.\n\tEnter key : ");
            freeConsole();
            if (entry.text.empty()) {
                logError("No key was provided. The installer will exit.");
                return false;
            }
            keyValue = entry.text;
            const int withKey = readSilentFile(*this, path);
            if (withKey != silentFileWithKey) {
                // A value found altered only now has been named by the reading.
                if (withKey != silentFileBadCheckCharacter) logError("A wrong key has been provided.");
                return false;
            }
        }
        // The installer cannot read its answers without the key.
        return exportRecordKey();
    case silentFileMissing:
        if (named)
            logError("The silent file [" + path + "] was not found.\n");
        else
            logError("No silent file was specified.");
        return false;
    case silentFileDuplicate:
        logError("The provided silent file [" + path + "] contains duplicate keys.");
        logError("Please remove the duplicate keys and launch your installer again.");
        return false;
    default:
        return false;
    }
}

} // namespace talve
