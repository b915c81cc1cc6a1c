#include "common/decimal.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

#include <vector>

namespace talve {

namespace {
constexpr std::size_t copyBufferSize = 8192;
// Large stream buffers keep the 8 KiB copy steps from turning into 8 KiB
// system calls; extraction then runs at the speed of a plain file copy.
constexpr std::size_t streamBufferSize = 1 << 20;
} // namespace

bool JarExtractor::extractFile(std::uint32_t position, std::uint32_t length, const std::string& fileName) {
    context_.logDebug("In JarExtractor::extractFile method");
    char buffer[copyBufferSize] = {};
    context_.platform().seek(file_, position);

    std::FILE* output = context_.platform().createPrivateFile(fileName);
    if (output == nullptr) {
        context_.logError("The file \"" + fileName + "\" was not opened.");
        return false;
    }
    std::vector<char> outputBuffer(streamBufferSize);
    std::setvbuf(output, outputBuffer.data(), _IOFBF, outputBuffer.size());

    std::uint32_t remaining = length;
    const char* failure = nullptr;
    while (failure == nullptr) {
        std::size_t wanted = remaining < copyBufferSize ? remaining : copyBufferSize;
        std::size_t got = wanted == 0 ? 0 : std::fread(buffer, 1, wanted, file_);
        if (wanted > 0 && got == 0) {
            failure = "Failed in fread function";
            break;
        }
        if (std::fwrite(buffer, 1, got, output) < got) {
            failure = "Failed to write the total amount of read bytes.";
            break;
        }
        remaining -= static_cast<std::uint32_t>(got);
        if (wanted < copyBufferSize) {
            // The last, partial chunk must come whole: a short read there means the file ended early.
            if (got < wanted) failure = "Failed in fread function";
            break;
        }
    }
    // A write that only fails when the buffer is flushed must fail the extraction too.
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
