#include "table_codec.h"

#include "payload/bootstrap_table_format.h"
#include "writer_files.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace talve {
namespace pack {

namespace {
void putText(EntryBytes& bytes, std::size_t offset, std::size_t width, const std::string& text) {
    std::memcpy(bytes.data() + offset, text.data(), text.size() < width ? text.size() : width);
}

void putNumber(EntryBytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string getText(const EntryBytes& bytes, std::size_t offset, std::size_t width) {
    const char* start = reinterpret_cast<const char*>(bytes.data() + offset);
    std::size_t length = 0;
    while (length < width && start[length] != '\0') ++length;
    return std::string(start, length);
}

std::uint32_t getNumber(const EntryBytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
} // namespace

EntryBytes encodeEntry(const BootstrapEntry& entry) {
    EntryBytes bytes{};
    putText(bytes, table::idOffset, table::idWidth, entry.id);
    putNumber(bytes, table::positionOffset, entry.position);
    putNumber(bytes, table::lengthOffset, entry.length);
    putNumber(bytes, table::diskspaceOffset, entry.diskspace);
    putText(bytes, table::filenameOffset, table::filenameWidth, entry.filename);
    putText(bytes, table::data1Offset, table::data1Width, entry.data1);
    putText(bytes, table::data2Offset, table::data2Width, entry.data2);
    return bytes;
}

BootstrapEntry decodeEntry(const EntryBytes& bytes) {
    BootstrapEntry entry;
    entry.id = getText(bytes, table::idOffset, table::idWidth);
    entry.position = getNumber(bytes, table::positionOffset);
    entry.length = getNumber(bytes, table::lengthOffset);
    entry.diskspace = getNumber(bytes, table::diskspaceOffset);
    entry.filename = getText(bytes, table::filenameOffset, table::filenameWidth);
    entry.data1 = getText(bytes, table::data1Offset, table::data1Width);
    entry.data2 = getText(bytes, table::data2Offset, table::data2Width);
    return entry;
}

std::optional<TableLocation> findTable(const std::string& path, std::string& error) {
    std::uint64_t size = 0;
    std::string problem;
    std::unique_ptr<std::FILE, FileCloser> file(files::openRegularFile(std::filesystem::u8path(path), size, problem));
    if (!file) {
        error = path + ": cannot be read: " + problem;
        return std::nullopt;
    }
    std::optional<std::uint64_t> offset = table::findMarker(file.get());
    if (offset && std::fseek(file.get(), static_cast<long>(*offset + table::markerSize), SEEK_SET) == 0) {
        TableLocation location;
        location.markerOffset = *offset;
        std::string rest(table::entryCount * table::entrySize, '\0');
        rest.resize(std::fread(&rest[0], 1, rest.size(), file.get()));
        location.complete = rest.size() == table::entryCount * table::entrySize;
        for (std::size_t i = 0; i < table::entryCount && (i + 1) * table::entrySize <= rest.size(); ++i) {
            EntryBytes bytes;
            std::memcpy(bytes.data(), rest.data() + i * table::entrySize, table::entrySize);
            location.entries[i] = decodeEntry(bytes);
        }
        return location;
    }
    error = path + ": no bootstrap table found (not an installer made by talve-pack, or damaged)";
    return std::nullopt;
}

} // namespace pack
} // namespace talve
