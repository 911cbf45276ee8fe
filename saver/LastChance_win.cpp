#include "saver/LastChance_win.h"

#include <atomic>
#include <cstdlib>
#include <exception>

namespace lumora {
namespace {

// Plain globals: the filter runs when nothing else in the process can be trusted.
enum State : int { kNone, kArmed, kTakenByFault };
std::atomic<int> g_state{kNone};
Desktop* g_desktop = nullptr;

void RestoreOnce() {
    int armed = kArmed;
    if (!g_state.compare_exchange_strong(armed, kTakenByFault)) return;
    Desktop& desktop = *g_desktop;
    // The pointer's display count belongs to the input state of the thread
    // that hid it; a fault on another thread joins that state first.
    const DWORD ownerThread = ::GetWindowThreadProcessId(desktop.window(), nullptr);
    const DWORD thisThread = ::GetCurrentThreadId();
    const bool attached = ownerThread && ownerThread != thisThread && ::AttachThreadInput(thisThread, ownerThread, TRUE);
    desktop.GiveBack();
    if (attached) ::AttachThreadInput(thisThread, ownerThread, FALSE);
}

LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS*) {
    RestoreOnce();
    // No crash dialog over a screen saver: the process ends with the fault's code.
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void LastChanceTerminate() {
    RestoreOnce();
    ::TerminateProcess(::GetCurrentProcess(), 3);
    std::abort();
}

}  // namespace

void InstallLastChance(Desktop& desktop) {
    g_desktop = &desktop;
    g_state = kArmed;
    ::SetUnhandledExceptionFilter(LastChanceFilter);
    std::set_terminate(LastChanceTerminate);
}

bool DisarmLastChance() {
    int state = kArmed;
    return g_state.compare_exchange_strong(state, kNone) || state != kTakenByFault;
}

}  // namespace lumora
