#include "stream_deflater.h"

#include "archive_format.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace talve {
namespace archive {
namespace {

constexpr std::size_t kBufferSize = 1u << 18;
// Runtimes compress far less than text; beyond this level packing takes
// much longer for a few percent.
constexpr int kCompressionLevel = 6;

class Deflater {
public:
    Deflater() { std::memset(&stream_, 0, sizeof stream_); ready_ = deflateInit(&stream_, kCompressionLevel) == Z_OK; }
    ~Deflater() { if (ready_) deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_;
    bool ready_ = false;
};

} // namespace

bool deflateStream(std::istream& in, std::FILE* out, DeflateResult& result, bool& readFailed) {
    result = DeflateResult();
    readFailed = false;
    Deflater deflater;
    if (!deflater.ready()) return false;
    z_stream& stream = deflater.stream();
    std::vector<char> input(kBufferSize);
    std::vector<char> output(kBufferSize);

    int flush = Z_NO_FLUSH;
    do {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        if (in.bad()) {
            readFailed = true;
            return false;
        }
        if (in.eof()) flush = Z_FINISH;
        result.originalSize += got;
        result.crc = crc32Of(input.data(), got, result.crc);
        stream.next_in = reinterpret_cast<Bytef*>(input.data());
        stream.avail_in = static_cast<uInt>(got);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(output.data());
            stream.avail_out = static_cast<uInt>(output.size());
            if (deflate(&stream, flush) == Z_STREAM_ERROR) return false;
            const std::size_t produced = output.size() - stream.avail_out;
            if (std::fwrite(output.data(), 1, produced, out) != produced) return false;
            result.storedSize += produced;
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    return true;
}

} // namespace archive
} // namespace talve
