#pragma once
// File-system redirection for a 32-bit build on 64-bit Windows.
#include <windows.h>

namespace lumora {

// Turns off file-system redirection on this thread for the life of the scope,
// so that a 32-bit build sees the native System32 instead of SysWOW64. Nothing
// in a 64-bit build, which is never redirected, nor on 32-bit Windows, where
// the call fails and there is nothing to put back. Keep the scope to the calls
// that need it: everything on the thread, DLL loads included, sees the native
// folders meanwhile.
class Wow64FsRedirectionOff {
public:
#ifdef _WIN64
    Wow64FsRedirectionOff() noexcept = default;
#else
    Wow64FsRedirectionOff() noexcept : off_(::Wow64DisableWow64FsRedirection(&old_) != FALSE) {}
    ~Wow64FsRedirectionOff() {
        if (off_) ::Wow64RevertWow64FsRedirection(old_);
    }
#endif
    Wow64FsRedirectionOff(const Wow64FsRedirectionOff&) = delete;
    Wow64FsRedirectionOff& operator=(const Wow64FsRedirectionOff&) = delete;

#ifndef _WIN64
private:
    PVOID old_ = nullptr;
    bool off_;
#endif
};

}  // namespace lumora
