#include "runtime_archive.h"

#include "archive_format.h"
#include "output_file.h"
#include "runtime_tree.h"
#include "stream_deflater.h"
#include "writer_files.h"
#include "zstd_frame_writer.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace talve {
namespace fs = std::filesystem;
using archive::EntryType;
using archive::TreeEntry;

namespace {

enum class StubSystem { Unknown, Windows, Linux };

StubSystem stubSystemOf(const fs::path& stub) {
    std::ifstream in(stub, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    if (in.gcount() >= 2 && magic[0] == 'M' && magic[1] == 'Z') return StubSystem::Windows;
    if (in.gcount() == 4 && magic[0] == '\x7f' && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
        return StubSystem::Linux;
    }
    return StubSystem::Unknown;
}

// A runtime for one system unpacked by a stub built for another would only
// fail on the user's machine.
bool checkStubMatches(const fs::path& stub, bool windowsRuntime, std::string& error) {
    const StubSystem system = stubSystemOf(stub);
    if (windowsRuntime && system == StubSystem::Linux) {
        error = "unpacker " + stub.u8string() + " is a Linux program but the runtime is for Windows (bin/java.exe); "
                "give the Windows talve-unpack.exe";
        return false;
    }
    if (!windowsRuntime && system == StubSystem::Windows) {
        error = "unpacker " + stub.u8string() + " is a Windows program but the runtime has no bin/java.exe; "
                "give the talve-unpack built for the runtime's system";
        return false;
    }
    return true;
}

bool isInside(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const fs::path relative = fs::weakly_canonical(path, ec).lexically_relative(fs::weakly_canonical(folder, ec));
    return !relative.empty() && *relative.begin() != "..";
}

// Stubs are programs of a few megabytes; anything far larger is a wrong file.
constexpr std::uint64_t kMaxStubSize = std::uint64_t(256) << 20;

class ArchiveWriter {
public:
    ArchiveWriter(const fs::path& output, const RuntimeCompression& compression, std::string& error)
        : output_(output), compression_(compression), file_(output), error_(error) {}

    bool open() { return file_.open(error_); }

    bool copyStub(const fs::path& stub) {
        std::string content;
        if (!files::readRegularFile(stub, kMaxStubSize, content, error_)) return false;
        if (!put(content)) return false;
        archiveOffset_ = content.size();
        return true;
    }

    bool writeEntries(const std::vector<TreeEntry>& entries, std::uint64_t& unpackedBytes) {
        archive::Header header;
        header.entryCount = static_cast<std::uint32_t>(entries.size());
        if (!put(archive::encodeHeader(header))) return false;

        unpackedBytes = archive::kUnpackFolderUsage;
        for (const TreeEntry& entry : entries) {
            std::uint64_t size = 0;
            if (!writeEntry(entry, size)) return false;
            unpackedBytes += archive::diskUsageOf(entry.type, size);
        }
        header.unpackedBytes = unpackedBytes;
        std::uint64_t end = 0;
        if (!position(end)) return false;
        archive::Trailer trailer;
        trailer.archiveOffset = archiveOffset_;
        trailer.archiveSize = end - archiveOffset_;
        return rewriteAt(archiveOffset_, archive::encodeHeader(header)) && put(archive::encodeTrailer(trailer));
    }

    bool commit() { return file_.commit(error_); }

private:
    bool writeEntry(const TreeEntry& entry, std::uint64_t& size) {
        archive::EntryHeader header;
        header.type = entry.type;
        header.path = entry.archivePath;
        if (entry.type == EntryType::Directory) return put(archive::encodeEntryHeader(header));
        if (entry.type == EntryType::Symlink) {
            header.originalSize = header.storedSize = entry.linkTarget.size();
            header.dataCrc = archive::crc32Of(entry.linkTarget.data(), entry.linkTarget.size());
            return put(archive::encodeEntryHeader(header) + entry.linkTarget);
        }

        header.flags = entry.executable ? archive::kFlagExecutable : 0;
        header.codec = compression_.codec;
        std::uint64_t headerAt = 0;
        // The sizes and checksum are known once the data is written.
        if (!position(headerAt) || !put(archive::encodeEntryHeader(header))) return false;
        archive::DeflateResult result;
        if (!(header.codec == archive::Codec::Zstd ? zstdEntry(entry, result) : deflateEntry(entry, result))) {
            return false;
        }
        header.originalSize = result.originalSize;
        header.storedSize = result.storedSize;
        header.dataCrc = result.crc;
        size = result.originalSize;
        return rewriteAt(headerAt, archive::encodeEntryHeader(header));
    }

    bool deflateEntry(const TreeEntry& entry, archive::DeflateResult& result) {
        bool readFailed = false;
        if (entry.generated) {
            std::istringstream in(entry.content);
            if (archive::deflateStream(in, file_.stream(), result, readFailed)) return true;
            return fail("cannot write " + output_.u8string());
        }
        std::ifstream in(entry.source, std::ios::binary);
        if (!in) return fail("cannot read " + entry.source.u8string());
        if (archive::deflateStream(in, file_.stream(), result, readFailed)) return true;
        return fail(readFailed ? "cannot read " + entry.source.u8string() : "cannot write " + output_.u8string());
    }

    bool zstdEntry(const TreeEntry& entry, archive::DeflateResult& result) {
        archive::FrameWriteFailure failure = archive::FrameWriteFailure::None;
        if (entry.generated) {
            std::istringstream in(entry.content);
            if (archive::writeZstdFrames(in, entry.content.size(), compression_.zstdLevel, file_.stream(), result,
                                         failure)) {
                return true;
            }
        } else {
            std::error_code ec;
            const std::uint64_t size = fs::file_size(entry.source, ec);
            std::ifstream in(entry.source, std::ios::binary);
            if (ec || !in) return fail("cannot read " + entry.source.u8string());
            if (archive::writeZstdFrames(in, size, compression_.zstdLevel, file_.stream(), result, failure)) {
                return true;
            }
        }
        switch (failure) {
        case archive::FrameWriteFailure::Read:
            return fail("cannot read " + entry.source.u8string());
        case archive::FrameWriteFailure::SizeChanged:
            return fail(entry.source.u8string() + " changed while it was packed");
        case archive::FrameWriteFailure::Compressor:
            return fail("the zstd compressor refused level " + std::to_string(compression_.zstdLevel));
        default:
            return fail("cannot write " + output_.u8string());
        }
    }

    bool put(const std::string& bytes) { return file_.write(bytes, error_); }

    bool rewriteAt(std::uint64_t offset, const std::string& bytes) {
        std::uint64_t end = 0;
        if (!position(end) || !files::seekFile(file_.stream(), offset) || !put(bytes) ||
            !files::seekFile(file_.stream(), end)) {
            return fail("cannot write " + output_.u8string());
        }
        return true;
    }

    bool position(std::uint64_t& offset) {
        return files::tellFile(file_.stream(), offset) || fail("cannot write " + output_.u8string());
    }

    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }

    fs::path output_;
    RuntimeCompression compression_;
    files::OutputFile file_;
    std::string& error_;
    std::uint64_t archiveOffset_ = 0;
};

bool checkPaths(const fs::path& runtimeDir, const fs::path& stub, const fs::path& output,
                std::string& error) {
    std::error_code ec;
    if (!fs::is_regular_file(stub, ec)) {
        error = "unpacker " + stub.u8string() + " does not exist or is not a file";
        return false;
    }
    if (fs::file_size(stub, ec) == 0) {
        error = "unpacker " + stub.u8string() + " is empty";
        return false;
    }
    if (fs::equivalent(stub, output, ec)) {
        error = "output " + output.u8string() + " is the unpacker itself";
        return false;
    }
    if (isInside(output, runtimeDir)) {
        error = "output " + output.u8string() + " lies inside the runtime folder it would carry";
        return false;
    }
    return true;
}

} // namespace

bool writePackedRuntime(const std::string& runtimeDir, const std::string& unpackerStub,
                        const std::string& output, std::uint64_t& unpackedBytes,
                        std::string& error, const RuntimeCompression& compression) {
    const fs::path runtimePath = fs::u8path(runtimeDir);
    const fs::path stubPath = fs::u8path(unpackerStub);
    const fs::path outputPath = fs::u8path(output);
    unpackedBytes = 0;

    archive::RuntimeTree tree;
    if (!archive::collectRuntimeTree(runtimePath, tree, error)) return false;
    if (!checkPaths(runtimePath, stubPath, outputPath, error)) return false;
    if (!checkStubMatches(stubPath, tree.windowsRuntime, error)) return false;

    ArchiveWriter writer(outputPath, compression, error);
    const bool written = writer.open() && writer.copyStub(stubPath) &&
                         writer.writeEntries(tree.entries, unpackedBytes) && writer.commit();
    if (!written) unpackedBytes = 0;
    return written;
}

} // namespace talve
