#include "zstd_frame_writer.h"

#include "archive_format.h"
#include "writer_files.h"

#include <zstd.h>

#include <memory>
#include <vector>

namespace talve {
namespace archive {
namespace {

struct ContextFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

bool fail(FrameWriteFailure& failure, FrameWriteFailure why) {
    failure = why;
    return false;
}

void putU32(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

} // namespace

bool writeZstdFrames(std::istream& in, std::uint64_t size, int level, std::FILE* out, DeflateResult& result,
                     FrameWriteFailure& failure) {
    result = DeflateResult();
    failure = FrameWriteFailure::None;
    std::unique_ptr<ZSTD_CCtx, ContextFree> context(ZSTD_createCCtx());
    if (!context || ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 0)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 1))) {
        return fail(failure, FrameWriteFailure::Compressor);
    }
    const std::uint64_t frames = zstdFrameCount(size);
    std::uint64_t listAt = 0;
    if (!files::tellFile(out, listAt)) return fail(failure, FrameWriteFailure::Write);
    // The sizes are known once the frames are written; hold their place.
    std::string list(static_cast<std::size_t>((frames - 1) * 4), '\0');
    if (std::fwrite(list.data(), 1, list.size(), out) != list.size()) return fail(failure, FrameWriteFailure::Write);
    list.clear();

    std::vector<char> input(static_cast<std::size_t>(kZstdFrameSize));
    std::vector<char> output(ZSTD_compressBound(input.size()));
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        const std::uint64_t left = size - frame * kZstdFrameSize;
        const std::size_t want = static_cast<std::size_t>(left < kZstdFrameSize ? left : kZstdFrameSize);
        in.read(input.data(), static_cast<std::streamsize>(want));
        if (in.bad()) return fail(failure, FrameWriteFailure::Read);
        if (static_cast<std::size_t>(in.gcount()) != want) return fail(failure, FrameWriteFailure::SizeChanged);
        const std::size_t stored = ZSTD_compress2(context.get(), output.data(), output.size(), input.data(), want);
        if (ZSTD_isError(stored)) return fail(failure, FrameWriteFailure::Compressor);
        if (std::fwrite(output.data(), 1, stored, out) != stored) return fail(failure, FrameWriteFailure::Write);
        if (frame + 1 < frames) putU32(list, stored);
        result.crc = crc32Of(input.data(), want, result.crc);
        result.storedSize += stored;
    }
    if (in.peek() != std::char_traits<char>::eof()) return fail(failure, FrameWriteFailure::SizeChanged);
    if (in.bad()) return fail(failure, FrameWriteFailure::Read);
    result.originalSize = size;
    result.storedSize += list.size();
    std::uint64_t end = 0;
    if (!list.empty()) {
        if (!files::tellFile(out, end) || !files::seekFile(out, listAt) ||
            std::fwrite(list.data(), 1, list.size(), out) != list.size() || !files::seekFile(out, end)) {
            return fail(failure, FrameWriteFailure::Write);
        }
    }
    return true;
}

} // namespace archive
} // namespace talve
