#include "output_file.h"

#include "writer_files.h"

#include <chrono>
#include <memory>
#include <system_error>

namespace talve {
namespace files {
namespace fs = std::filesystem;

namespace {

// Names are tried until one is free; a name taken by anyone else, a link
// included, is never used.
constexpr int kNameAttempts = 100;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

OutputFile::OutputFile(const fs::path& finalPath) : final_(finalPath) {}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::open(std::string& error) {
    const auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::string problem;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        fs::path candidate = final_;
        candidate += ".partial-" + std::to_string((stamp + static_cast<unsigned long long>(attempt)) % 1000000007u);
        bool exists = false;
        file_ = createNewFile(candidate, exists, problem);
        if (file_ != nullptr) {
            private_ = candidate;
            return true;
        }
        if (!exists) break;
    }
    error = "cannot create " + final_.u8string() + ": " + problem;
    return false;
}

bool OutputFile::write(const std::string& bytes, std::string& error) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size()) return true;
    error = final_.u8string() + ": write error (disk full?)";
    return false;
}

bool OutputFile::commit(std::string& error) {
    const bool flushed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed) {
        error = final_.u8string() + ": write error (disk full?)";
        discard();
        return false;
    }
    std::string problem;
    if (!replaceFile(private_, final_, problem)) {
        error = final_.u8string() + ": cannot be written: " + problem;
        discard();
        return false;
    }
    private_.clear();
    return true;
}

void OutputFile::discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (private_.empty()) return;
    std::error_code ignored;
    fs::remove(private_, ignored);
    private_.clear();
}

bool readRegularFile(const fs::path& path, std::uint64_t limit, std::string& content, std::string& error) {
    std::uint64_t size = 0;
    std::string problem;
    std::unique_ptr<std::FILE, FileCloser> file(openRegularFile(path, size, problem));
    if (!file) {
        error = path.u8string() + ": cannot be read: " + problem;
        return false;
    }
    if (size > limit) {
        error = path.u8string() + ": too large (" + std::to_string(size) + " bytes, at most " + std::to_string(limit) +
                " can be carried)";
        return false;
    }
    content.resize(static_cast<std::size_t>(size));
    if (size > 0 && std::fread(&content[0], 1, content.size(), file.get()) != content.size()) {
        error = path.u8string() + ": read error";
        return false;
    }
    return true;
}

} // namespace files
} // namespace talve
