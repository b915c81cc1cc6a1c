#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace talve {

// The lines of a text as a reader with a line buffer of bufferSize bytes
// takes them, but a line too long for the buffer (with its line feed and the
// terminating NUL) is left out whole: cut into pieces, its tail would pass
// for a line of its own, and a long comment could then set a value.
// Lines come without their line feed; with crLf, a CR right before a line
// feed goes too, as a text-mode reader on Windows drops it.
std::vector<std::string> linesFittingBuffer(const std::string& text, std::size_t bufferSize, bool crLf = false);

} // namespace talve
