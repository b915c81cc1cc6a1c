#include "runtime_archive.h"

#include "archive_format.h"
#include "runtime_tree.h"
#include "stream_deflater.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace talve {
namespace fs = std::filesystem;
using archive::EntryType;
using archive::TreeEntry;

namespace {

constexpr std::uint64_t kBlockSize = 4096;

std::uint64_t roundUpToBlocks(std::uint64_t bytes) {
    return (bytes + kBlockSize - 1) / kBlockSize * kBlockSize;
}

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

class ArchiveWriter {
public:
    ArchiveWriter(const fs::path& output, std::string& error) : output_(output), error_(error) {}

    bool open() {
        out_.open(output_, std::ios::binary | std::ios::trunc);
        if (!out_) return fail("cannot create " + output_.u8string());
        return true;
    }

    bool copyStub(const fs::path& stub) {
        std::ifstream in(stub, std::ios::binary);
        if (!in) return fail("cannot read the unpacker " + stub.u8string());
        out_ << in.rdbuf();
        if (!in || !out_) return fail("cannot copy the unpacker " + stub.u8string() + " into " + output_.u8string());
        archiveOffset_ = position();
        return true;
    }

    bool writeEntries(const std::vector<TreeEntry>& entries, std::uint64_t& unpackedBytes) {
        archive::Header header;
        header.entryCount = static_cast<std::uint32_t>(entries.size());
        if (!put(archive::encodeHeader(header))) return false;

        unpackedBytes = kBlockSize; // the "_jvm" folder itself
        for (const TreeEntry& entry : entries) {
            std::uint64_t size = 0;
            if (!writeEntry(entry, size)) return false;
            if (entry.type == EntryType::File) unpackedBytes += roundUpToBlocks(size);
            if (entry.type == EntryType::Directory) unpackedBytes += kBlockSize;
        }
        header.unpackedBytes = unpackedBytes;
        const std::uint64_t end = position();
        archive::Trailer trailer;
        trailer.archiveOffset = archiveOffset_;
        trailer.archiveSize = end - archiveOffset_;
        return rewriteAt(archiveOffset_, archive::encodeHeader(header)) && put(archive::encodeTrailer(trailer));
    }

    bool close() {
        out_.close();
        if (!out_) return fail("cannot write " + output_.u8string());
        return true;
    }

    // Closes after a failure already reported, so the partial file can go.
    void abandon() { out_.close(); }

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
        const std::uint64_t headerAt = position();
        // The sizes and checksum are known once the data is written.
        if (!put(archive::encodeEntryHeader(header))) return false;
        archive::DeflateResult result;
        if (!deflateEntry(entry, result)) return false;
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
            if (archive::deflateStream(in, out_, result, readFailed)) return true;
            return fail("cannot write " + output_.u8string());
        }
        std::ifstream in(entry.source, std::ios::binary);
        if (!in) return fail("cannot read " + entry.source.u8string());
        if (archive::deflateStream(in, out_, result, readFailed)) return true;
        return fail(readFailed ? "cannot read " + entry.source.u8string() : "cannot write " + output_.u8string());
    }

    bool put(const std::string& bytes) {
        if (!out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
            return fail("cannot write " + output_.u8string());
        }
        return true;
    }

    bool rewriteAt(std::uint64_t offset, const std::string& bytes) {
        const std::uint64_t end = position();
        out_.seekp(static_cast<std::streamoff>(offset));
        if (!put(bytes)) return false;
        out_.seekp(static_cast<std::streamoff>(end));
        if (!out_) return fail("cannot write " + output_.u8string());
        return true;
    }

    std::uint64_t position() { return static_cast<std::uint64_t>(out_.tellp()); }

    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }

    fs::path output_;
    std::string& error_;
    std::ofstream out_;
    std::uint64_t archiveOffset_ = 0;
};

bool makeExecutable(const fs::path& output, std::string& error) {
    std::error_code ec;
    fs::permissions(output, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    if (ec) error = "cannot make " + output.u8string() + " executable: " + ec.message();
    return !ec;
}

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
                        std::string& error) {
    const fs::path runtimePath = fs::u8path(runtimeDir);
    const fs::path stubPath = fs::u8path(unpackerStub);
    const fs::path outputPath = fs::u8path(output);
    unpackedBytes = 0;

    archive::RuntimeTree tree;
    if (!archive::collectRuntimeTree(runtimePath, tree, error)) return false;
    if (!checkPaths(runtimePath, stubPath, outputPath, error)) return false;
    if (!checkStubMatches(stubPath, tree.windowsRuntime, error)) return false;

    ArchiveWriter writer(outputPath, error);
    if (!writer.open()) return false;
    const bool written = writer.copyStub(stubPath) && writer.writeEntries(tree.entries, unpackedBytes) &&
                         writer.close() && makeExecutable(outputPath, error);
    if (!written) {
        writer.abandon();
        std::error_code ignored;
        fs::remove(outputPath, ignored);
        unpackedBytes = 0;
    }
    return written;
}

} // namespace talve
