#pragma once

// Every program the launcher's children start, wherever it goes: a helper
// that makes a session of its own (as daemons do) leaves the child's process
// group, which is all an interruption would otherwise reach.

namespace talve {
namespace posix {

// Makes the launcher the parent of any descendant whose own parent ends, so
// that every descendant stays traceable to it. True when the system agreed.
bool adoptOrphanedDescendants();

// Ends, at once and for good, every process that descends from the launcher,
// whatever group or session it is in; the launcher itself goes on.
void stopAllDescendants();

// Collects the ends of adopted descendants that have ended, so that they do
// not linger as zombies; never waits.
void reapAdoptedDescendants();

} // namespace posix
} // namespace talve
