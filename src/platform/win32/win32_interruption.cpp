#include "platform/win32/win32_interruption.h"

#include <cstdio>
#include <stdlib.h>

namespace talve {
namespace win32 {

namespace {

HANDLE instanceMutex = nullptr;
// Creation with initial ownership and a successful wait each count once.
int mutexOwnership = 0;

// Never destroyed: the handler thread and the exit handler may use them
// while static objects are being torn down.
std::function<void()>* interruptHandler = nullptr;
std::function<void()>* exitHandler = nullptr;

int __cdecl callExitHandler() {
    processGate().close();
    if (exitHandler != nullptr) (*exitHandler)();
    return 0;
}

} // namespace

namespace {
// Made before main, so that no thread can race its first use; never destroyed.
InterruptionGate* const gate = new InterruptionGate;
} // namespace

InterruptionGate& processGate() { return *gate; }

InstanceLockResult createInstanceMutex(const std::string& name) {
    // No security attributes: the handle is not inheritable, so an installer
    // left running never keeps the mutex alive.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, ("Global\\" + name).c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) return InstanceLockResult::Unavailable;
    if (error == ERROR_ALREADY_EXISTS) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return InstanceLockResult::HeldElsewhere;
    }
    instanceMutex = mutex;
    mutexOwnership = 1;
    return InstanceLockResult::Taken;
}

bool confirmInstanceMutex() {
    const DWORD waited = WaitForSingleObject(instanceMutex, 0);
    if (waited == WAIT_FAILED) return false;
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ++mutexOwnership;
    return true;
}

// From the console control handler's thread, which does not own the mutex,
// ReleaseMutex fails; closing the last handle ends the mutex all the same.
void releaseInstanceMutex() {
    if (instanceMutex == nullptr) return;
    for (; mutexOwnership > 0; --mutexOwnership) ReleaseMutex(instanceMutex);
    CloseHandle(instanceMutex);
    instanceMutex = nullptr;
}

bool installConsoleControlHandler(std::function<void()> onInterrupt) {
    if (interruptHandler != nullptr) return false;
    interruptHandler = new std::function<void()>(std::move(onInterrupt));
    return SetConsoleCtrlHandler(consoleControlHandler, TRUE) != FALSE;
}

BOOL WINAPI consoleControlHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // A second Ctrl-C while the first is handled changes nothing.
    if (!processGate().begin()) return TRUE;
    InterruptionSteps steps;
    // The console gives Ctrl-C to every process on it; what the child
    // started off the console, or what ignores the event, is stopped with it.
    steps.stop = [](InterruptionGate::ChildId child) { stopChild(child, STATUS_CONTROL_C_EXIT); };
    if (interruptHandler != nullptr) steps.cleanUp = *interruptHandler;
    runInterruption(processGate(), steps);
    std::fflush(nullptr);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool runAtExit(std::function<void()> handler) {
    if (exitHandler != nullptr) return false;
    exitHandler = new std::function<void()>(std::move(handler));
    return _onexit(callExitHandler) != nullptr;
}

} // namespace win32
} // namespace talve
