// Test helpers: pump bounded, read window pixels, save a window as a picture.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace test_capture {

inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 3000) {
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

inline void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

// A visible top-level window of a plain white class, made for `wnd` (a CWnd with the test's
// message map): the parent that window tests put their pages and rows in.
template <class Wnd>
inline BOOL CreatePlainWindow(Wnd& wnd, const wchar_t* className, const RECT& rect) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);  // fails harmlessly when already registered
    return wnd.CreateEx(0, className, className, WS_OVERLAPPEDWINDOW | WS_VISIBLE, rect, nullptr, 0);
}

// Pixel of the window at (x, y) in window coordinates, as the screen shows it.
inline COLORREF WindowPixel(HWND hWnd, int x, int y) {
    HDC dc = GetWindowDC(hWnd);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hWnd, dc);
    return c;
}

// Writes the window as the screen shows it to dir/name.bmp (converted to PNG after the run).
inline void SaveWindow(HWND hWnd, const std::string& name) {
#ifdef FERRANT_SCREENSHOT_DIR
    RECT r;
    GetWindowRect(hWnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    HDC src = GetWindowDC(hWnd);
    HDC mem = CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    GdiFlush();
    int stride = (w * 3 + 3) & ~3;
    std::string path = std::string(FERRANT_SCREENSHOT_DIR) + "/" + name + ".bmp";
    CreateDirectoryA(FERRANT_SCREENSHOT_DIR, nullptr);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * h);
        std::fwrite(&fh, sizeof(fh), 1, f);
        std::fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f);
        std::fwrite(bits, static_cast<size_t>(stride) * h, 1, f);
        std::fclose(f);
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(hWnd, src);
#else
    (void)hWnd;
    (void)name;
#endif
}

}  // namespace test_capture
