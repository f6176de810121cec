// RAII owners for Win32 handles: one template, one traits struct per way of
// closing. Every owner is move-only; Get() lends, Release() gives up ownership,
// Reset() closes what it holds and takes a new value.
//
//   win::Handle      kernel HANDLE       CloseHandle (null and INVALID_HANDLE_VALUE are "empty")
//   win::Module      HMODULE             FreeLibrary
//   win::Icon        HICON               DestroyIcon
//   win::Font / Bitmap / Brush / GdiObject   DeleteObject
//   win::MemoryDC    CreateCompatibleDC  DeleteDC
//   win::MappedView  MapViewOfFile       UnmapViewOfFile
//   win::WindowDC    GetDC(hwnd)         ReleaseDC(hwnd, dc)      (keeps the window)
//   win::SelectGuard SelectObject        selects the previous object back
#pragma once

#include <windows.h>

#include <utility>

namespace win {

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type h) noexcept : h_(h) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) Reset(o.Release());
        return *this;
    }

    Type Get() const noexcept { return h_; }
    bool Valid() const noexcept { return Traits::Valid(h_); }
    explicit operator bool() const noexcept { return Valid(); }

    Type Release() noexcept {
        Type h = h_;
        h_ = Traits::Empty();
        return h;
    }
    void Reset(Type h = Traits::Empty()) noexcept {
        if (Traits::Valid(h_)) Traits::Close(h_);
        h_ = h;
    }

private:
    Type h_ = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { DestroyIcon(h); }
};
template <class T>
struct GdiObjectTraits {
    using Type = T;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { DeleteObject(reinterpret_cast<HGDIOBJ>(h)); }
};
struct MemoryDCTraits {
    using Type = HDC;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { DeleteDC(h); }
};
struct MappedViewTraits {
    using Type = void*;
    static Type Empty() { return nullptr; }
    static bool Valid(Type h) { return h != nullptr; }
    static void Close(Type h) { UnmapViewOfFile(h); }
};

using Handle = UniqueHandle<KernelHandleTraits>;
using Module = UniqueHandle<ModuleTraits>;
using Icon = UniqueHandle<IconTraits>;
using Font = UniqueHandle<GdiObjectTraits<HFONT>>;
using Bitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using Brush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using GdiObject = UniqueHandle<GdiObjectTraits<HGDIOBJ>>;
using MemoryDC = UniqueHandle<MemoryDCTraits>;
using MappedView = UniqueHandle<MappedViewTraits>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd) noexcept : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC Get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND hwnd_;
    HDC dc_;
};

// Selects an object into a DC and selects the previous one back at scope end.
// A null object selects nothing (and restores nothing).
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) noexcept
        : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
    ~SelectGuard() {
        if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace win
