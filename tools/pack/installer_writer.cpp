#include "installer_writer.h"

#include "output_file.h"
#include "payload/bootstrap_table_format.h"
#include "payload/pe_image.h"
#include "platform/platform.h"
#include "writer_files.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace talve {
namespace pack {

namespace fs = std::filesystem;

namespace {

// Large enough for few system calls, small enough that a payload of any
// size costs the packer the same memory.
constexpr std::size_t copyBlock = 1 << 20;

std::string writeError(const fs::path& output) {
    return output.u8string() + ": write error (disk full?)";
}

bool putZeros(std::FILE* out, std::uint64_t count, pe::RunningChecksum* sum) {
    static const unsigned char zeros[table::payloadAlignment] = {};
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
        if (std::fwrite(zeros, 1, piece, out) != piece) return false;
        if (sum != nullptr) sum->add(zeros, piece);
        count -= piece;
    }
    return true;
}

// A Windows program's checksum needs every byte, so its payloads pass
// through the packer; anything else is the system's copy, the launcher's
// own (which shares blocks where the file system can).
bool copyPayload(const PayloadSource& payload, std::FILE* out, pe::RunningChecksum* sum, const fs::path& output,
                 std::string& error) {
    if (payload.file() == nullptr) {
        const std::string& bytes = payload.bytes();
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
            error = writeError(output);
            return false;
        }
        if (sum != nullptr) sum->add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        return true;
    }
    const std::string endedEarly =
        payload.path() + ": read error: it ended early (did it change while the installer was written?)";
    if (sum == nullptr) {
        std::uint64_t start = 0;
        if (!files::tellFile(out, start)) {
            error = writeError(output);
            return false;
        }
        const CopyStatus copy = makeSystemPlatform()->copyFileRange(payload.file(), 0, out, payload.size());
        // The stream must go on where the system's copy ended.
        if (copy == CopyStatus::copied && files::seekFile(out, start + payload.size())) return true;
        error = copy == CopyStatus::readFailed ? endedEarly : writeError(output);
        return false;
    }
    if (!files::seekFile(payload.file(), 0)) {
        error = endedEarly;
        return false;
    }
    std::vector<unsigned char> block(copyBlock);
    for (std::uint64_t remaining = payload.size(); remaining > 0;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, block.size()));
        if (std::fread(block.data(), 1, wanted, payload.file()) != wanted) {
            error = endedEarly;
            return false;
        }
        sum->add(block.data(), wanted);
        if (std::fwrite(block.data(), 1, wanted, out) != wanted) {
            error = writeError(output);
            return false;
        }
        remaining -= wanted;
    }
    return true;
}

} // namespace

PayloadSource::~PayloadSource() {
    if (file_ != nullptr) std::fclose(file_);
}

bool PayloadSource::openFile(const std::string& path, std::uint64_t limit, std::string& error) {
    std::string problem;
    std::uint64_t size = 0;
    std::FILE* file = files::openRegularFile(fs::u8path(path), size, problem);
    if (file == nullptr) {
        error = path + ": cannot be read: " + problem;
        return false;
    }
    if (size > limit) {
        std::fclose(file);
        error = path + ": too large (" + std::to_string(size) + " bytes, at most " + std::to_string(limit) +
                " can be carried)";
        return false;
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = file;
    path_ = path;
    size_ = size;
    present_ = true;
    return true;
}

void PayloadSource::setBytes(std::string bytes) {
    bytes_ = std::move(bytes);
    size_ = bytes_.size();
    present_ = true;
}

std::uint64_t payloadStart(std::uint64_t end) {
    return (end + table::payloadAlignment - 1) / table::payloadAlignment * table::payloadAlignment;
}

bool writeInstaller(const fs::path& output, const std::string& head, const PayloadSource* payloads,
                    const std::uint64_t* positions, std::size_t count, std::string& error) {
    const pe::Headers headers = pe::readHeaders(head);
    const bool windows = headers.kind == pe::Kind::Image && headers.layout.checksumOffset + 4 <= head.size();
    std::string start = head;
    std::unique_ptr<pe::RunningChecksum> sum;
    if (windows) {
        sum = std::make_unique<pe::RunningChecksum>();
        pe::writeLittleEndian32(start, headers.layout.checksumOffset, 0);
        sum->add(reinterpret_cast<const unsigned char*>(start.data()), start.size());
    }
    files::OutputFile out(output);
    if (!out.open(error) || !out.write(start, error)) return false;
    std::uint64_t written = start.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!payloads[i].present()) continue;
        if (positions[i] < written || !putZeros(out.stream(), positions[i] - written, sum.get())) {
            error = writeError(output);
            return false;
        }
        if (!copyPayload(payloads[i], out.stream(), sum.get(), output, error)) return false;
        written = positions[i] + payloads[i].size();
    }
    if (windows) {
        std::string value(4, '\0');
        pe::writeLittleEndian32(value, 0, sum->value());
        if (!files::seekFile(out.stream(), headers.layout.checksumOffset) || !out.write(value, error)) {
            error = writeError(output);
            return false;
        }
    }
    return out.commit(error);
}

} // namespace pack
} // namespace talve
