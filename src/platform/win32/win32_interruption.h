#pragma once

// The Windows side of the single-instance lock, the console control handler
// and the exit handler.

#include "platform/interruption_gate.h"
#include "platform/platform.h"

#include <windows.h>

#include <functional>
#include <string>

namespace talve {
namespace win32 {

// The one gate of the process: child processes start through it.
InterruptionGate& processGate();

InstanceLockResult createInstanceMutex(const std::string& name);
// What stood in the way of the last Unavailable answer.
const std::string& instanceMutexProblem();
bool confirmInstanceMutex();
void releaseInstanceMutex();

// Stops a child the gate knows, with every process it started.
void stopChild(InterruptionGate::ChildId child, UINT exitCode);

bool installConsoleControlHandler(std::function<void()> onInterrupt);
// Ctrl-C and Ctrl-Break end the run: the installer child is given a moment
// to end on the event the console gave it too, and is stopped otherwise; the
// clean-up runs; the process ends with STATUS_CONTROL_C_EXIT, as the system's
// own handling would. Other events are left to the system. Public so that a
// test can call it where the system cannot deliver Ctrl-C (Wine).
BOOL WINAPI consoleControlHandler(DWORD event);

bool runAtExit(std::function<void()> handler);

} // namespace win32
} // namespace talve
