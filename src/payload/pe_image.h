#pragma once

// The few fields of a Windows program's headers that a signature touches:
// the checksum, the Security data directory entry and the certificate table
// it points at. Plain reading of bytes, so the launcher (which refuses
// payloads outside the signed part of its own file) and talve-pack (which
// strips, lists and compares signatures) read them the same way.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace talve {
namespace pe {

// Headers lie at the start of a program; these many bytes are plenty for
// any linker's output.
constexpr std::size_t headerReadLimit = 64 * 1024;
constexpr std::size_t securityEntrySize = 8;

struct CertificateTable {
    std::uint32_t offset = 0; // a file offset, not an address in memory
    std::uint32_t size = 0;
};

struct Layout {
    bool pe32Plus = false;
    std::size_t optionalHeaderOffset = 0;
    std::size_t checksumOffset = 0;
    // The data directories and the section table, as file offsets; the
    // packer rewrites these when it gives a program new resources.
    std::size_t directoriesOffset = 0;
    std::uint32_t directoryCount = 0;
    std::size_t sectionTableOffset = 0;
    std::uint16_t sectionCount = 0;
    // Where the Security entry lies; none when the header lists too few
    // data directories to hold one.
    std::optional<std::size_t> securityEntryOffset;
    std::optional<CertificateTable> certificates; // the entry is not zero
    // Where the program proper ends in the file: its headers, its section
    // table and the raw data of its sections, as far as the bytes read show
    // them. A certificate table starting before this point overlaps the program.
    std::uint64_t programEnd = 0;
};

enum class Kind {
    NotPe,   // no MZ header, or no PE header behind it: an ELF, a script
    Damaged, // a PE header cut short or of an unknown format
    Image,
};

struct Headers {
    Kind kind = Kind::NotPe;
    std::string problem; // why, for NotPe and Damaged
    Layout layout;
};

// Reads the headers from the first bytes of a file (all of it, or at least
// headerReadLimit bytes of a longer one).
Headers readHeaders(const std::string& head);

// Empty when the table lies inside a file of fileSize bytes, after the
// program (programEnd, see Layout), and ends the file, as every signing tool
// writes it; otherwise what is wrong.
std::string certificateProblem(const CertificateTable& table, std::uint64_t fileSize, std::uint64_t programEnd = 0);

// The checksum the headers should hold for these bytes, the checksum field
// itself counted as zero.
std::uint32_t checksum(const std::string& bytes, std::size_t checksumOffset);

// Integers of 1 to 4 bytes, as every field of these headers is stored; the
// caller has checked that they lie inside `bytes`.
std::uint32_t readLittleEndian(const std::string& bytes, std::size_t offset, int width);
void writeLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value, int width);
// The same checksum over a file fed in pieces of any length, so that a file
// too large for memory need not be held whole; the caller feeds zeros in
// place of the checksum field.
class RunningChecksum {
public:
    void add(const unsigned char* bytes, std::size_t size);
    std::uint32_t value() const;

private:
    // Folding once at the end gives the sum that folding after every word
    // gives: 64 bits hold the words of any file a table can address.
    std::uint64_t sum_ = 0;
    std::uint64_t size_ = 0;
    int pendingLow_ = -1;
};

void writeLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value);

} // namespace pe
} // namespace talve
