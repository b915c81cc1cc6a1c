#pragma once

// The POSIX side of the single-instance lock, the interruption signals and
// the exit handler.

#include "platform/interruption_gate.h"
#include "platform/platform.h"

#include <functional>
#include <string>

namespace talve {
namespace posix {

// The one gate of the process: child processes start through it.
InterruptionGate& processGate();

// The lock file "/tmp/<name>.lock"; takeLockFileAt takes it at any path.
InstanceLockResult takeLockFile(const std::string& name);
InstanceLockResult takeLockFileAt(const std::string& path);
// What stood in the way of the last Unavailable answer.
const std::string& lockFileProblem();
void releaseLockFile();

// SIGINT, SIGQUIT, SIGTERM and SIGHUP, except those the launcher was
// started with ignored (a job started in the background keeps ignoring Ctrl-C).
bool startSignalThread(std::function<void()> onInterrupt);
bool runAtExit(std::function<void()> handler);

} // namespace posix
} // namespace talve
