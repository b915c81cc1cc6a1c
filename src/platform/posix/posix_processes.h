#pragma once

// Child processes on POSIX. Each child runs in a process group of its own,
// so that an interruption reaches, and the stop after it ends, whatever the
// child started too.

#include "platform/platform.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace talve {
namespace posix {

// Runs a program and waits for its end. With a limit, a program still
// running then is stopped with its whole group, and the outcome says so.
ProcessOutcome spawnAndWait(const std::vector<std::string>& arguments, bool detach, bool discardOutput,
                            std::optional<std::chrono::milliseconds> limit = std::nullopt);
// Standard output to the null device, the first `limit` bytes of standard
// error kept. The run ends when the program ends, even when something it
// started still holds the error pipe open.
ProcessOutcome spawnKeepingErrors(const std::vector<std::string>& arguments, std::size_t limit, std::string& errors);

// For the interruption handler: true once for a signal that the terminal
// has already given to the running child's group (the launcher learnt of it
// from there), so that the group does not get it twice.
bool takeSignalFromTerminal(int signalNumber);
// Takes the terminal back from a child's group that still has it.
void reclaimTerminal();

} // namespace posix
} // namespace talve
