#pragma once

#include "stream_deflater.h"

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

namespace talve {
namespace archive {

enum class FrameWriteFailure { None, Read, Write, SizeChanged, Compressor };

// Writes the stored data of a zstd file entry to `out` at its current
// position: the list of frame sizes, then each kZstdFrameSize piece of `in`
// compressed on its own at `level`. `size` is what `in` holds; input that
// turns out longer or shorter (a file changing while it is packed) fails
// with SizeChanged. The compressor's settings are pinned (no checksum, the
// content size in every frame, one thread) so that any writer on the same
// zstd version produces the same bytes.
bool writeZstdFrames(std::istream& in, std::uint64_t size, int level, std::FILE* out, DeflateResult& result,
                     FrameWriteFailure& failure);

} // namespace archive
} // namespace talve
