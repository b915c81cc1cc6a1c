#pragma once

// Helpers shared by the packed-runtime tests: scratch folders, file
// contents, tree listings and hand-built archives.

#include "archive_format.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace talve {
namespace unpacktest {
namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with
// everything in it when the test ends.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() /
                ("talve-unpack-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& content, bool executable = false) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    if (executable) {
        fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
    }
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that do not compress, so a file of them spans many buffers on
// both sides.
inline std::string noise(std::size_t size, std::uint32_t seed = 12345) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// One sorted line per thing under `root`: "d path", "f path size crc" with
// " x" for executables, "l path -> target". Links are not followed.
inline std::vector<std::string> treeListing(const fs::path& root) {
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = fs::relative(it->path(), root).generic_string();
        const fs::file_status status = it->symlink_status();
        if (fs::is_symlink(status)) {
            lines.push_back("l " + path + " -> " + fs::read_symlink(it->path()).generic_string());
        } else if (fs::is_directory(status)) {
            lines.push_back("d " + path);
        } else {
            const std::string content = readFile(it->path());
            const bool executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
            lines.push_back("f " + path + " " + std::to_string(content.size()) + " " +
                            std::to_string(archive::crc32Of(content.data(), content.size())) +
                            (executable ? " x" : ""));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline std::vector<std::string> without(std::vector<std::string> lines, const std::string& prefix) {
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }),
                lines.end());
    return lines;
}

// An entry of a hand-built archive: the header as it will be encoded and
// the bytes stored after it.
struct RawEntry {
    archive::EntryHeader header;
    std::string data;
};

inline std::string zlibCompress(const std::string& content) {
    uLongf size = compressBound(static_cast<uLong>(content.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(content.data()),
              static_cast<uLong>(content.size()), 6);
    out.resize(size);
    return out;
}

// The stored data of a zstd file: the frame size list, then each
// kZstdFrameSize piece compressed on its own.
inline std::string zstdFrames(const std::string& content, int level = 3) {
    const std::uint64_t frames = archive::zstdFrameCount(content.size());
    std::string list;
    std::string data;
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        const std::string piece = content.substr(frame * archive::kZstdFrameSize, archive::kZstdFrameSize);
        std::string out(ZSTD_compressBound(piece.size()), '\0');
        out.resize(ZSTD_compress(&out[0], out.size(), piece.data(), piece.size(), level));
        if (frame + 1 < frames) {
            for (int i = 0; i < 4; ++i) list.push_back(static_cast<char>(out.size() >> (8 * i)));
        }
        data += out;
    }
    return list + data;
}

inline RawEntry rawDirectory(const std::string& path) {
    RawEntry entry;
    entry.header.type = archive::EntryType::Directory;
    entry.header.path = path;
    return entry;
}

inline RawEntry rawFile(const std::string& path, const std::string& content) {
    RawEntry entry;
    entry.header.type = archive::EntryType::File;
    entry.header.path = path;
    entry.data = zlibCompress(content);
    entry.header.originalSize = content.size();
    entry.header.storedSize = entry.data.size();
    entry.header.dataCrc = archive::crc32Of(content.data(), content.size());
    return entry;
}

inline RawEntry rawZstdFile(const std::string& path, const std::string& content) {
    RawEntry entry = rawFile(path, content);
    entry.header.codec = archive::Codec::Zstd;
    entry.data = zstdFrames(content);
    entry.header.storedSize = entry.data.size();
    return entry;
}

inline RawEntry rawLink(const std::string& path, const std::string& target) {
    RawEntry entry;
    entry.header.type = archive::EntryType::Symlink;
    entry.header.path = path;
    entry.data = target;
    entry.header.originalSize = entry.header.storedSize = target.size();
    entry.header.dataCrc = archive::crc32Of(target.data(), target.size());
    return entry;
}

// Stub, header, entries and trailer, every checksum right unless an entry
// was given a wrong one on purpose. The header's unpacked size is what the
// entries need unless one is given.
inline std::string buildPacked(const std::string& stub, const std::vector<RawEntry>& entries,
                               std::optional<std::uint64_t> unpackedBytes = std::nullopt,
                               std::uint32_t version = archive::kFormatVersion) {
    archive::Header header;
    header.version = version;
    header.unpackedBytes = archive::kUnpackFolderUsage;
    for (const RawEntry& entry : entries)
        header.unpackedBytes += archive::diskUsageOf(entry.header.type, entry.header.originalSize);
    if (unpackedBytes) header.unpackedBytes = *unpackedBytes;
    header.entryCount = static_cast<std::uint32_t>(entries.size());
    std::string archiveBytes = archive::encodeHeader(header);
    for (const RawEntry& entry : entries) archiveBytes += archive::encodeEntryHeader(entry.header) + entry.data;
    archive::Trailer trailer;
    trailer.archiveOffset = stub.size();
    trailer.archiveSize = archiveBytes.size();
    return stub + archiveBytes + archive::encodeTrailer(trailer);
}

} // namespace unpacktest
} // namespace talve
