#include "stream_inflater.h"

#include "archive_format.h"

#include <algorithm>
#include <cstring>

namespace talve {
namespace unpack {
namespace {

// Large enough that the per-call costs of fread, fwrite and inflate vanish
// against the copying itself.
constexpr std::size_t kBufferSize = 1u << 18;

} // namespace

StreamInflater::StreamInflater() : input_(kBufferSize), output_(kBufferSize) {
    std::memset(&stream_, 0, sizeof stream_);
    ready_ = inflateInit(&stream_) == Z_OK;
}

StreamInflater::~StreamInflater() {
    if (ready_) inflateEnd(&stream_);
}

StreamInflater::Result StreamInflater::drainOutput(OutputFile& out, std::uint64_t expectedSize,
                                                   std::uint64_t& written, std::uint32_t& crc,
                                                   std::string& problem) {
    const std::size_t produced = output_.size() - stream_.avail_out;
    if (produced > expectedSize - written) {
        problem = "compressed data unpacks to more than its recorded size";
        return Result::Damaged;
    }
    if (produced > 0 && !out.write(output_.data(), produced)) {
        return Result::WriteFailed;
    }
    crc = archive::crc32Of(output_.data(), produced, crc);
    written += produced;
    stream_.next_out = output_.data();
    stream_.avail_out = static_cast<uInt>(output_.size());
    return Result::Ok;
}

StreamInflater::Result StreamInflater::inflate(std::FILE* in, std::uint64_t storedSize,
                                               OutputFile& out, std::uint64_t expectedSize,
                                               std::uint64_t& written, std::uint32_t& crc,
                                               std::string& problem) {
    written = 0;
    crc = 0;
    // The entry's CRC-32 is checked over everything written, so the
    // stream's own Adler-32 would only spend time on the same question.
    if (!ready_ || inflateReset(&stream_) != Z_OK || inflateValidate(&stream_, 0) != Z_OK) {
        problem = "the decompressor cannot start";
        return Result::Damaged;
    }
    stream_.next_out = output_.data();
    stream_.avail_out = static_cast<uInt>(output_.size());

    std::uint64_t remaining = storedSize;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream_.avail_in == 0) {
            if (remaining == 0) {
                problem = "compressed data is cut short";
                return Result::Damaged;
            }
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining, input_.size()));
            if (std::fread(input_.data(), 1, chunk, in) != chunk) return Result::ReadFailed;
            remaining -= chunk;
            stream_.next_in = input_.data();
            stream_.avail_in = static_cast<uInt>(chunk);
        }
        status = ::inflate(&stream_, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            problem = std::string("compressed data is damaged (") +
                      (stream_.msg != nullptr ? stream_.msg : "zlib error") + ")";
            return Result::Damaged;
        }
        if (stream_.avail_out == 0 || status == Z_STREAM_END) {
            const Result drained = drainOutput(out, expectedSize, written, crc, problem);
            if (drained != Result::Ok) return drained;
        }
    }
    if (remaining != 0 || stream_.avail_in != 0) {
        problem = "compressed data ends before its stored size";
        return Result::Damaged;
    }
    return Result::Ok;
}

} // namespace unpack
} // namespace talve
