#pragma once

#include "payload/bootstrap_entry.h"

#include <array>
#include <cstdint>
#include <string>

namespace talve {
namespace test {

// Composes installer files the way talve-pack lays them out: a zero-filled
// stand-in for the launcher up to the marker, the marker, the eight rows,
// then the payloads back to back.
class InstallerBuilder {
public:
    explicit InstallerBuilder(std::uint64_t markerOffset = 2048);

    // Rows may also be filled by hand, for sizes no test wants to write out.
    BootstrapEntry& row(int index) { return rows_[index]; }
    // Puts content behind the table and points the row at it.
    InstallerBuilder& payload(int index, const std::string& content, const std::string& filename = "");
    std::uint64_t endOfTable() const;

    std::string bytes() const;
    // Writes the file, extended with zeros (sparsely where the file system
    // can) up to minimumSize.
    void write(const std::string& path, std::uint64_t minimumSize = 0) const;

private:
    std::uint64_t markerOffset_;
    std::array<BootstrapEntry, 8> rows_;
    std::string payloads_;
};

} // namespace test
} // namespace talve
