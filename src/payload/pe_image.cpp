#include "payload/pe_image.h"

#include <algorithm>

namespace talve {
namespace pe {
namespace {

constexpr std::size_t headerPointerOffset = 0x3c;
constexpr std::size_t coffHeaderSize = 20;
constexpr std::uint16_t pe32Magic = 0x10b;
constexpr std::uint16_t pe32PlusMagic = 0x20b;
constexpr std::size_t securityDirectoryIndex = 4;
constexpr std::size_t sectionHeaderSize = 40;

bool holds(const std::string& bytes, std::size_t offset, std::size_t width) {
    return offset <= bytes.size() && width <= bytes.size() - offset;
}

Headers damaged(const std::string& problem) {
    Headers headers;
    headers.kind = Kind::Damaged;
    headers.problem = problem;
    return headers;
}

// Section headers beyond the bytes read count for their place in the table
// only: the launcher reads a bounded head of its file.
std::uint64_t programEnd(const std::string& head, std::size_t coff, std::size_t optional, std::size_t optionalSize) {
    const std::size_t sections = readLittleEndian(head, coff + 2, 2);
    const std::size_t table = optional + optionalSize;
    std::uint64_t end = table + static_cast<std::uint64_t>(sections) * sectionHeaderSize;
    if (holds(head, optional + 60, 4)) end = std::max<std::uint64_t>(end, readLittleEndian(head, optional + 60, 4));
    for (std::size_t i = 0; i < sections && holds(head, table + i * sectionHeaderSize, sectionHeaderSize); ++i) {
        const std::size_t section = table + i * sectionHeaderSize;
        const std::uint64_t rawSize = readLittleEndian(head, section + 16, 4);
        const std::uint64_t rawStart = readLittleEndian(head, section + 20, 4);
        if (rawSize != 0) end = std::max(end, rawStart + rawSize);
    }
    return end;
}

} // namespace

std::uint32_t readLittleEndian(const std::string& bytes, std::size_t offset, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

Headers readHeaders(const std::string& head) {
    Headers headers;
    if (!holds(head, 0, 2) || head.compare(0, 2, "MZ") != 0) {
        headers.problem = "no MZ header";
        return headers;
    }
    if (!holds(head, headerPointerOffset, 4)) return damaged("the MS-DOS header is cut short");
    const std::size_t peHeader = readLittleEndian(head, headerPointerOffset, 4);
    if (!holds(head, peHeader, 4) || head.compare(peHeader, 4, std::string("PE\0\0", 4)) != 0) {
        headers.problem = "an MS-DOS program without a PE header";
        return headers;
    }
    const std::size_t coff = peHeader + 4;
    if (!holds(head, coff, coffHeaderSize)) return damaged("the file header is cut short");
    const std::size_t optionalSize = readLittleEndian(head, coff + 16, 2);
    const std::size_t optional = coff + coffHeaderSize;
    if (!holds(head, optional, optionalSize) || optionalSize < 2)
        return damaged("the optional header is cut short");

    const std::uint32_t magic = readLittleEndian(head, optional, 2);
    if (magic != pe32Magic && magic != pe32PlusMagic) return damaged("an optional header of unknown format");
    Layout& layout = headers.layout;
    layout.pe32Plus = magic == pe32PlusMagic;
    // The fields up to the checksum have the same widths in both formats;
    // PE32+ widens four later ones, which moves the data directories.
    layout.optionalHeaderOffset = optional;
    layout.checksumOffset = optional + 64;
    layout.sectionTableOffset = optional + optionalSize;
    layout.sectionCount = static_cast<std::uint16_t>(readLittleEndian(head, coff + 2, 2));
    const std::size_t countOffset = optional + (layout.pe32Plus ? 108 : 92);
    if (countOffset + 4 > optional + optionalSize) return damaged("the optional header is cut short");
    const std::uint32_t directoryCount = readLittleEndian(head, countOffset, 4);
    layout.directoriesOffset = countOffset + 4;
    layout.directoryCount = directoryCount;
    const std::size_t entry = countOffset + 4 + securityDirectoryIndex * securityEntrySize;
    if (directoryCount > securityDirectoryIndex && entry + securityEntrySize <= optional + optionalSize) {
        layout.securityEntryOffset = entry;
        const CertificateTable table{readLittleEndian(head, entry, 4), readLittleEndian(head, entry + 4, 4)};
        if (table.offset != 0 || table.size != 0) layout.certificates = table;
    }
    layout.programEnd = programEnd(head, coff, optional, optionalSize);
    headers.kind = Kind::Image;
    return headers;
}

std::string certificateProblem(const CertificateTable& table, std::uint64_t fileSize, std::uint64_t programEnd) {
    const std::uint64_t end = static_cast<std::uint64_t>(table.offset) + table.size;
    if (table.offset == 0 || table.size == 0)
        return "the certificate table is empty (offset " + std::to_string(table.offset) + ", " +
               std::to_string(table.size) + " bytes)";
    if (table.offset < programEnd)
        return "the certificate table (offset " + std::to_string(table.offset) + ", " + std::to_string(table.size) +
               " bytes) starts inside the program, whose headers and sections end at offset " +
               std::to_string(programEnd);
    if (end > fileSize)
        return "the certificate table (offset " + std::to_string(table.offset) + ", " + std::to_string(table.size) +
               " bytes) reaches beyond the end of the file (" + std::to_string(fileSize) + " bytes)";
    if (end != fileSize)
        return "the certificate table (offset " + std::to_string(table.offset) + ", " + std::to_string(table.size) +
               " bytes) is not at the end of the file: " + std::to_string(fileSize - end) + " bytes follow it";
    return "";
}

std::uint32_t checksum(const std::string& bytes, std::size_t checksumOffset) {
    RunningChecksum sum;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t fieldStart = std::min(checksumOffset, bytes.size());
    const std::size_t fieldEnd = std::min(checksumOffset + 4, bytes.size());
    const unsigned char zeros[4] = {};
    sum.add(data, fieldStart);
    sum.add(zeros, fieldEnd - fieldStart);
    sum.add(data + fieldEnd, bytes.size() - fieldEnd);
    return sum.value();
}

void RunningChecksum::add(const unsigned char* bytes, std::size_t size) {
    size_ += size;
    std::size_t i = 0;
    if (size > 0 && pendingLow_ >= 0) {
        sum_ += static_cast<std::uint32_t>(pendingLow_) | (static_cast<std::uint32_t>(bytes[0]) << 8);
        pendingLow_ = -1;
        i = 1;
    }
    for (; i + 1 < size; i += 2) sum_ += bytes[i] | (static_cast<std::uint32_t>(bytes[i + 1]) << 8);
    if (i < size) pendingLow_ = bytes[i];
}

std::uint32_t RunningChecksum::value() const {
    std::uint64_t sum = sum_ + (pendingLow_ >= 0 ? static_cast<std::uint64_t>(pendingLow_) : 0);
    while (sum > 0xffff) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + size_);
}

void writeLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

void writeLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    writeLittleEndian(bytes, offset, value, 4);
}

} // namespace pe
} // namespace talve
