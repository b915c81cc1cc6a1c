#include "unit/support/installer_builder.h"

#include "pack/table_codec.h"
#include "payload/bootstrap_table_format.h"
#include "unit/support/scratch_directory.h"

#include <filesystem>

namespace talve {
namespace test {

InstallerBuilder::InstallerBuilder(std::uint64_t markerOffset) : markerOffset_(markerOffset) {}

std::uint64_t InstallerBuilder::endOfTable() const {
    return markerOffset_ + table::markerSize + table::entryCount * table::entrySize;
}

InstallerBuilder& InstallerBuilder::payload(int index, const std::string& content, const std::string& filename) {
    BootstrapEntry& entry = rows_[index];
    entry.position = static_cast<std::uint32_t>(endOfTable() + payloads_.size());
    entry.length = static_cast<std::uint32_t>(content.size());
    entry.diskspace = entry.length;
    if (!filename.empty()) entry.filename = filename;
    payloads_ += content;
    return *this;
}

std::string InstallerBuilder::bytes() const {
    std::string file(markerOffset_, '\0');
    file += table::buildMarker();
    for (const BootstrapEntry& entry : rows_) {
        pack::EntryBytes encoded = pack::encodeEntry(entry);
        file.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    }
    return file + payloads_;
}

void InstallerBuilder::write(const std::string& path, std::uint64_t minimumSize) const {
    writeFile(path, bytes());
    if (std::filesystem::file_size(path) < minimumSize) std::filesystem::resize_file(path, minimumSize);
}

} // namespace test
} // namespace talve
