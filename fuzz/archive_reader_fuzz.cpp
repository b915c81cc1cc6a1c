// Any bytes as a packed runtime for talve-unpack: the index reader walks the
// whole archive before anything is written, so it alone meets damaged input;
// then every zstd frame of an accepted archive goes through the decoder,
// which must stay within the sizes the archive declares.
#include "archive_reader.h"
#include "fuzz_input.h"
#include "zstd_frame_decoder.h"

#include <cstdio>

namespace {

void decodeFrames(std::FILE* file, const talve::archive::IndexedEntry& entry) {
    talve::unpack::FrameDecoder decoder;
    std::uint64_t offset = entry.firstFrameOffset;
    std::uint64_t left = entry.header.originalSize;
    for (std::uint32_t stored : entry.frameSizes) {
        const std::uint64_t expected = left < talve::archive::kZstdFrameSize ? left : talve::archive::kZstdFrameSize;
        std::string problem;
        if (!talve::archive::seekTo(file, offset) ||
            decoder.decode(file, stored, static_cast<std::size_t>(expected), problem) !=
                talve::unpack::FrameDecoder::Result::Ok) {
            return;
        }
        offset += stored;
        left -= expected;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = talve::fuzz::writeScratchFile(data, size);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    talve::archive::ArchiveIndex index;
    std::string error;
    if (talve::archive::readArchiveIndex(file, size, index, error)) {
        for (const talve::archive::IndexedEntry& entry : index.entries) {
            if (entry.header.type == talve::archive::EntryType::File &&
                entry.header.codec == talve::archive::Codec::Zstd) {
                decodeFrames(file, entry);
            }
        }
    }
    std::fclose(file);
    return 0;
}
