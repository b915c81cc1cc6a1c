#include "jvm/product_record.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

#include <optional>

namespace talve {

namespace {

// Bytes, terminator included, of the buffers the search formats its paths
// into. A path that would not fit is passed over as not found: cut short,
// it would name some other directory.
constexpr std::size_t resultBuffer = 260;
constexpr std::size_t patternBuffer = 1000;
constexpr std::size_t recordPathBuffer = 2048;
constexpr std::size_t recordDirectoryBuffer = 1001;
// Records hold one line that matters; anything this large is not one.
constexpr std::size_t recordFileLimit = 1 << 20;

const std::string recordExtension = ".talve";

bool fits(const std::string& text, std::size_t buffer) { return text.size() < buffer; }

bool isRecordName(const std::string& name) {
    return name.size() >= recordExtension.size() &&
           name.compare(name.size() - recordExtension.size(), recordExtension.size(), recordExtension) == 0;
}

const char* textOrNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

// The folder "talve" in the system folder an environment variable names,
// with a separator after it; the fallback where the variable is not set.
std::optional<std::string> standardRecordDirectory(BootstrapContext& context, const std::string& variable,
                                                   const std::string& fallback) {
    const std::optional<std::string> base = context.platform().getEnvironment(variable);
    if (!base) return fallback.empty() ? std::nullopt : std::optional<std::string>(fallback);
    const std::string directory = *base + context.pathSeparator + "talve" + context.pathSeparator;
    if (!fits(directory, recordDirectoryBuffer)) return std::nullopt;
    return directory;
}

} // namespace

bool JarExtractor::getJVMLocation(std::string& location) {
    context_.logDebug("In JarExtractor::getJVMLocation method");
    if (getJvmFromProductHome(location)) return true;

    const std::optional<std::string> inventory = context_.platform().getEnvironment("KORVU_INVENTORY_LOCATION");
    if (getJvmFromDir(location, textOrNull(inventory))) return true;

    const std::string& fallback = context_.platform().conventions().commonRecordDirectoryFallback;
    const std::optional<std::string> common = standardRecordDirectory(context_, "CommonProgramFiles", fallback);
    if (getJvmFromDir(location, textOrNull(common))) return true;

    const std::optional<std::string> allUsers = standardRecordDirectory(context_, "ALLUSERSPROFILE", "");
    return getJvmFromDir(location, textOrNull(allUsers));
}

bool JarExtractor::getJvmFromProductHome(std::string& location) {
    context_.logDebug("In JarExtractor::getJvmFromProductHome method");
    if (!context_.locationGiven) return false;
    return acceptRuntime(context_.location + context_.pathSeparator + "_jvm", location);
}

bool JarExtractor::getJvmFromDir(std::string& location, const char* directory) {
    context_.logDebug("In JarExtractor::getJvmFromDir method");
    if (directory == nullptr) return false;
    const std::string folder = directory;
    const std::string& separator = context_.pathSeparator;
    context_.logDebug("Analyzing directory : \"" + folder + "\"");
    if (!fits(folder + separator + "*", patternBuffer)) return false;

    // An elevated run would run the java of whoever could plant a record.
    const bool elevated = context_.platform().runsElevated();
    if (elevated && !trustedByElevatedRun("The record folder \"" + folder + "\"",
                                          context_.platform().writableByOthers(folder, true, true)))
        return false;
    const std::optional<std::vector<std::string>> names = context_.platform().listDirectory(folder);
    if (!names) return false;
    for (const std::string& name : *names) {
        if (!isRecordName(name)) continue;
        const std::string recordPath = folder + separator + name;
        if (!fits(recordPath, recordPathBuffer)) continue;
        if (elevated && !trustedByElevatedRun("The product record \"" + recordPath + "\"",
                                              context_.platform().writableByOthers(recordPath, false, false)))
            continue;
        // Regular files only: a FIFO or a device named like a record must not stall the search.
        const FileRead record = context_.platform().readRegularFile(recordPath, recordFileLimit);
        context_.logDebug("talve File : " + recordPath);
        if (record.status != FileReadStatus::ok) continue;
        const std::optional<std::string> home = productHomeOf(record.content);
        if (home && acceptRuntime(*home + separator + "_jvm", location)) return true;
    }
    return false;
}

bool JarExtractor::trustedByElevatedRun(const std::string& what, const std::string& problem) {
    if (problem.empty()) return true;
    context_.logInfo(what + " is not used by a run with administrator rights: " + problem + ".");
    return false;
}

bool JarExtractor::acceptRuntime(const std::string& candidate, std::string& location) {
    const std::string result = candidate + context_.pathSeparator;
    if (!fits(result, resultBuffer) || !isJvmValid(candidate)) return false;
    location = result;
    return true;
}

} // namespace talve
