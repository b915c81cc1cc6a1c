#pragma once

#include <string>

namespace talve {
namespace archive {

// The rules that keep an archive inside the unpack folder. The writer
// applies them to refuse what the unpacker would refuse later; the unpacker
// applies them again because the file it reads may be hostile.

// A line feed or NUL in a name would make listings and messages lie about
// what is unpacked; no runtime needs control characters in its names.
bool hasControlCharacter(const std::string& text);

// A relative path of plain names: not empty, no leading separator, no drive
// letter or other ":", no control character (line feed, NUL, ...), no "."
// or ".." and no empty component. Both "/" and
// "\" count as separators, since Windows reads either.
bool isSafeEntryPath(const std::string& path);

// A link target that stays inside the unpack folder when resolved from the
// folder holding the link at `linkPath`: relative, with every ".." at its
// start and no more of them than the link is deep. A ".." after a name could
// climb out through another link ("x/.." where x links to "."), so it is
// refused even where the words alone would stay inside.
bool isSafeLinkTarget(const std::string& linkPath, const std::string& target);

// The path for a message or a listing, control characters written as
// "\x0a" and the like, so that it stays on one line.
std::string printablePath(const std::string& path);

} // namespace archive
} // namespace talve
