#pragma once

// The layout of the bootstrap table appended to the launcher. This header is
// the single definition shared by the launcher's reader and by talve-pack's
// writer: change one, and the other follows.
//
// File: launcher, zero padding to a multiple of 1,024 bytes, the 32-byte
// marker, eight 64-byte rows, then the payloads, each starting on a 4 KiB
// boundary with zeros before it (the rows' positions say where; the reader
// needs no alignment, installers of earlier packers have none). Integers are
// unsigned 32-bit little-endian; texts are NUL-padded and need no terminator
// when they fill their field.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace talve {
namespace table {

constexpr std::uint32_t alignment = 1024;
// Where the file system can share blocks, the launcher's copy of a payload
// that starts on a block boundary costs no data written.
constexpr std::uint32_t payloadAlignment = 4096;
constexpr std::size_t markerSize = 32;
constexpr std::size_t entryCount = 8;
constexpr std::size_t entrySize = 64;

constexpr std::size_t idOffset = 0, idWidth = 8;
constexpr std::size_t positionOffset = 8;
constexpr std::size_t lengthOffset = 12;
constexpr std::size_t diskspaceOffset = 16;
constexpr std::size_t filenameOffset = 20, filenameWidth = 12;
constexpr std::size_t data1Offset = 32, data1Width = 16;
constexpr std::size_t data2Offset = 48, data2Width = 16;

// The launcher reads the usage text and the argument specification whole
// into buffers of these sizes; a payload of the size or more is skipped.
constexpr std::size_t usageLimit = 4096;
constexpr std::size_t argumentsLimit = 8192;

// Rows in file order.
enum EntryIndex : int {
    splashEntry = 0,
    jvmEntry = 1,
    jarEntry = 2,
    dataEntry = 3,
    usageEntry = 4,
    jvmCheckingJarEntry = 5,
    requirementEntry = 6,
    argumentsEntry = 7,
};

// The installer jar's row leaves data1 unused by older launchers; this
// keyword there makes the run behave as if -console were given, for
// installers that talk to the user on the console.
inline constexpr const char* consoleKeyword = "console";

// The marker is put together at run time from pieces kept apart, so that the
// complete marker never stands in the launcher's own code or data, where the
// table search would find it.
std::string buildMarker();

// Offset of the marker in a file read from its start, on a 1,024-byte
// boundary; none when the file ends first. The read position is left
// somewhere after the marker: callers seek to where they want to read.
std::optional<std::uint64_t> findMarker(std::FILE* file);
// True when the marker is at the file's read position.
bool markerAt(std::FILE* file);

// A payload is written under its row's file name in the run's private
// directory, so the name must stay a name: no separator of any system, no
// drive, not "." or "..", nothing that could lead the file out of there.
bool isPlainFileName(const std::string& name);
// The rule above in words, for the packer's refusal.
inline constexpr const char* plainFileNameRule =
    "a stored name may hold no '/', '\\', ':' or control character and may not be '.' or '..'";

} // namespace table
} // namespace talve
