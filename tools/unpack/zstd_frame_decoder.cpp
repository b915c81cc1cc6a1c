#include "zstd_frame_decoder.h"

#include <zstd.h>
#include <zstd_errors.h>

namespace talve {
namespace unpack {

FrameDecoder::FrameDecoder() : context_(ZSTD_createDCtx()) {}

FrameDecoder::~FrameDecoder() {
    ZSTD_freeDCtx(context_);
}

FrameDecoder::Result FrameDecoder::decode(std::FILE* in, std::size_t storedSize, std::size_t expectedSize,
                                          std::string& problem) {
    if (context_ == nullptr) {
        problem = "the decompressor cannot start";
        return Result::Damaged;
    }
    // Sized on first use and kept: a runtime of many frames allocates once.
    if (input_.size() < storedSize) input_.resize(storedSize);
    if (output_.size() < expectedSize) output_.resize(expectedSize);
    if (std::fread(input_.data(), 1, storedSize, in) != storedSize) return Result::ReadFailed;
    const std::size_t produced = ZSTD_decompressDCtx(context_, output_.data(), expectedSize, input_.data(), storedSize);
    if (ZSTD_isError(produced)) {
        problem = ZSTD_getErrorCode(produced) == ZSTD_error_dstSize_tooSmall
                      ? "compressed data unpacks to more than its recorded size"
                      : "compressed data is damaged";
        return Result::Damaged;
    }
    if (produced != expectedSize) {
        problem = "compressed data unpacks to less than its recorded size";
        return Result::Damaged;
    }
    return Result::Ok;
}

} // namespace unpack
} // namespace talve
