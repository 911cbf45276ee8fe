#pragma once
// The trail a failed step leaves for whoever investigates: one line of debug
// output, which a debug-output viewer shows and nothing writes to disk.
#include <windows.h>

#include <string>

namespace lumora {

inline void Trail(std::wstring line) {
    line += L'\n';
    ::OutputDebugStringW(line.c_str());
}

}  // namespace lumora
