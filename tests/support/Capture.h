// Test helpers: pump bounded, read window pixels, save a window as a picture.
#pragma once

#include <windows.h>

#include <cstdint>
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

// A picture's pixels, top row first, as COLORREF values.
struct Pixels {
    int w = 0, h = 0;
    std::vector<COLORREF> px;
    COLORREF At(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

// The w x h pixels of a device context from its origin.
inline Pixels ReadDC(HDC src, int w, int h) {
    Pixels p;
    p.w = w;
    p.h = h;
    HDC mem = CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* raw = static_cast<const DWORD*>(bits);
    for (int i = 0; i < w * h; ++i) p.px.push_back(RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF));
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    return p;
}

// The window as the screen shows it, frame included.
inline Pixels WindowPixels(HWND hWnd) {
    RECT r;
    GetWindowRect(hWnd, &r);
    HDC dc = GetWindowDC(hWnd);
    Pixels p = ReadDC(dc, r.right - r.left, r.bottom - r.top);
    ReleaseDC(hWnd, dc);
    return p;
}

// Writes the pixels as a 24-bit BMP file; false when the file cannot be written whole.
inline bool WriteBmp(const Pixels& p, const std::wstring& path) {
    if (p.w <= 0 || p.h <= 0) return false;
    const int stride = (p.w * 3 + 3) & ~3;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * p.h);
    for (int y = 0; y < p.h; ++y) {
        uint8_t* row = rows.data() + static_cast<size_t>(p.h - 1 - y) * stride;  // bottom row first
        for (int x = 0; x < p.w; ++x) {
            const COLORREF c = p.At(x, y);
            row[x * 3] = GetBValue(c);
            row[x * 3 + 1] = GetGValue(c);
            row[x * 3 + 2] = GetRValue(c);
        }
    }
    BITMAPINFOHEADER bh{};
    bh.biSize = sizeof bh;
    bh.biWidth = p.w;
    bh.biHeight = p.h;
    bh.biPlanes = 1;
    bh.biBitCount = 24;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bh);
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(rows.size());
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bh, sizeof bh, 1, f) == 1 &&
              std::fwrite(rows.data(), rows.size(), 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

// Writes the window as the screen shows it to dir/name.bmp (converted to PNG after the run).
inline void SaveWindow(HWND hWnd, const std::string& name) {
#ifdef FERRANT_SCREENSHOT_DIR
    CreateDirectoryA(FERRANT_SCREENSHOT_DIR, nullptr);
    const std::string path = std::string(FERRANT_SCREENSHOT_DIR) + "/" + name + ".bmp";
    WriteBmp(WindowPixels(hWnd), std::wstring(path.begin(), path.end()));
#else
    (void)hWnd;
    (void)name;
#endif
}

}  // namespace test_capture
