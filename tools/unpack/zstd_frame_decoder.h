#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct ZSTD_DCtx_s;

namespace talve {
namespace unpack {

// Unpacks one zstd frame of a file entry. What a frame may unpack to is
// known from the entry's size before it is read, and the output buffer is
// exactly that large: a forged frame cannot make the decoder write more.
class FrameDecoder {
public:
    enum class Result { Ok, ReadFailed, Damaged };

    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Reads `storedSize` bytes from `in` at its current position; on Ok,
    // data() holds `expectedSize` bytes. On Damaged, `problem` says why.
    Result decode(std::FILE* in, std::size_t storedSize, std::size_t expectedSize, std::string& problem);
    const unsigned char* data() const { return output_.data(); }

private:
    ZSTD_DCtx_s* context_ = nullptr;
    std::vector<unsigned char> input_;
    std::vector<unsigned char> output_;
};

} // namespace unpack
} // namespace talve
