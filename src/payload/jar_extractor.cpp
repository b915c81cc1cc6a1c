#include "payload/jar_extractor.h"

#include "payload/bootstrap_table_format.h"
#include "payload/pe_image.h"
#include "platform/bootstrap_context.h"
#include "splash/splash_runner.h"


namespace talve {

namespace {
const char* const entryNames[table::entryCount] = {
    "splash", "jvm", "jar", "data", "usage", "jvm checking jar", "requirement file", "arguments validation",
};

std::string textField(const char* bytes, std::size_t width) {
    std::size_t length = 0;
    while (length < width && bytes[length] != '\0') ++length;
    return std::string(bytes, length);
}
} // namespace

JarExtractor::JarExtractor(BootstrapContext& context) : context_(context) {}

JarExtractor::~JarExtractor() {
    if (file_ != nullptr) std::fclose(file_);
}

const BootstrapEntry* JarExtractor::entry(int index) const {
    if (index < 0 || index >= static_cast<int>(table::entryCount)) return nullptr;
    return &entries_[index];
}

bool JarExtractor::open(const std::string& installerPath) {
    context_.logDebug("Opening installer file : " + installerPath);
    file_ = context_.platform().openForReading(installerPath);
    if (file_ == nullptr) {
        context_.logError("An error occured while trying to open the installer.");
        return false;
    }
    context_.lastResult = 0;
    if (!findMarker(installerPath)) {
        context_.logError("Unable to locate the bootstrap table. Please check that the installer was properly copied.");
        return false;
    }
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        context_.logDebug(std::string("Reading ") + entryNames[i] + " entry");
        if (!readEntry(entries_[i])) {
            context_.logError("The installer file " + installerPath +
                              " is damaged: its bootstrap table is cut short. Please check that the installer was "
                              "properly copied.");
            return false;
        }
    }
    if (!payloadsWithinFile(installerPath) || !payloadNamesArePlain(installerPath)) return false;
    context_.lastResult = 0;
    return true;
}

// The command line's reader has searched the same file already: its find
// is checked in place rather than searched for again.
bool JarExtractor::findMarker(const std::string& installerPath) {
    Platform& platform = context_.platform();
    std::optional<std::uint64_t> offset;
    if (context_.markerFile == installerPath && platform.seek(file_, context_.markerOffset) && table::markerAt(file_))
        offset = context_.markerOffset;
    if (!offset) {
        if (!platform.seek(file_, 0)) return false;
        offset = table::findMarker(file_);
    }
    if (!offset) return false;
    context_.markerFile = installerPath;
    context_.markerOffset = *offset;
    tableEnd_ = *offset + table::markerSize + table::entryCount * table::entrySize;
    return platform.seek(file_, *offset + table::markerSize);
}

std::int32_t JarExtractor::readLong() {
    context_.logDebug("In JarExtractor::readLong method");
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int byte = std::fgetc(file_);
        value |= static_cast<std::uint32_t>(byte & 0xFF) << shift;
    }
    return static_cast<std::int32_t>(value);
}

bool JarExtractor::readEntry(BootstrapEntry& row) {
    row = BootstrapEntry();
    char id[table::idWidth], filename[table::filenameWidth], data1[table::data1Width], data2[table::data2Width];
    bool complete = std::fread(id, 1, sizeof id, file_) == sizeof id;
    row.position = static_cast<std::uint32_t>(readLong());
    row.length = static_cast<std::uint32_t>(readLong());
    row.diskspace = static_cast<std::uint32_t>(readLong());
    complete = complete && !std::feof(file_);
    complete = complete && std::fread(filename, 1, sizeof filename, file_) == sizeof filename;
    complete = complete && std::fread(data1, 1, sizeof data1, file_) == sizeof data1;
    complete = complete && std::fread(data2, 1, sizeof data2, file_) == sizeof data2;
    if (!complete) return false;
    row.id = textField(id, sizeof id);
    row.filename = textField(filename, sizeof filename);
    row.data1 = textField(data1, sizeof data1);
    row.data2 = textField(data2, sizeof data2);

    context_.logDebug("ID        : " + row.id);
    context_.logDebug("position  : " + std::to_string(static_cast<std::int32_t>(row.position)));
    context_.logDebug("length    : " + std::to_string(static_cast<std::int32_t>(row.length)));
    context_.logDebug("diskspace : " + std::to_string(static_cast<std::int32_t>(row.diskspace)));
    context_.logDebug("filename  : " + row.filename);
    context_.logDebug("data1     : " + row.data1);
    context_.logDebug("data2     : " + row.data2);
    return true;
}

// A damaged download must fail here, before anything is extracted, rather
// than unpack whatever lies past the end of the file. Payloads follow the
// table back to back: one that starts in the launcher or the table, or
// shares bytes with another, comes from a damaged table, and extracting it
// would hand the installer bytes that are not its own.
bool JarExtractor::payloadsWithinFile(const std::string& installerPath) {
    std::optional<std::uint64_t> size = context_.platform().fileSize(file_);
    const std::optional<std::uint64_t> signedEnd = signatureStart();
    if (signedEnd && tableEnd_ > *signedEnd) {
        context_.logError("The installer file " + installerPath +
                          " is damaged: its bootstrap table lies in or after its signature, which starts at offset " +
                          std::to_string(*signedEnd) + ". Please check that the installer was properly copied.");
        return false;
    }
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        const BootstrapEntry& row = entries_[i];
        if (!row.present()) continue;
        const std::uint64_t end = static_cast<std::uint64_t>(row.position) + row.length;
        // Named by its place in the table: the id bytes of a damaged file mean nothing.
        std::string fault;
        if (size && end > *size) fault = "lies beyond the end of the file";
        if (fault.empty() && row.position < tableEnd_) fault = "starts before the end of the bootstrap table";
        if (fault.empty() && signedEnd && end > *signedEnd)
            fault = "reaches into its signature, which starts at offset " + std::to_string(*signedEnd);
        for (std::size_t j = 0; fault.empty() && j < i; ++j) {
            const BootstrapEntry& other = entries_[j];
            const std::uint64_t otherEnd = static_cast<std::uint64_t>(other.position) + other.length;
            if (other.present() && row.length != 0 && other.length != 0 && row.position < otherEnd &&
                other.position < end)
                fault = std::string("overlaps the ") + entryNames[j] + " payload";
        }
        if (!fault.empty()) {
            context_.logError("The installer file " + installerPath + " is damaged: the " + entryNames[i] +
                              " payload " + fault + ". Please check that the installer was properly copied.");
            return false;
        }
    }
    return true;
}

// Bytes after the start of a signature are not covered by it: anyone can
// append or change them without breaking the signature, so no payload may
// come from there. A program without a certificate table (every unsigned
// installer, every ELF) sets no bound.
std::optional<std::uint64_t> JarExtractor::signatureStart() {
    std::string head(pe::headerReadLimit, '\0');
    if (!context_.platform().seek(file_, 0)) return std::nullopt;
    head.resize(std::fread(&head[0], 1, head.size(), file_));
    const pe::Headers headers = pe::readHeaders(head);
    if (headers.kind != pe::Kind::Image || !headers.layout.certificates) return std::nullopt;
    return headers.layout.certificates->offset;
}

// Checked for every row before any is extracted: a name that leads out of
// the run's directory would put a file where the clean-up never reaches.
bool JarExtractor::payloadNamesArePlain(const std::string& installerPath) {
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        const BootstrapEntry& row = entries_[i];
        if (!row.present() || row.filename.empty() || table::isPlainFileName(row.filename)) continue;
        // A line feed in the name must not start a log line of its own.
        std::string shown = row.filename;
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 32) c = '?';
        context_.logError("The installer file " + installerPath + " is damaged: the " + entryNames[i] +
                          " payload is named \"" + shown +
                          "\", which is not a plain file name. Please check that the installer was properly copied.");
        return false;
    }
    return true;
}

bool JarExtractor::readPayload(const BootstrapEntry& row, std::size_t limit, std::string& content) {
    content.clear();
    if (row.length >= limit || !context_.platform().seek(file_, row.position)) return false;
    content.resize(row.length);
    std::size_t got = row.length == 0 ? 0 : std::fread(&content[0], 1, row.length, file_);
    content.resize(got);
    return got > 0;
}

} // namespace talve
