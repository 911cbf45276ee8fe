#include "saver/LastChance_win.h"

#include <atomic>
#include <cstdlib>
#include <exception>

namespace lumora {
namespace {

// Plain globals: the filter runs when nothing else in the process can be trusted.
std::atomic<RestoreSteps> g_restore{nullptr};
void* g_context = nullptr;
HWND g_window = nullptr;

void RestoreOnce() {
    const RestoreSteps restore = g_restore.exchange(nullptr);
    if (!restore) return;
    // The pointer's display count belongs to the input state of the thread
    // that hid it; a fault on another thread joins that state first.
    const DWORD ownerThread = ::GetWindowThreadProcessId(g_window, nullptr);
    const DWORD thisThread = ::GetCurrentThreadId();
    const bool attached = ownerThread && ownerThread != thisThread && ::AttachThreadInput(thisThread, ownerThread, TRUE);
    restore(g_context);
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

void InstallLastChance(HWND window, RestoreSteps restore, void* context) {
    g_window = window;
    g_context = context;
    g_restore.store(restore);
    ::SetUnhandledExceptionFilter(LastChanceFilter);
    std::set_terminate(LastChanceTerminate);
}

void DisarmLastChance() { g_restore.store(nullptr); }

}  // namespace lumora
