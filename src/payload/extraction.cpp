#include "common/decimal.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

#include <cstdio>

namespace talve {

bool JarExtractor::extractFile(std::uint32_t position, std::uint32_t length, const std::string& fileName) {
    context_.logDebug("In JarExtractor::extractFile method");
    std::FILE* output = context_.platform().createPrivateFile(fileName);
    if (output == nullptr) {
        context_.logError("The file \"" + fileName + "\" was not opened.");
        return false;
    }
    const CopyStatus copy = context_.platform().copyFileRange(file_, position, output, length);
    const char* failure = nullptr;
    if (copy == CopyStatus::readFailed) failure = "Failed in fread function";
    if (copy == CopyStatus::writeFailed) failure = "Failed to write the total amount of read bytes.";
    // A write that only fails when the stream is flushed must fail the extraction too.
    if (std::fclose(output) != 0 && failure == nullptr) failure = "Failed to write the total amount of read bytes.";
    if (failure != nullptr) {
        context_.logError(failure);
        return false;
    }
    return true;
}

bool JarExtractor::checkTemporaryDiskSpace() {
    context_.logInfo("Checking temporary disk space requirements in " + context_.tempDir);
    std::int64_t free = context_.getDiskSpace(context_.tempDir);
    if (free < 1) free = 1;

    const BootstrapEntry& splash = entries_[table::splashEntry];
    const BootstrapEntry& jvm = entries_[table::jvmEntry];
    const BootstrapEntry& jar = entries_[table::jarEntry];
    const BootstrapEntry& data = entries_[table::dataEntry];
    const BootstrapEntry& checkingJar = entries_[table::jvmCheckingJarEntry];
    const BootstrapEntry& requirement = entries_[table::requirementEntry];

    std::int64_t needed = 0;
    if (checkingJar.present()) needed += megabytesOf(requirement.diskspace) + megabytesOf(checkingJar.diskspace) + 1;
    if (jvm.present()) needed += megabytesOf(static_cast<std::uint64_t>(jvm.diskspace) + jvm.length) + 1;
    if (jar.present()) needed += megabytesOf(jar.length) + 1;
    if (data.present()) needed += megabytesOf(data.length) + parseDecimal(data.data1) + 1;
    if (splash.present()) needed += megabytesOf(splash.diskspace) + 1;

    if (free < needed) {
        context_.logError("There isn't enough space in the temporary directory (" + context_.tempDir +
                          ") to launch the installer");
        context_.logError(std::to_string(needed) + " Mb are required but only " + std::to_string(free) +
                          " Mb are available.");
        return false;
    }
    context_.logInfo("Temporary disk space requirements successfully checked (" + std::to_string(needed) +
                     " Mb are required)");
    return true;
}

} // namespace talve
