#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace talve {
namespace files {

// An output written under a private name in its own folder and put in
// place only once complete. Whatever had the final name before (a file, a
// link planted there) is replaced, never written through, and a failed or
// abandoned output leaves nothing behind.
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& finalPath);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(std::string& error);
    std::FILE* stream() const { return file_; }
    bool write(const std::string& bytes, std::string& error);
    // Closes the file, which surfaces delayed write errors such as a full
    // disk, and renames it over the final name.
    bool commit(std::string& error);

private:
    void discard();

    std::filesystem::path final_;
    std::filesystem::path private_;
    std::FILE* file_ = nullptr;
};

// Reads a whole regular file of at most `limit` bytes.
bool readRegularFile(const std::filesystem::path& path, std::uint64_t limit, std::string& content,
                     std::string& error);

} // namespace files
} // namespace talve
