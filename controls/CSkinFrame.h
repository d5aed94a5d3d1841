// Paints a bitmap skin over a dialog's non-client area (caption bar, one-pixel borders, close,
// minimise and menu buttons) and makes those buttons work. Not a window: the dialog holds one
// and forwards its messages.
#pragma once

#include <functional>

#include "controls/MenuTracker.h"
#include "framework/AfxWin.h"

class CSkinFrame {
public:
    enum : UINT {
        kLeftBorder = 155,
        kRightBorder = 157,
        kCaption = 171,
        kBottomBorder = 158,
        kCloseButton = 172,
        kMinimiseButton = 173,
        kMenuButton = 174,
        kRestoreButton = 161,
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
    static MenuTracker& Tracker();

    int HotCode() const { return m_nHot; }
    int LeftWidth() const { return m_nLeft; }
    int RightWidth() const { return m_nRight; }
    int CaptionHeight() const { return m_nTop; }
    int BottomHeight() const { return m_nBottom; }
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

    HDC m_hComposeDC = nullptr, m_hBitmapDC = nullptr, m_hRegionDC = nullptr;
    // Order: left, caption, right, bottom, menu, minimise, restore, close.
    enum { iLeft, iCaption, iRight, iBottom, iMenu, iMinimise, iRestore, iClose, kBitmaps };
    HBITMAP m_hBitmaps[kBitmaps] = {};
    HBITMAP m_hOffscreen = nullptr, m_hOffscreenOld = nullptr;
    HFONT m_hFont = nullptr, m_hFontOld = nullptr;
    BITMAP m_info[kBitmaps] = {};
    RECT m_buttons[4] = {};  // distance-from-right form; [3] restore
    RECT m_saved = {};
    int m_nSideCap = 29;
    int m_nLeftMidEnd = 30, m_nRightMidEnd = 30, m_nCaptionMidEnd = 41, m_nBottomMidEnd = 41;
    int m_nLeft = 0, m_nRight = 0, m_nTop = 0, m_nBottom = 0;
    wchar_t m_szTitle[255] = {};
    HINSTANCE m_hModule = nullptr;
    HWND m_hWnd = nullptr;
    COLORREF m_crTransparent = RGB(255, 0, 255);
    bool m_bResizable = false, m_bShowMenu = true, m_bShowMinimise = true;
    int m_nState = 0;
    int m_nHot = 0, m_nLastHot = 0;
    bool m_bUseRegion = false;
    CMenu m_menu;
    bool m_bHasMenu = false;
};
