#include "platform/win32/win32_interruption.h"

#include <cstdio>
#include <string>
#include <stdlib.h>

namespace talve {
namespace win32 {

namespace {

HANDLE instanceMutex = nullptr;
std::string mutexProblem;
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
    const std::string fullName = "Global\\" + name;
    HANDLE mutex = CreateMutexA(nullptr, TRUE, fullName.c_str());
    const DWORD error = GetLastError();
    mutexProblem.clear();
    if (mutex == nullptr) {
        // Any user may make an object of that name first.
        std::string what;
        if (error == ERROR_INVALID_HANDLE) what = "an object of another kind holds the name";
        else if (error == ERROR_ACCESS_DENIED) what = "a mutex of that name exists that this user may not open";
        else what = "the system refused it (error " + std::to_string(error) + ")";
        mutexProblem = "The mutex \"" + fullName + "\" cannot be used: " + what +
                       ". No installer can take the lock while it is there.";
        return InstanceLockResult::Unavailable;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return InstanceLockResult::HeldElsewhere;
    }
    instanceMutex = mutex;
    mutexOwnership = 1;
    return InstanceLockResult::Taken;
}

const std::string& instanceMutexProblem() { return mutexProblem; }

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
