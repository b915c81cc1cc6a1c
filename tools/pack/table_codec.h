#pragma once

#include "payload/bootstrap_entry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace talve {
namespace pack {

using EntryBytes = std::array<unsigned char, 64>;

EntryBytes encodeEntry(const BootstrapEntry& entry);
BootstrapEntry decodeEntry(const EntryBytes& bytes);

struct TableLocation {
    std::uint64_t markerOffset = 0;
    std::array<BootstrapEntry, 8> entries;
    bool complete = false; // false: the file ends inside the table
};

// Looks for the table on 1,024-byte boundaries, as the launcher does.
std::optional<TableLocation> findTable(const std::string& path, std::string& error);

} // namespace pack
} // namespace talve
