// Paints a bitmap skin over a dialog's non-client area (caption bar, one-pixel borders, close,
// minimise and menu buttons) and makes those buttons work. Not a window: the dialog holds one
// and forwards its messages.
#pragma once

#include <functional>

#include "framework/AfxWin.h"

class CSkinFrame {
public:
    enum : UINT {
        kLeftBorder = 155, kRightBorder = 157, kCaption = 171, kBottomBorder = 158,
        kCloseButton = 172, kMinimiseButton = 173, kMenuButton = 174, kRestoreButton = 161,
    };
    enum : int { kHitMenu = 8, kHitMinimise = 9 };

    CSkinFrame();
    ~CSkinFrame();
    CSkinFrame(const CSkinFrame&) = delete;
    CSkinFrame& operator=(const CSkinFrame&) = delete;

    void Init(HINSTANCE module, HWND hWnd);
    void SetCaptionMenu(UINT menuId);
    void Paint(HWND hWnd);
    LRESULT HandleMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnNcMouseMove(HWND hWnd, UINT message, UINT hitCode, LPARAM point);
    void OnNcLButtonDown(HWND hWnd, UINT message, UINT hitCode, LPARAM point);
    void OnNcLButtonUp(HWND hWnd, UINT message, UINT hitCode, LPARAM point);
    int HitTest(HWND hWnd, POINT screen) const;

    // Popup menus are tracked through this seam so tests need no mouse.
    using MenuTracker = std::function<BOOL(HMENU menu, UINT flags, int x, int y, HWND owner)>;
    static MenuTracker& Tracker();

    int HotCode() const { return m_hot; }
    int LeftWidth() const { return m_left; }
    int RightWidth() const { return m_right; }
    int CaptionHeight() const { return m_top; }
    int BottomHeight() const { return m_bottom; }
    bool IsInitialised() const { return m_hWnd != nullptr; }

private:
    enum Slot { kSlotClose, kSlotMinimise, kSlotMenu, kSlotCount };
    void LoadBitmaps();
    void CalcLayout();
    bool ButtonRect(int slot, int width, RECT* out) const;
    void DrawVertical(HDC dc, int index, int x, int height);
    void DrawCaption(HDC dc, int x0, int width);
    void DrawBottom(HDC dc, int x0, int width);
    void ApplyRegion(HWND hWnd);
    void MaximiseToWorkArea(HWND hWnd);
    void Restore(HWND hWnd);
    static void TransparentCopy(HDC dest, int x, int y, int w, int h, HBITMAP src, int sx, int sy, COLORREF key);

    HDC m_composeDC = nullptr, m_bitmapDC = nullptr, m_regionDC = nullptr;
    // Order: left, caption, right, bottom, menu, minimise, restore, close.
    enum { iLeft, iCaption, iRight, iBottom, iMenu, iMinimise, iRestore, iClose, kBitmaps };
    HBITMAP m_bitmaps[kBitmaps] = {};
    HBITMAP m_offscreen = nullptr, m_offscreenOld = nullptr;
    HFONT m_font = nullptr, m_fontOld = nullptr;
    BITMAP m_info[kBitmaps] = {};
    RECT m_buttons[4] = {};  // distance-from-right form; [3] restore
    RECT m_saved = {};
    int m_sideCap = 29;
    int m_leftMidEnd = 30, m_rightMidEnd = 30, m_captionMidEnd = 41, m_bottomMidEnd = 41;
    int m_left = 0, m_right = 0, m_top = 0, m_bottom = 0;
    wchar_t* m_title = nullptr;
    HINSTANCE m_module = nullptr;
    HWND m_hWnd = nullptr;
    bool m_loaded = false;
    COLORREF m_transparent = RGB(255, 0, 255);
    bool m_resizable = false, m_showMenu = true, m_showMinimise = true;
    int m_state = 0;
    int m_hot = 0, m_lastHot = 0;
    bool m_useRegion = false;
    CMenu m_menu;
    bool m_hasMenu = false;
};
