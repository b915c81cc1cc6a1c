#include "runtime_unpacker.h"

#include "archive_reader.h"
#include "inflate_pool.h"
#include "native.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

namespace talve {
namespace unpack {
using archive::EntryType;
using archive::IndexedEntry;

namespace {

// Beyond this the workers only queue behind the disk.
constexpr std::size_t kMaxWorkers = 8;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string systemReason() {
    return std::strerror(errno);
}

bool isSeparator(char c) {
    return c == '/' || c == kPathSeparator;
}

std::string parentOf(const std::string& path) {
    std::string::size_type cut = path.size();
    while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
    // The root keeps its separator: "/_jvm" lies in "/".
    return cut == 1 ? path.substr(0, 1) : cut > 1 ? path.substr(0, cut - 1) : std::string();
}

// Two entries may name one file with different separators or, on Windows,
// in different letter case; their keys are equal, so the later one waits
// for the earlier.
std::string sameFileKey(const std::string& entryPath) {
    std::string key = entryPath;
    for (char& c : key) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

class Unpacker {
public:
    Unpacker(const std::string& packedFile, const std::string& targetDir, std::size_t pieces)
        : targetDir_(targetDir), pool_(packedFile, workersFor(pieces)) {}

    // Creates what each entry needs in archive order and leaves the filling
    // of files to the pool; an entry naming a file still being filled
    // waits for it, so the result is that of unpacking one by one.
    bool unpack(const std::vector<IndexedEntry>& entries, std::string& error) {
        std::set<std::string> seen;
        for (std::size_t i = 0; i < entries.size() && !pool_.failed(); ++i) {
            if (!seen.insert(sameFileKey(entries[i].header.path)).second) pool_.waitIdle();
            std::string problem;
            if (!unpackEntry(i + 1, entries[i], problem)) pool_.recordFailure(i + 1, problem);
        }
        return pool_.finish(error);
    }

private:
    static std::size_t workersFor(std::size_t pieces) {
        std::size_t cores = processorCount();
        if (cores > kMaxWorkers) cores = kMaxWorkers;
        return pieces < cores ? pieces : cores;
    }

    // Builds the destination from the entry's components; "\" separates
    // them here too, as the path checks assume. Nothing may be written
    // through a link: a link inside the tree could otherwise carry later
    // entries anywhere.
    bool destinationOf(const std::string& entryPath, std::string& destination, std::string& error) const {
        destination = targetDir_ + kPathSeparator;
        for (char c : entryPath) destination += (c == '/' || c == '\\') ? kPathSeparator : c;
        for (std::size_t at = targetDir_.size() + 1; at < destination.size(); ++at) {
            if (destination[at] != kPathSeparator) continue;
            const std::string folder = destination.substr(0, at);
            if (pathKind(folder) == PathKind::Link) {
                error = "cannot unpack " + destination + ": it would be written through the link " + folder;
                return false;
            }
        }
        return true;
    }

    bool unpackEntry(std::size_t number, const IndexedEntry& entry, std::string& error) {
        std::string destination;
        if (!destinationOf(entry.header.path, destination, error)) return false;
        switch (entry.header.type) {
        case EntryType::Directory:
            return makeDirectory(destination, error);
        case EntryType::Symlink:
            if (!prepareParent(destination, error) || !removeNonDirectory(destination, error)) return false;
            if (makeSymlink(entry.linkTarget, destination)) return true;
            error = "cannot create the link " + destination + ": " + systemReason();
            return false;
        case EntryType::File:
            return startFile(number, entry, destination, error);
        }
        return false;
    }

    bool startFile(std::size_t number, const IndexedEntry& entry, const std::string& destination,
                   std::string& error) {
        if (!prepareParent(destination, error) || !removeNonDirectory(destination, error)) return false;
        InflatePool::Job job;
        job.out.reset(new OutputFile());
        if (!job.out->create(destination, entry.header.originalSize)) {
            error = "cannot create " + destination + ": " + systemReason();
            return false;
        }
        job.number = number;
        job.entry = &entry;
        job.destination = destination;
        pool_.submit(std::move(job));
        return true;
    }

    bool prepareParent(const std::string& destination, std::string& error) {
        const std::string parent = parentOf(destination);
        if (parent.empty() || parent == lastParent_) return true;
        if (!makeDirectories(parent)) {
            error = "cannot create the folder " + parent + ": " + systemReason();
            return false;
        }
        // Folders are never removed during a run, so a folder made once
        // stays one.
        lastParent_ = parent;
        return true;
    }

    // An earlier entry of the same name may have left a file or link where
    // this entry goes; replace it rather than write through it.
    static bool removeNonDirectory(const std::string& destination, std::string& error) {
        const PathKind kind = pathKind(destination);
        if (kind == PathKind::Missing || kind == PathKind::Directory) return true;
        if (removeFile(destination)) return true;
        error = "cannot replace " + destination + ": " + systemReason();
        return false;
    }

    bool makeDirectory(const std::string& destination, std::string& error) {
        if (!removeNonDirectory(destination, error)) return false;
        if (!makeDirectories(destination)) {
            error = "cannot create the folder " + destination + ": " + systemReason();
            return false;
        }
        if (pathKind(destination) == PathKind::Directory) return true;
        error = "cannot create the folder " + destination + ": a file of that name is in the way";
        return false;
    }

    std::string targetDir_;
    std::string lastParent_;
    InflatePool pool_;
};

bool openIndexed(const std::string& packedFile, FileHandle& packed, archive::ArchiveIndex& index,
                 std::string& error) {
    std::uint64_t size = 0;
    if (!fileSize(packedFile, size)) {
        error = "cannot read " + packedFile + ": " + systemReason();
        return false;
    }
    packed.reset(openFile(packedFile, "rb"));
    if (!packed) {
        error = "cannot open " + packedFile + ": " + systemReason();
        return false;
    }
    std::string problem;
    if (!archive::readArchiveIndex(packed.get(), size, index, problem)) {
        error = "damaged runtime archive in " + packedFile + ": " + problem;
        return false;
    }
    return true;
}

bool checkRoom(const std::string& targetDir, std::uint64_t needed, std::string& error) {
    std::string existing = parentOf(targetDir);
    if (existing.empty()) existing = ".";
    std::uint64_t available = 0;
    // Without an answer from the system, let the writes themselves tell.
    if (!availableSpace(existing, available) || available >= needed) return true;
    error = "not enough room in " + absolutePath(existing) + ": " + std::to_string(needed) + " bytes needed, " +
            std::to_string(available) + " available";
    return false;
}

// Unpacking never merges with what an earlier run or somebody else left:
// only a missing or empty folder is taken.
bool checkTargetIsFree(const std::string& targetDir, bool& replaceEmpty, std::string& error) {
    const PathKind kind = pathKind(targetDir);
    replaceEmpty = false;
    if (kind == PathKind::Missing) return true;
    if (kind == PathKind::Directory && isEmptyDirectory(targetDir)) {
        replaceEmpty = true;
        return true;
    }
    error = "cannot unpack into " + targetDir + ": it already exists" +
            (kind == PathKind::Directory ? " and is not empty" : " and is not a folder") +
            "; remove it or unpack elsewhere";
    return false;
}

// The fresh folder beside the target that a run unpacks into; removed with
// its contents unless it was moved into place.
class StagingDirectory {
public:
    explicit StagingDirectory(const std::string& targetDir) : target_(targetDir) {}
    ~StagingDirectory() {
        if (!path_.empty()) removeTree(path_);
    }
    StagingDirectory(const StagingDirectory&) = delete;
    StagingDirectory& operator=(const StagingDirectory&) = delete;

    bool create(std::string& error) {
        for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
            const std::string candidate = target_ + ".partial-" + std::to_string(attempt);
            if (makeNewDirectory(candidate)) {
                path_ = candidate;
                return true;
            }
            if (errno != EEXIST) break;
        }
        error = "cannot create a folder beside " + target_ + " to unpack into: " + systemReason();
        return false;
    }

    bool moveInPlace(std::string& error) {
        if (!renameDirectory(path_, target_)) {
            error = "cannot move the unpacked runtime to " + target_ + ": " + systemReason();
            return false;
        }
        path_.clear();
        return true;
    }

    const std::string& path() const { return path_; }

private:
    static constexpr int kNameAttempts = 1000;
    std::string target_;
    std::string path_;
};

// What can be unpacked side by side: every file, and every frame of a
// zstd file.
std::size_t countPieces(const std::vector<IndexedEntry>& entries) {
    std::size_t pieces = 0;
    for (const IndexedEntry& entry : entries) {
        if (entry.header.type == EntryType::File) pieces += entry.frameSizes.empty() ? 1 : entry.frameSizes.size();
    }
    return pieces;
}

} // namespace

bool unpackRuntime(const std::string& packedFile, const std::string& targetDir, std::string& error) {
    FileHandle packed;
    archive::ArchiveIndex index;
    if (!openIndexed(packedFile, packed, index, error)) return false;
    packed.reset();
    bool replaceEmptyTarget = false;
    if (!checkTargetIsFree(targetDir, replaceEmptyTarget, error)) return false;
    if (!checkRoom(targetDir, index.header.unpackedBytes, error)) return false;

    const std::string parent = parentOf(targetDir);
    if (!parent.empty() && !makeDirectories(parent)) {
        error = "cannot create the folder " + parent + ": " + systemReason();
        return false;
    }

    // A run that fails half-way leaves nothing; one that succeeds moves a
    // complete tree into place.
    StagingDirectory staging(targetDir);
    if (!staging.create(error)) return false;
    {
        Unpacker unpacker(packedFile, staging.path(), countPieces(index.entries));
        if (!unpacker.unpack(index.entries, error)) return false;
    }
    if (replaceEmptyTarget && !removeEmptyDirectory(targetDir)) {
        error = "cannot replace the empty folder " + targetDir + ": " + systemReason();
        return false;
    }
    if (staging.moveInPlace(error)) return true;
    if (replaceEmptyTarget) makeNewDirectory(targetDir);
    return false;
}

bool listRuntime(const std::string& packedFile, std::string& listing, std::string& error) {
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
