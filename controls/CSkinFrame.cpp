#include "controls/CSkinFrame.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {
const UINT kBitmapIds[] = {CSkinFrame::kLeftBorder,    CSkinFrame::kCaption,    CSkinFrame::kRightBorder,
                           CSkinFrame::kBottomBorder,  CSkinFrame::kMenuButton, CSkinFrame::kMinimiseButton,
                           CSkinFrame::kRestoreButton, CSkinFrame::kCloseButton};
}

MenuTracker& CSkinFrame::Tracker() {
    static MenuTracker tracker = [](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return ::TrackPopupMenu(menu, flags, x, y, 0, owner, nullptr);
    };
    return tracker;
}

CSkinFrame::CSkinFrame() = default;

CSkinFrame::~CSkinFrame() {
    for (HBITMAP& b : m_hBitmaps)
        if (b) {
            DeleteObject(b);
            b = nullptr;
        }
    if (m_hOffscreen) {
        SelectObject(m_hComposeDC, m_hOffscreenOld);
        DeleteObject(m_hOffscreen);
    }
    for (HDC dc : {m_hComposeDC, m_hBitmapDC, m_hRegionDC})
        if (dc) DeleteDC(dc);
    if (m_hFont) DeleteObject(m_hFont);
    m_menu.DestroyMenu();
}

void CSkinFrame::Init(HINSTANCE module, HWND hWnd) {
    m_hModule = module;
    m_hWnd = hWnd;
    HDC wdc = GetWindowDC(hWnd);
    if (!m_hComposeDC) m_hComposeDC = CreateCompatibleDC(wdc);
    if (!m_hBitmapDC) m_hBitmapDC = CreateCompatibleDC(wdc);
    if (!m_hRegionDC) m_hRegionDC = CreateCompatibleDC(wdc);
    ReleaseDC(hWnd, wdc);
    if (!m_hFont) {
        LOGFONTW lf{};
        lf.lfHeight = 12;
        lf.lfWeight = FW_BOLD;
        lf.lfCharSet = DEFAULT_CHARSET;
        lstrcpyW(lf.lfFaceName, L"宋体");
        m_hFont = CreateFontIndirectW(&lf);
    }
    if (module) LoadBitmaps();
    CalcLayout();
    LONG style = GetWindowLongW(hWnd, GWL_STYLE);
    m_bResizable = (style & WS_THICKFRAME) != 0;
    m_bShowMenu = (style & WS_MINIMIZEBOX) != 0;
    m_bShowMinimise = (style & WS_MAXIMIZEBOX) != 0;
    SetWindowLongW(hWnd, GWL_STYLE, style & ~(WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU));
}

void CSkinFrame::LoadBitmaps() {
    for (int i = 0; i < kBitmaps; ++i) {
        if (m_hBitmaps[i]) DeleteObject(m_hBitmaps[i]);
        m_hBitmaps[i] = LoadBitmapW(m_hModule, MAKEINTRESOURCEW(kBitmapIds[i]));
    }
}

void CSkinFrame::SetCaptionMenu(UINT menuId) {
    m_menu.DestroyMenu();
    LPCWSTR name = MAKEINTRESOURCEW(menuId);
    m_menu.Attach(LoadMenuW(AfxFindResourceHandle(name, RT_MENU), name));
    m_bHasMenu = m_menu.m_hMenu != nullptr;
}

void CSkinFrame::CalcLayout() {
    for (int i = 0; i < kBitmaps; ++i) {
        m_info[i] = BITMAP{};
        if (m_hBitmaps[i]) GetObjectW(m_hBitmaps[i], sizeof(BITMAP), &m_info[i]);
    }
    m_nLeft = m_info[iLeft].bmWidth / 2;
    m_nRight = m_info[iRight].bmWidth / 2;
    m_nTop = m_info[iCaption].bmHeight;
    m_nBottom = m_info[iBottom].bmHeight / 2;
    m_nSideCap = 29;
    auto raise = [](int v, int limit, int to) { return v <= limit ? to : v; };
    m_nLeftMidEnd = raise(m_info[iLeft].bmHeight - 29, 29, 30);
    m_nRightMidEnd = raise(m_info[iRight].bmHeight - 29, 29, 30);
    m_nCaptionMidEnd = raise(m_info[iCaption].bmWidth - 60, 40, 41);
    m_nBottomMidEnd = raise(m_info[iBottom].bmWidth - 60, 40, 41);
    m_crTransparent = RGB(255, 0, 255);
    m_bUseRegion = true;
    auto place = [](RECT& r, int from, const BITMAP& bm) { r = RECT{from - bm.bmWidth / 2, 4, from, bm.bmHeight + 4}; };
    place(m_buttons[kSlotMenu], 74, m_info[iMenu]);
    place(m_buttons[kSlotMinimise], 50, m_info[iMinimise]);
    place(m_buttons[kSlotClose], 27, m_info[iClose]);
    place(m_buttons[3], 50, m_info[iRestore]);
}

bool CSkinFrame::ButtonRect(int slot, int width, RECT* out) const {
    const RECT* r = nullptr;
    if (slot == kSlotClose && m_hBitmaps[iClose]) r = &m_buttons[kSlotClose];
    if (slot == kSlotMinimise && m_hBitmaps[iMinimise] && m_hBitmaps[iRestore])
        r = m_nState == 1 ? &m_buttons[3] : &m_buttons[kSlotMinimise];
    if (slot == kSlotMenu && m_hBitmaps[iMenu]) r = &m_buttons[kSlotMenu];
    if (!r) return false;
    *out = RECT{width - r->right, r->top, width - r->left, r->bottom};
    return true;
}

int CSkinFrame::HitTest(HWND hWnd, POINT screen) const {
    RECT wr;
    GetWindowRect(hWnd, &wr);
    POINT p{screen.x - wr.left, screen.y - wr.top};
    int W = wr.right - wr.left, H = wr.bottom - wr.top;
    RECT r;
    if (ButtonRect(kSlotClose, W, &r) && PtInRect(&r, p)) return HTCLOSE;
    if (m_bShowMenu && ButtonRect(kSlotMenu, W, &r) && PtInRect(&r, p)) return kHitMenu;
    if (m_bShowMinimise && ButtonRect(kSlotMinimise, W, &r) && PtInRect(&r, p)) return kHitMinimise;
    RECT icon{m_nLeft, 5, m_nLeft + GetSystemMetrics(SM_CXSMICON), 5 + GetSystemMetrics(SM_CYSMICON)};
    if (PtInRect(&icon, p)) return HTSYSMENU;
    if (m_bResizable && m_nState != 1) {
        const struct {
            RECT r;
            int code;
        } sizing[] = {
            {{0, 0, m_nLeft, m_nTop}, HTTOPLEFT},
            {{W - m_nRight, 0, W, m_nTop}, HTTOPRIGHT},
            {{0, H - m_nBottom, m_nLeft, H}, HTBOTTOMLEFT},
            {{W - m_nRight, H - m_nBottom, W, H}, HTBOTTOMRIGHT},
            {{0, m_nTop, m_nLeft, H - m_nBottom}, HTLEFT},
            {{W - m_nRight, m_nTop, W, H - m_nBottom}, HTRIGHT},
            {{m_nLeft, H - m_nBottom, W - m_nRight, H}, HTBOTTOM},
            {{m_nLeft, 0, W - m_nRight, m_nBottom}, HTTOP},
        };
        for (const auto& s : sizing)
            if (PtInRect(&s.r, p)) return s.code;
    }
    RECT caption{m_nLeft, 5, W - m_nRight, m_nTop};
    if (PtInRect(&caption, p)) return HTCAPTION;
    return HTCLIENT;
}

void CSkinFrame::DrawVertical(HDC dc, int index, int x, int H) {
    const BITMAP& bm = m_info[index];
    if (!m_hBitmaps[index]) return;
    int midEnd = index == iLeft ? m_nLeftMidEnd : m_nRightMidEnd;
    int w = bm.bmWidth / 2;
    HGDIOBJ old = SelectObject(m_hBitmapDC, m_hBitmaps[index]);
    BitBlt(dc, x, 0, w, m_nSideCap, m_hBitmapDC, 0, 0, SRCCOPY);
    int mid = std::max(1, midEnd - m_nSideCap);
    int copies = std::max(0, (H - static_cast<int>(bm.bmHeight)) / mid + 1) + 1;
    for (int i = 0, y = m_nSideCap; i < copies && y < H; ++i, y += mid)
        BitBlt(dc, x, y, w, std::min(mid, H - y), m_hBitmapDC, 0, m_nSideCap, SRCCOPY);
    int capH = bm.bmHeight - midEnd;
    BitBlt(dc, x, H - capH, w, capH, m_hBitmapDC, 0, midEnd, SRCCOPY);
    SelectObject(m_hBitmapDC, old);
}

void CSkinFrame::DrawCaption(HDC dc, int x0, int width) {
    const BITMAP& bm = m_info[iCaption];
    if (!m_hBitmaps[iCaption]) return;
    HGDIOBJ old = SelectObject(m_hBitmapDC, m_hBitmaps[iCaption]);
    BitBlt(dc, x0, 0, 40, bm.bmHeight, m_hBitmapDC, 0, 0, SRCCOPY);
    int piece = m_nCaptionMidEnd - 40;
    for (int x = x0 + 29; x < width - m_nCaptionMidEnd; ++x)
        BitBlt(dc, x, 0, piece, bm.bmHeight, m_hBitmapDC, 40, 0, SRCCOPY);
    int capW = bm.bmWidth - 1 - m_nCaptionMidEnd;
    BitBlt(dc, x0 + width - (bm.bmWidth - m_nCaptionMidEnd), 0, capW, bm.bmHeight, m_hBitmapDC, m_nCaptionMidEnd, 0,
           SRCCOPY);
    SelectObject(m_hBitmapDC, old);
}

void CSkinFrame::DrawBottom(HDC dc, int x0, int width) {
    const BITMAP& bm = m_info[iBottom];
    if (!m_hBitmaps[iBottom]) return;
    int y = 0;
    RECT wr;
    GetWindowRect(m_hWnd, &wr);
    y = (wr.bottom - wr.top) - m_nBottom;
    int h = bm.bmHeight / 2;
    HGDIOBJ old = SelectObject(m_hBitmapDC, m_hBitmaps[iBottom]);
    BitBlt(dc, x0, y, 40, h, m_hBitmapDC, 0, 0, SRCCOPY);
    int mid = std::max(1, m_nBottomMidEnd - 40);
    int end = x0 + width;
    int copies = std::max(0, (width - static_cast<int>(bm.bmWidth)) / mid + 1) + 1;
    for (int i = 0, x = x0 + 40; i < copies && x < end; ++i, x += mid)
        BitBlt(dc, x, y, std::min(mid, end - x), h, m_hBitmapDC, 40, 0, SRCCOPY);
    BitBlt(dc, end - (bm.bmWidth - m_nBottomMidEnd), y, bm.bmWidth - 1 - m_nBottomMidEnd, h, m_hBitmapDC,
           m_nBottomMidEnd, 0, SRCCOPY);
    SelectObject(m_hBitmapDC, old);
}

void CSkinFrame::TransparentCopy(HDC dest, int x, int y, int w, int h, HBITMAP src, int sx, int sy, COLORREF key) {
    if (w <= 0 || h <= 0) return;
    HDC srcDC = CreateCompatibleDC(dest), colourDC = CreateCompatibleDC(dest), maskDC = CreateCompatibleDC(dest);
    HBITMAP colour = CreateCompatibleBitmap(dest, w, h);
    HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
    HGDIOBJ o1 = SelectObject(srcDC, src), o2 = SelectObject(colourDC, colour), o3 = SelectObject(maskDC, mask);
    BitBlt(colourDC, 0, 0, w, h, srcDC, sx, sy, SRCCOPY);
    SetBkColor(colourDC, key);
    BitBlt(maskDC, 0, 0, w, h, colourDC, 0, 0, SRCCOPY);
    SetBkColor(colourDC, 0);
    SetTextColor(colourDC, 0xFFFFFF);
    BitBlt(colourDC, 0, 0, w, h, maskDC, 0, 0, SRCAND);
    COLORREF oldBk = SetBkColor(dest, 0xFFFFFF), oldText = SetTextColor(dest, 0);
    BitBlt(dest, x, y, w, h, maskDC, 0, 0, SRCAND);
    BitBlt(dest, x, y, w, h, colourDC, 0, 0, SRCPAINT);
    SetBkColor(dest, oldBk);
    SetTextColor(dest, oldText);
    SelectObject(srcDC, o1);
    SelectObject(colourDC, o2);
    SelectObject(maskDC, o3);
    DeleteDC(srcDC);
    DeleteDC(colourDC);
    DeleteDC(maskDC);
    DeleteObject(colour);
    DeleteObject(mask);
}

void CSkinFrame::Paint(HWND hWnd) {
    if (!m_hWnd || !m_hComposeDC) return;  // not bound yet
    HDC wdc = GetWindowDC(hWnd);
    if (!wdc) return;
    RECT wr;
    GetWindowRect(hWnd, &wr);
    int W = wr.right - wr.left, H = wr.bottom - wr.top;
    RECT cr;
    GetClientRect(hWnd, &cr);
    OffsetRect(&cr, m_nLeft, m_nTop);
    ExcludeClipRect(wdc, cr.left, cr.top, cr.right, cr.bottom);

    if (m_hOffscreen) {
        SelectObject(m_hComposeDC, m_hOffscreenOld);
        DeleteObject(m_hOffscreen);
    }
    m_hOffscreen = CreateCompatibleBitmap(wdc, W, H);
    m_hOffscreenOld = static_cast<HBITMAP>(SelectObject(m_hComposeDC, m_hOffscreen));

    DrawVertical(m_hComposeDC, iLeft, 0, H);
    DrawCaption(m_hComposeDC, 0, W);
    DrawVertical(m_hComposeDC, iRight, W - m_nRight, H);
    DrawBottom(m_hComposeDC, m_nLeft, W - m_nLeft);

    int buttonHeight = m_info[iClose].bmHeight;
    int titleRight = W;
    auto drawButton = [&](int slot, int index, bool hot) {
        RECT r;
        if (!ButtonRect(slot, W, &r)) return;
        int rw = r.right - r.left;
        TransparentCopy(m_hComposeDC, r.left, r.top, rw, buttonHeight, m_hBitmaps[index], hot ? rw : 0, 0,
                        m_crTransparent);
        titleRight = std::min<int>(titleRight, r.left);
    };
    drawButton(kSlotClose, iClose, m_nHot == HTCLOSE);
    if (m_bShowMenu) drawButton(kSlotMenu, iMenu, m_nHot == kHitMenu);
    if (m_bShowMinimise) drawButton(kSlotMinimise, m_nState == 1 ? iRestore : iMinimise, m_nHot == kHitMinimise);

    int n = GetWindowTextW(hWnd, m_szTitle, static_cast<int>(std::size(m_szTitle)));
    // The title stops short of the caption buttons so a long one never paints over them.
    RECT tr{10, 0, titleRight < W ? titleRight - 4 : W, m_nTop};
    SetBkMode(m_hComposeDC, TRANSPARENT);
    SetTextColor(m_hComposeDC, 0xFFFFFF);
    m_hFontOld = static_cast<HFONT>(SelectObject(m_hComposeDC, m_hFont));
    DrawTextW(m_hComposeDC, m_szTitle, n, &tr, DT_SINGLELINE | DT_VCENTER | DT_WORD_ELLIPSIS);
    SelectObject(m_hComposeDC, m_hFontOld);

    BitBlt(wdc, 0, 0, W, H, m_hComposeDC, 0, 0, SRCCOPY);
    SelectClipRgn(wdc, nullptr);
    ReleaseDC(hWnd, wdc);
}

void CSkinFrame::ApplyRegion(HWND hWnd) {
    if (!m_bUseRegion) {
        SetWindowRgn(hWnd, nullptr, TRUE);
        return;
    }
    RECT wr;
    GetWindowRect(hWnd, &wr);
    int W = wr.right - wr.left, H = wr.bottom - wr.top;
    HRGN region = CreateRectRgn(0, m_nTop, W, H);
    HDC wdc = GetWindowDC(hWnd);
    HBITMAP bmp = CreateCompatibleBitmap(wdc, W, m_nTop);
    ReleaseDC(hWnd, wdc);
    BITMAP info{};
    if (bmp && m_nTop > 0 && GetObjectW(bmp, sizeof(info), &info) &&
        (info.bmBitsPixel == 24 || info.bmBitsPixel == 32)) {
        HGDIOBJ old = SelectObject(m_hRegionDC, bmp);
        DrawCaption(m_hRegionDC, m_nLeft, W - m_nRight - m_nLeft + 1);
        DrawVertical(m_hRegionDC, iLeft, 0, m_info[iLeft].bmHeight);
        DrawVertical(m_hRegionDC, iRight, W - m_nRight, m_info[iRight].bmHeight);
        SelectObject(m_hRegionDC, old);
        int bpp = info.bmBitsPixel / 8;
        std::vector<BYTE> bits(static_cast<size_t>(info.bmWidthBytes) * info.bmHeight);
        GetBitmapBits(bmp, static_cast<LONG>(bits.size()), bits.data());
        for (int y = 0; y < info.bmHeight; ++y) {
            for (int x = 0; x < info.bmWidth; ++x) {
                const BYTE* p = &bits[static_cast<size_t>(y) * info.bmWidthBytes + static_cast<size_t>(x) * bpp];
                COLORREF c = RGB(p[2], p[1], p[0]);
                if (c == m_crTransparent) continue;
                HRGN dot = CreateRectRgn(x, y, x + 1, y + 1);
                CombineRgn(region, region, dot, RGN_OR);
                DeleteObject(dot);
            }
        }
    }
    if (bmp) DeleteObject(bmp);
    SetWindowRgn(hWnd, region, TRUE);  // the window owns the region now
}

void CSkinFrame::MaximiseToWorkArea(HWND hWnd) {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hWnd, &m_saved);
    m_nState = 1;
    MoveWindow(hWnd, work.left, work.top, work.right - work.left, work.bottom - work.top, TRUE);
    UpdateWindow(hWnd);
}

void CSkinFrame::Restore(HWND hWnd) {
    if (m_nState != 1) return;
    MoveWindow(hWnd, m_saved.left, m_saved.top, m_saved.right - m_saved.left, m_saved.bottom - m_saved.top, TRUE);
    m_nState = 0;
    UpdateWindow(hWnd);
}

void CSkinFrame::OnNcMouseMove(HWND hWnd, UINT message, UINT hitCode, LPARAM point) {
    int code = static_cast<int>(hitCode);
    if ((code >= HTLEFT && code <= HTBOTTOMRIGHT) || (code == HTCAPTION && m_nState != 1))
        DefWindowProcW(hWnd, message, hitCode, point);
    m_nHot = code;
    if (m_nHot != m_nLastHot) {
        Paint(hWnd);
        m_nLastHot = m_nHot;
    }
}

void CSkinFrame::OnNcLButtonDown(HWND hWnd, UINT message, UINT hitCode, LPARAM point) {
    int code = static_cast<int>(hitCode);
    m_nHot = code;
    Paint(hWnd);
    if ((code >= HTLEFT && code <= HTBOTTOMRIGHT) || (code == HTCAPTION && m_nState != 1)) {
        DefWindowProcW(hWnd, message, hitCode, point);
        return;
    }
    CPoint p(point);
    if (code == HTSYSMENU) {
        // The window menu belongs to the icon area only; buttons act on their own.
        if (HMENU sys = GetSystemMenu(hWnd, FALSE)) Tracker()(sys, 0, p.x, p.y, hWnd);
    }
    if (code == kHitMenu && m_bHasMenu) {
        if (HMENU popup = GetSubMenu(m_menu, 0)) Tracker()(popup, TPM_RIGHTBUTTON, p.x, p.y, hWnd);
    }
}

void CSkinFrame::OnNcLButtonUp(HWND hWnd, UINT, UINT hitCode, LPARAM) {
    switch (static_cast<int>(hitCode)) {
    case HTCLOSE: SendMessageW(hWnd, WM_CLOSE, 0, 0); break;
    case kHitMinimise:
        SendMessageW(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        m_nHot = 0;
        Paint(hWnd);
        break;
    case kHitMenu:
        m_nHot = 0;
        Paint(hWnd);
        break;
    default: break;
    }
}

LRESULT CSkinFrame::HandleMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        InvalidateRect(hWnd, nullptr, TRUE);
        Paint(hWnd);
        ApplyRegion(hWnd);
        break;
    case WM_ACTIVATE:
    case WM_NCPAINT:
    case WM_NCACTIVATE: Paint(hWnd); break;
    case WM_SETTEXT:
        DefWindowProcW(hWnd, message, wParam, lParam);
        Paint(hWnd);
        break;
    case WM_SHOWWINDOW:
        if (wParam) DefWindowProcW(hWnd, message, wParam, lParam);
        break;
    case WM_GETMINMAXINFO: {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lParam);
        mm->ptMinTrackSize.x = m_info[iLeft].bmWidth + m_info[iCaption].bmWidth + m_info[iRight].bmWidth;
        mm->ptMinTrackSize.y = m_info[iCaption].bmHeight + 20;
        break;
    }
    case WM_WINDOWPOSCHANGING:
    case WM_INITMENUPOPUP: DefWindowProcW(hWnd, message, wParam, lParam); break;
    case WM_NCCALCSIZE:
        if (wParam) {
            auto* p = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
            p->rgrc[0].left += m_nLeft;
            p->rgrc[0].top += m_nTop;
            p->rgrc[0].right -= m_nRight;
            p->rgrc[0].bottom -= m_nBottom;
            p->rgrc[1] = p->rgrc[0];
        } else {
            DefWindowProcW(hWnd, message, wParam, lParam);
        }
        break;
    case WM_NCHITTEST: return HitTest(hWnd, CPoint(lParam));
    case WM_NCMOUSEMOVE: OnNcMouseMove(hWnd, message, static_cast<UINT>(wParam), lParam); break;
    case WM_NCLBUTTONDOWN: OnNcLButtonDown(hWnd, message, static_cast<UINT>(wParam), lParam); break;
    case WM_NCLBUTTONUP: OnNcLButtonUp(hWnd, message, static_cast<UINT>(wParam), lParam); break;
    case WM_NCLBUTTONDBLCLK:
        if (wParam == HTCAPTION && m_bResizable) {
            if (m_nState == 1)
                Restore(hWnd);
            else
                MaximiseToWorkArea(hWnd);
            m_nHot = 0;
            Paint(hWnd);
        }
        break;
    case WM_NCRBUTTONDOWN:
        if (wParam == HTCAPTION) {
            CPoint p(lParam);
            if (HMENU sys = GetSystemMenu(hWnd, FALSE)) Tracker()(sys, 0, p.x, p.y, hWnd);
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MAXIMIZE)
            MaximiseToWorkArea(hWnd);
        else if ((wParam & 0xFFF0) == SC_RESTORE && m_nState == 1)
            Restore(hWnd);
        else
            DefWindowProcW(hWnd, message, wParam, lParam);
        break;
    default: break;
    }
    return 0;
}
