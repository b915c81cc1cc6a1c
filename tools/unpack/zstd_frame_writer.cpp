#include "zstd_frame_writer.h"

#include "archive_format.h"
#include "writer_files.h"

#include <zstd.h>

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace talve {
namespace archive {
namespace {

struct ContextFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

bool pinSettings(ZSTD_CCtx* context, int level) {
    return !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0)) &&
           !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1));
}

struct Frame {
    std::unique_ptr<ZSTD_CCtx, ContextFree> context;
    std::vector<char> input;
    std::vector<char> output;
    std::size_t stored = 0;

    void compress() {
        output.resize(ZSTD_compressBound(input.size()));
        stored = ZSTD_compress2(context.get(), output.data(), output.size(), input.data(), input.size());
    }
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
    const std::uint64_t frames = zstdFrameCount(size);
    std::uint64_t listAt = 0;
    if (!files::tellFile(out, listAt)) return fail(failure, FrameWriteFailure::Write);
    // The sizes are known once the frames are written; hold their place.
    std::string list(static_cast<std::size_t>((frames - 1) * 4), '\0');
    if (std::fwrite(list.data(), 1, list.size(), out) != list.size()) return fail(failure, FrameWriteFailure::Write);
    list.clear();

    // Frames are independent, so a batch of them is compressed side by
    // side and written in order: the bytes are those of one at a time.
    const std::size_t cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    const std::size_t batch = static_cast<std::size_t>(std::min<std::uint64_t>(cores, frames));
    std::vector<Frame> pending(batch);
    for (Frame& frame : pending) {
        frame.context.reset(ZSTD_createCCtx());
        if (!frame.context || !pinSettings(frame.context.get(), level)) return fail(failure, FrameWriteFailure::Compressor);
    }
    for (std::uint64_t first = 0; first < frames; first += batch) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(batch, frames - first));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t left = size - (first + i) * kZstdFrameSize;
            const std::size_t want = static_cast<std::size_t>(left < kZstdFrameSize ? left : kZstdFrameSize);
            Frame& frame = pending[i];
            frame.input.resize(want);
            in.read(frame.input.data(), static_cast<std::streamsize>(want));
            if (in.bad()) return fail(failure, FrameWriteFailure::Read);
            if (static_cast<std::size_t>(in.gcount()) != want) return fail(failure, FrameWriteFailure::SizeChanged);
        }
        std::vector<std::thread> helpers;
        std::size_t next = 1;
        try {
            for (; next < count; ++next) helpers.emplace_back([&pending, next] { pending[next].compress(); });
        } catch (const std::system_error&) {
            // Without another thread the rest is compressed here.
        }
        pending[0].compress();
        for (std::size_t i = next; i < count; ++i) pending[i].compress();
        for (std::thread& helper : helpers) helper.join();
        for (std::size_t i = 0; i < count; ++i) {
            const Frame& frame = pending[i];
            if (ZSTD_isError(frame.stored)) return fail(failure, FrameWriteFailure::Compressor);
            if (std::fwrite(frame.output.data(), 1, frame.stored, out) != frame.stored) {
                return fail(failure, FrameWriteFailure::Write);
            }
            if (first + i + 1 < frames) putU32(list, frame.stored);
            result.crc = crc32Of(frame.input.data(), frame.input.size(), result.crc);
            result.storedSize += frame.stored;
        }
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
