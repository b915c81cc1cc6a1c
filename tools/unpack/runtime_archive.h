#pragma once

#include "archive_format.h"

#include <cstdint>
#include <string>

namespace talve {

// How file data is compressed. zstd at level 19 makes the smallest runtimes
// that still unpack fastest; deflate is what earlier versions wrote.
struct RuntimeCompression {
    static constexpr int kDefaultZstdLevel = 19;
    static constexpr int kMinZstdLevel = 1;
    static constexpr int kMaxZstdLevel = 22;
    archive::Codec codec = archive::Codec::Zstd;
    int zstdLevel = kDefaultZstdLevel;
};

// Makes a packed runtime: a copy of `unpackerStub` (talve-unpack built for
// the runtime's system) followed by the archive of `runtimeDir`, written to
// `output` and made executable. A "jvm.properties" naming bin/java, or
// bin/java.exe for a Windows runtime, is added when the folder has none.
// `unpackedBytes` is the disk space the unpacked runtime takes, each file
// and folder rounded up to whole 4 KiB blocks. On failure `error` names the
// file and the problem, and no output is left behind.
bool writePackedRuntime(const std::string& runtimeDir, const std::string& unpackerStub,
                        const std::string& output, std::uint64_t& unpackedBytes,
                        std::string& error, const RuntimeCompression& compression = RuntimeCompression());

} // namespace talve
