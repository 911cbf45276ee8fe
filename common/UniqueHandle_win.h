#pragma once
// One move-only owner for every kind of handle: the alias names the kind, the
// template makes sure it is released exactly once.
#include <windows.h>
#include <imm.h>

#include <cstdint>
#include <utility>

namespace lumora {

// InvalidValue is the "holds nothing" value as an integer, since a pointer
// constant like INVALID_HANDLE_VALUE cannot be a template argument.
template <typename Handle, auto Close, std::intptr_t InvalidValue = 0>
class UniqueHandle {
    static Handle Invalid() noexcept { return reinterpret_cast<Handle>(InvalidValue); }

public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) noexcept : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Invalid(); }
    Handle release() noexcept { return std::exchange(h_, Invalid()); }
    void reset(Handle h = Invalid()) noexcept {
        Handle old = std::exchange(h_, h);
        if (old != Invalid()) Close(old);
    }
    // For out-parameters: releases what is held and hands out the slot.
    Handle* put() noexcept {
        reset();
        return &h_;
    }

private:
    Handle h_ = Invalid();
};

inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) noexcept { ::FindClose(h); }
inline void CloseKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void DeleteGdiObject(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void DeleteMemoryDc(HDC h) noexcept { ::DeleteDC(h); }
inline void DestroyIconHandle(HICON h) noexcept { ::DestroyIcon(h); }
inline void DestroyMenuHandle(HMENU h) noexcept { ::DestroyMenu(h); }
inline void FreeLibraryHandle(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void UnmapView(void* view) noexcept { ::UnmapViewOfFile(view); }
inline void UnregisterPowerNotify(HPOWERNOTIFY h) noexcept { ::UnregisterPowerSettingNotification(h); }

using UniqueKernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
// CreateFileW fails with INVALID_HANDLE_VALUE, not null.
using UniqueFile = UniqueHandle<HANDLE, CloseKernelHandle, -1>;
using UniqueFind = UniqueHandle<HANDLE, CloseFind, -1>;
using UniqueKey = UniqueHandle<HKEY, CloseKey>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject>;
using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;
using UniqueIcon = UniqueHandle<HICON, DestroyIconHandle>;
using UniqueMenu = UniqueHandle<HMENU, DestroyMenuHandle>;
using UniqueModule = UniqueHandle<HMODULE, FreeLibraryHandle>;
using UniqueView = UniqueHandle<void*, UnmapView>;  // MapViewOfFile
using UniquePowerNotify = UniqueHandle<HPOWERNOTIFY, UnregisterPowerNotify>;  // RegisterPowerSettingNotification

// Undoes a SelectObject when the scope ends.
class SelectObjectScope {
public:
    SelectObjectScope(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(::SelectObject(dc, obj)) {}
    ~SelectObjectScope() { ::SelectObject(dc_, old_); }
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// BeginPaint/EndPaint as one scope.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) noexcept : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd_, &ps_); }
    ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const noexcept { return dc_; }
    const RECT& dirty() const noexcept { return ps_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};

// A window DC from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// CoInitializeEx/CoUninitialize for the life of a scope.
class ComScope {
public:
    explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED) noexcept : hr_(::CoInitializeEx(nullptr, model)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const noexcept { return SUCCEEDED(hr_); }
    HRESULT result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace lumora
