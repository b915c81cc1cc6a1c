#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace talve {
namespace pack {

// One payload of an installer: a file, kept open from the moment its size
// goes into the table until its bytes are copied, or bytes the packer made.
class PayloadSource {
public:
    PayloadSource() = default;
    ~PayloadSource();
    PayloadSource(const PayloadSource&) = delete;
    PayloadSource& operator=(const PayloadSource&) = delete;

    // Regular files only; at most `limit` bytes. `error` names the file.
    bool openFile(const std::string& path, std::uint64_t limit, std::string& error);
    void setBytes(std::string bytes);

    bool present() const { return present_; }
    std::uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }
    // The open file, or null for bytes the packer made.
    std::FILE* file() const { return file_; }
    const std::string& bytes() const { return bytes_; }

private:
    bool present_ = false;
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string bytes_;
    std::uint64_t size_ = 0;
};

// Where a payload that follows `end` starts: on a 4 KiB boundary of the
// installer file, so that the launcher can have the file system share the
// payload's blocks with the extracted file instead of copying them.
std::uint64_t payloadStart(std::uint64_t end);

// Writes `head` (the launcher, its padding, the marker and the rows), then
// each present payload at positions[i], zeros in between. Files are copied
// in bounded memory, by the system where it can; when `head` is a Windows
// program its checksum is computed over the whole file as it is written.
bool writeInstaller(const std::filesystem::path& output, const std::string& head, const PayloadSource* payloads,
                    const std::uint64_t* positions, std::size_t count, std::string& error);

} // namespace pack
} // namespace talve
