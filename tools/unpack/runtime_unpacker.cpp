#include "runtime_unpacker.h"

#include "archive_reader.h"
#include "native.h"
#include "stream_inflater.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <system_error>

namespace talve {
namespace unpack {
namespace fs = std::filesystem;
using archive::EntryType;
using archive::IndexedEntry;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string displayName(const fs::path& path) {
    return path.u8string();
}

std::string systemReason() {
    return std::strerror(errno);
}

// Builds the destination from the entry's components; "\" separates them
// here too, as the path checks assume.
fs::path destinationOf(const fs::path& targetDir, const std::string& entryPath) {
    fs::path result = targetDir;
    std::string part;
    for (char c : entryPath) {
        if (c == '/' || c == '\\') {
            result /= fs::u8path(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    return result / fs::u8path(part);
}

// Nothing may be written through a link: a link inside the tree could
// otherwise carry later entries anywhere.
bool parentsAreRealDirectories(const fs::path& targetDir, const fs::path& destination,
                               std::string& error) {
    fs::path current = targetDir;
    const fs::path relative = destination.lexically_relative(targetDir);
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        if (std::next(part) == relative.end()) break;
        current /= *part;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(current, ec))) {
            error = "cannot unpack " + displayName(destination) + ": it would be written through the link " +
                    displayName(current);
            return false;
        }
    }
    return true;
}

bool prepareParent(const fs::path& destination, std::string& error) {
    std::error_code ec;
    fs::create_directories(destination.parent_path(), ec);
    if (ec) {
        error = "cannot create the folder " + displayName(destination.parent_path()) + ": " + ec.message();
        return false;
    }
    return true;
}

// An earlier entry of the same name may have left a file or link where this
// entry goes; replace it rather than write through it.
bool removeNonDirectory(const fs::path& destination, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(destination, ec);
    if (!fs::exists(status) || fs::is_directory(status)) return true;
    if (!fs::remove(destination, ec) || ec) {
        error = "cannot replace " + displayName(destination) + ": " + ec.message();
        return false;
    }
    return true;
}

bool makeDirectory(const fs::path& destination, std::string& error) {
    if (!removeNonDirectory(destination, error)) return false;
    std::error_code ec;
    fs::create_directories(destination, ec);
    if (ec || !fs::is_directory(fs::symlink_status(destination, ec))) {
        error = "cannot create the folder " + displayName(destination) + ": " +
                (ec ? ec.message() : "a file of that name is in the way");
        return false;
    }
    return true;
}

// Adds execute permission wherever read permission is already granted,
// the way a freshly created file honours the umask.
bool markExecutable(const fs::path& destination, std::string& error) {
    std::error_code ec;
    const fs::perms current = fs::status(destination, ec).permissions();
    if (ec) {
        error = "cannot read the permissions of " + displayName(destination) + ": " + ec.message();
        return false;
    }
    fs::perms add = fs::perms::owner_exec;
    if ((current & fs::perms::group_read) != fs::perms::none) add |= fs::perms::group_exec;
    if ((current & fs::perms::others_read) != fs::perms::none) add |= fs::perms::others_exec;
    fs::permissions(destination, add, fs::perm_options::add, ec);
    if (ec) {
        error = "cannot make " + displayName(destination) + " executable: " + ec.message();
        return false;
    }
    return true;
}

class Unpacker {
public:
    Unpacker(std::FILE* packed, const fs::path& packedFile, const fs::path& targetDir)
        : packed_(packed), packedFile_(packedFile), targetDir_(targetDir) {}

    bool unpackEntry(std::size_t number, const IndexedEntry& entry, std::string& error) {
        const fs::path destination = destinationOf(targetDir_, entry.header.path);
        if (!parentsAreRealDirectories(targetDir_, destination, error)) return false;
        switch (entry.header.type) {
        case EntryType::Directory:
            return makeDirectory(destination, error);
        case EntryType::Symlink:
            return makeLink(entry, destination, error);
        case EntryType::File:
            return makeFile(number, entry, destination, error);
        }
        return false;
    }

private:
    bool makeLink(const IndexedEntry& entry, const fs::path& destination, std::string& error) {
        if (!prepareParent(destination, error) || !removeNonDirectory(destination, error)) return false;
        std::error_code ec;
        fs::create_symlink(fs::u8path(entry.linkTarget), destination, ec);
        if (ec) {
            error = "cannot create the link " + displayName(destination) + ": " + ec.message();
            return false;
        }
        return true;
    }

    bool makeFile(std::size_t number, const IndexedEntry& entry, const fs::path& destination,
                  std::string& error) {
        if (!prepareParent(destination, error) || !removeNonDirectory(destination, error)) return false;
        if (!archive::seekTo(packed_, entry.dataOffset)) {
            error = "cannot read " + displayName(packedFile_) + ": " + systemReason();
            return false;
        }
        FileHandle out(openFile(destination, "wb"));
        if (!out) {
            error = "cannot create " + displayName(destination) + ": " + systemReason();
            return false;
        }
        if (!inflateInto(number, entry, out.get(), destination, error) || !close(out, destination, error)) {
            out.reset();
            std::error_code ignored;
            fs::remove(destination, ignored);
            return false;
        }
        if ((entry.header.flags & archive::kFlagExecutable) != 0) return markExecutable(destination, error);
        return true;
    }

    bool inflateInto(std::size_t number, const IndexedEntry& entry, std::FILE* out,
                     const fs::path& destination, std::string& error) {
        std::uint64_t written = 0;
        std::uint32_t crc = 0;
        std::string problem;
        switch (inflater_.inflate(packed_, entry.header.storedSize, out, entry.header.originalSize,
                                  written, crc, problem)) {
        case StreamInflater::Result::Ok:
            break;
        case StreamInflater::Result::ReadFailed:
            error = "cannot read " + displayName(packedFile_) + ": " + systemReason();
            return false;
        case StreamInflater::Result::WriteFailed:
            error = "cannot write " + displayName(destination) + ": " + systemReason();
            return false;
        case StreamInflater::Result::Damaged:
            error = damaged(number, entry, problem);
            return false;
        }
        if (written != entry.header.originalSize) {
            error = damaged(number, entry, "data unpacks to " + std::to_string(written) +
                                               " bytes instead of " +
                                               std::to_string(entry.header.originalSize));
            return false;
        }
        if (crc != entry.header.dataCrc) {
            error = damaged(number, entry, "data checksum mismatch");
            return false;
        }
        return true;
    }

    bool close(FileHandle& out, const fs::path& destination, std::string& error) {
        // Delayed write errors, such as a full disk, surface here.
        const bool flushed = std::fclose(out.release()) == 0;
        if (!flushed) error = "cannot write " + displayName(destination) + ": " + systemReason();
        return flushed;
    }

    std::string damaged(std::size_t number, const IndexedEntry& entry, const std::string& problem) const {
        return "damaged runtime archive in " + displayName(packedFile_) + ": entry " +
               std::to_string(number) + " (" + entry.header.path + "): " + problem;
    }

    std::FILE* packed_;
    fs::path packedFile_;
    fs::path targetDir_;
    StreamInflater inflater_;
};

bool openIndexed(const fs::path& packedFile, FileHandle& packed, archive::ArchiveIndex& index,
                 std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(packedFile, ec);
    if (ec) {
        error = "cannot read " + displayName(packedFile) + ": " + ec.message();
        return false;
    }
    packed.reset(openFile(packedFile, "rb"));
    if (!packed) {
        error = "cannot open " + displayName(packedFile) + ": " + systemReason();
        return false;
    }
    std::string problem;
    if (!archive::readArchiveIndex(packed.get(), size, index, problem)) {
        error = "damaged runtime archive in " + displayName(packedFile) + ": " + problem;
        return false;
    }
    return true;
}

bool checkRoom(const fs::path& targetDir, std::uint64_t needed, std::string& error) {
    fs::path existing = targetDir.has_parent_path() ? targetDir.parent_path() : fs::path(".");
    std::error_code ec;
    const fs::space_info space = fs::space(existing, ec);
    // Without an answer from the system, let the writes themselves tell.
    if (ec || space.available >= needed) return true;
    error = "not enough room in " + displayName(fs::absolute(existing, ec)) + ": " +
            std::to_string(needed) + " bytes needed, " + std::to_string(space.available) +
            " available";
    return false;
}

// Unpacking never merges with what an earlier run or somebody else left:
// only a missing or empty folder is taken.
bool checkTargetIsFree(const fs::path& targetDir, bool& replaceEmpty, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(targetDir, ec);
    replaceEmpty = false;
    if (!fs::exists(status)) return true;
    if (fs::is_directory(status) && isEmptyDirectory(targetDir)) {
        replaceEmpty = true;
        return true;
    }
    error = "cannot unpack into " + displayName(targetDir) + ": it already exists" +
            (fs::is_directory(status) ? " and is not empty" : " and is not a folder") +
            "; remove it or unpack elsewhere";
    return false;
}

// The fresh folder beside the target that a run unpacks into; removed with
// its contents unless it was moved into place.
class StagingDirectory {
public:
    explicit StagingDirectory(const fs::path& targetDir) : target_(targetDir) {}
    ~StagingDirectory() {
        if (!path_.empty()) removeTree(path_);
    }
    StagingDirectory(const StagingDirectory&) = delete;
    StagingDirectory& operator=(const StagingDirectory&) = delete;

    bool create(std::string& error) {
        for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
            fs::path candidate = target_;
            candidate += ".partial-" + std::to_string(attempt);
            if (makeNewDirectory(candidate)) {
                path_ = candidate;
                return true;
            }
            if (errno != EEXIST) break;
        }
        error = "cannot create a folder beside " + displayName(target_) + " to unpack into: " + systemReason();
        return false;
    }

    bool moveInPlace(std::string& error) {
        if (!renameDirectory(path_, target_)) {
            error = "cannot move the unpacked runtime to " + displayName(target_) + ": " + systemReason();
            return false;
        }
        path_.clear();
        return true;
    }

    const fs::path& path() const { return path_; }

private:
    static constexpr int kNameAttempts = 1000;
    fs::path target_;
    fs::path path_;
};

} // namespace

bool unpackRuntime(const fs::path& packedFile, const fs::path& targetDir, std::string& error) {
    FileHandle packed;
    archive::ArchiveIndex index;
    if (!openIndexed(packedFile, packed, index, error)) return false;
    bool replaceEmptyTarget = false;
    if (!checkTargetIsFree(targetDir, replaceEmptyTarget, error)) return false;
    if (!checkRoom(targetDir, index.header.unpackedBytes, error)) return false;

    if (targetDir.has_parent_path() && !prepareParent(targetDir, error)) return false;

    // A run that fails half-way leaves nothing; one that succeeds moves a
    // complete tree into place.
    StagingDirectory staging(targetDir);
    if (!staging.create(error)) return false;
    Unpacker unpacker(packed.get(), packedFile, staging.path());
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        if (!unpacker.unpackEntry(i + 1, index.entries[i], error)) return false;
    }
    if (replaceEmptyTarget && !removeEmptyDirectory(targetDir)) {
        error = "cannot replace the empty folder " + displayName(targetDir) + ": " + systemReason();
        return false;
    }
    if (staging.moveInPlace(error)) return true;
    if (replaceEmptyTarget) makeNewDirectory(targetDir);
    return false;
}

bool listRuntime(const fs::path& packedFile, std::string& listing, std::string& error) {
    FileHandle packed;
    archive::ArchiveIndex index;
    if (!openIndexed(packedFile, packed, index, error)) return false;
    listing.clear();
    for (const IndexedEntry& entry : index.entries) {
        const archive::EntryHeader& header = entry.header;
        char kind = 'd';
        if (header.type == EntryType::File) {
            kind = (header.flags & archive::kFlagExecutable) != 0 ? 'x' : 'f';
        } else if (header.type == EntryType::Symlink) {
            kind = 'l';
        }
        listing += std::string(1, kind) + ' ' + std::to_string(header.originalSize) + ' ' + header.path;
        if (header.type == EntryType::Symlink) listing += " -> " + entry.linkTarget;
        listing += '\n';
    }
    return true;
}

} // namespace unpack
} // namespace talve
