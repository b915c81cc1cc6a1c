#pragma once

#include "native.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace talve {
namespace unpack {

// Inflates one zlib stream of known stored size from a file into a new one,
// computing the CRC-32 of what it writes. The buffers live as long as the
// inflater, so a runtime of many files allocates them once.
class StreamInflater {
public:
    enum class Result { Ok, ReadFailed, Damaged, WriteFailed };

    StreamInflater();
    ~StreamInflater();
    StreamInflater(const StreamInflater&) = delete;
    StreamInflater& operator=(const StreamInflater&) = delete;

    // Reads exactly `storedSize` bytes from `in` at its current position and
    // writes at most `expectedSize` bytes to `out`. Data that inflates to
    // more than that is damaged and stops at once, so a forged entry cannot
    // fill the disk. On Damaged, `problem` says what was wrong.
    Result inflate(std::FILE* in, std::uint64_t storedSize, OutputFile& out,
                   std::uint64_t expectedSize, std::uint64_t& written, std::uint32_t& crc,
                   std::string& problem);

private:
    Result drainOutput(OutputFile& out, std::uint64_t expectedSize, std::uint64_t& written,
                       std::uint32_t& crc, std::string& problem);

    z_stream stream_;
    bool ready_ = false;
    std::vector<unsigned char> input_;
    std::vector<unsigned char> output_;
};

} // namespace unpack
} // namespace talve
