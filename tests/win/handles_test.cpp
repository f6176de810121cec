// The handle owners close exactly what they own, once, and hand it over on move.
#include "win/handles.h"

#include <gtest/gtest.h>

namespace {

bool KernelHandleOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST(Handles, KernelHandleClosedAtScopeEndAndNotBeforeAfterMove) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(raw);
    {
        win::Handle a(raw);
        win::Handle b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(raw, b.Get());
        EXPECT_TRUE(KernelHandleOpen(raw));
        win::Handle c;
        c = std::move(b);
        EXPECT_TRUE(KernelHandleOpen(raw));
    }
    EXPECT_FALSE(KernelHandleOpen(raw));
}

TEST(Handles, ResetClosesTheOldHandleAndReleaseGivesItUp) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE kept = nullptr;
    {
        win::Handle h(first);
        h.Reset(second);
        EXPECT_FALSE(KernelHandleOpen(first));
        EXPECT_TRUE(KernelHandleOpen(second));
        kept = h.Release();
        EXPECT_FALSE(h.Valid());
    }
    EXPECT_TRUE(KernelHandleOpen(kept));
    CloseHandle(kept);
}

TEST(Handles, InvalidHandleValueCountsAsEmpty) {
    win::Handle h(INVALID_HANDLE_VALUE);  // what CreateFile returns on failure
    EXPECT_FALSE(h.Valid());
    EXPECT_FALSE(static_cast<bool>(h));
}

TEST(Handles, GdiObjectsAndMemoryDcAreDeleted) {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HFONT font = CreateFontW(15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    HBITMAP bmp = CreateBitmap(4, 4, 1, 32, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(brush && font && bmp && dc);
    {
        win::Brush b(brush);
        win::Font f(font);
        win::Bitmap m(bmp);
        win::MemoryDC d(dc);
        EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(brush));
        EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(dc));
    }
    EXPECT_EQ(0u, GetObjectType(brush));
    EXPECT_EQ(0u, GetObjectType(font));
    EXPECT_EQ(0u, GetObjectType(bmp));
    EXPECT_EQ(0u, GetObjectType(dc));
}

TEST(Handles, SelectGuardPutsThePreviousObjectBack) {
    win::MemoryDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ before = GetCurrentObject(dc.Get(), OBJ_BRUSH);
    win::Brush red(CreateSolidBrush(RGB(255, 0, 0)));
    {
        win::SelectGuard sel(dc.Get(), red.Get());
        EXPECT_EQ(red.Get(), GetCurrentObject(dc.Get(), OBJ_BRUSH));
    }
    EXPECT_EQ(before, GetCurrentObject(dc.Get(), OBJ_BRUSH));
}

TEST(Handles, IconIsDestroyed) {
    BYTE andBits[32 * 4];
    BYTE xorBits[32 * 4];
    memset(andBits, 0xFF, sizeof andBits);
    memset(xorBits, 0, sizeof xorBits);
    HICON raw = CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, andBits, xorBits);
    ASSERT_TRUE(raw);
    ICONINFO info = {};
    {
        win::Icon icon(raw);
        ASSERT_TRUE(GetIconInfo(raw, &info));
        DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    EXPECT_FALSE(GetIconInfo(raw, &info));
}

TEST(Handles, ModuleIsFreed) {
    // A DLL that nothing else in this process loads.
    ASSERT_EQ(nullptr, GetModuleHandleW(L"wtsapi32.dll"));
    {
        win::Module m(LoadLibraryW(L"wtsapi32.dll"));
        ASSERT_TRUE(m.Valid());
        EXPECT_NE(nullptr, GetModuleHandleW(L"wtsapi32.dll"));
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"wtsapi32.dll"));
}

TEST(Handles, MappedViewIsUnmapped) {
    win::Handle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
    ASSERT_TRUE(mapping.Valid());
    void* view = MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 4096);
    ASSERT_TRUE(view);
    MEMORY_BASIC_INFORMATION mbi = {};
    {
        win::MappedView v(view);
        static_cast<char*>(v.Get())[0] = 1;
        ASSERT_EQ(sizeof mbi, VirtualQuery(view, &mbi, sizeof mbi));
        EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), mbi.Type);
    }
    ASSERT_EQ(sizeof mbi, VirtualQuery(view, &mbi, sizeof mbi));
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), mbi.State);
}

TEST(Handles, WindowDcIsReleased) {
    HWND wnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(wnd);
    HDC dc = nullptr;
    {
        win::WindowDC wdc(wnd);
        dc = wdc.Get();
        ASSERT_TRUE(dc);
        EXPECT_EQ(wnd, WindowFromDC(dc));
    }
    // A released common DC no longer belongs to the window.
    EXPECT_NE(wnd, WindowFromDC(dc));
    DestroyWindow(wnd);
}

} // namespace
