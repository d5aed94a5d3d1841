#include "controls/CSkinButton.h"

#include <algorithm>
#include <shellapi.h>

BEGIN_MESSAGE_MAP(CSkinButton, CButton)
    ON_WM_SETCURSOR()
    ON_WM_KILLFOCUS()
    ON_WM_MOUSEMOVE()
    ON_WM_SYSCOLORCHANGE()
    ON_CONTROL_REFLECT_EX(BN_CLICKED, &CSkinButton::OnClicked)
    ON_WM_ACTIVATE()
    ON_WM_ENABLE()
    ON_WM_CANCELMODE()
    ON_WM_GETDLGCODE()
    ON_WM_CTLCOLOR_REFLECT()
    ON_MESSAGE(BM_SETSTYLE, &CSkinButton::OnSetStyle)
    ON_MESSAGE(WM_MOUSELEAVE, &CSkinButton::OnMouseLeaveMsg)
    ON_MESSAGE(BM_SETCHECK, &CSkinButton::OnSetCheckMsg)
    ON_MESSAGE(BM_GETCHECK, &CSkinButton::OnGetCheckMsg)
END_MESSAGE_MAP()

CSkinButton::UrlOpener& CSkinButton::Opener() {
    static UrlOpener opener = [](LPCWSTR url) {
        SHELLEXECUTEINFOW sei{sizeof(sei)};
        sei.fMask = SEE_MASK_FLAG_NO_UI;
        sei.lpVerb = L"open";
        sei.lpFile = url;
        sei.nShow = SW_SHOWMAXIMIZED;
        ShellExecuteExW(&sei);
    };
    return opener;
}

MenuTracker& CSkinButton::Tracker() {
    static MenuTracker tracker = [](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return ::TrackPopupMenuEx(menu, flags, x, y, owner, nullptr);
    };
    return tracker;
}

CSkinButton::CSkinButton() { SetDefaultColors(FALSE); }

CSkinButton::~CSkinButton() {
    FreeImages();
    if (m_hCursor) DestroyCursor(m_hCursor);
    if (m_hMenu) DestroyMenu(m_hMenu);
}

void CSkinButton::FreeImages() {
    for (Image& i : m_images) {
        if (i.bitmap) DeleteObject(i.bitmap);
        if (i.mask) DeleteObject(i.mask);
        i = Image{};
    }
}

DWORD CSkinButton::SetBitmaps(INT_PTR hoveredId, COLORREF hoveredKey, INT_PTR normalId, COLORREF normalKey) {
    LPCWSTR name = MAKEINTRESOURCEW(hoveredId);
    HINSTANCE module = AfxFindResourceHandle(name, RT_BITMAP);
    auto hovered = static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, 0));
    HBITMAP normal;
    if (normalId == 0 || normalId == kGreyOfHovered || normalId == kDarkerOfHovered)
        normal = reinterpret_cast<HBITMAP>(normalId);
    else
        normal = static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(normalId), IMAGE_BITMAP, 0, 0, 0));
    return SetBitmapHandles(hovered, hoveredKey, normal, normalKey);
}

DWORD CSkinButton::SetBitmapHandles(HBITMAP hovered, COLORREF hoveredKey, HBITMAP normal, COLORREF normalKey) {
    FreeImages();
    if (hovered) {
        // Shaded before the hovered face's mask is made: making it blackens the key pixels.
        auto special = reinterpret_cast<INT_PTR>(normal);
        if (special == kDarkerOfHovered || special == kGreyOfHovered) {
            normal = CreateShadedCopy(hovered, hoveredKey, special == kGreyOfHovered);
            normalKey = hoveredKey;
        }
        DWORD result = TakeImage(m_images[0], hovered, hoveredKey);
        if (result == kOk && normal) result = TakeImage(m_images[1], normal, normalKey);
        if (result != kOk) {
            FreeImages();
            return result;
        }
    }
    Repaint(TRUE);
    return kOk;
}

DWORD CSkinButton::TakeImage(Image& image, HBITMAP bitmap, COLORREF key) {
    // Owned from here on, so FreeImages deletes it even when it proves unusable.
    image.bitmap = bitmap;
    image.key = key;
    BITMAP bm{};
    if (!GetObjectW(bitmap, sizeof(bm), &bm)) return kInvalidBitmap;
    image.width = bm.bmWidth;
    image.height = bm.bmHeight;
    image.mask = CreateMask(bitmap, bm.bmWidth, bm.bmHeight, key);
    return image.mask ? kOk : kMaskFailed;
}

HBITMAP CSkinButton::CreateMask(HBITMAP source, int w, int h, COLORREF key) {
    HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
    if (!mask) return nullptr;
    HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
    HGDIOBJ o1 = SelectObject(src, source), o2 = SelectObject(dst, mask);
    SetBkColor(src, key);
    BitBlt(dst, 0, 0, w, h, src, 0, 0, SRCCOPY);
    // Blacken the transparent pixels so SRCPAINT over the masked background shows through.
    SetTextColor(src, 0xFFFFFF);
    SetBkColor(src, 0);
    BitBlt(src, 0, 0, w, h, dst, 0, 0, SRCAND);
    SelectObject(src, o1);
    SelectObject(dst, o2);
    DeleteDC(src);
    DeleteDC(dst);
    return mask;
}

HBITMAP CSkinButton::CreateShadedCopy(HBITMAP source, COLORREF key, bool grey) {
    BITMAP bm{};
    if (!GetObjectW(source, sizeof(bm), &bm)) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC src = CreateCompatibleDC(screen), dst = CreateCompatibleDC(screen);
    HBITMAP copy = CreateCompatibleBitmap(screen, bm.bmWidth, bm.bmHeight);
    ::ReleaseDC(nullptr, screen);
    if (!src || !dst || !copy) {
        if (src) DeleteDC(src);
        if (dst) DeleteDC(dst);
        if (copy) DeleteObject(copy);
        return nullptr;
    }
    HGDIOBJ o1 = SelectObject(src, source), o2 = SelectObject(dst, copy);
    for (int y = 0; y < bm.bmHeight; ++y) {
        for (int x = 0; x < bm.bmWidth; ++x) {
            COLORREF c = GetPixel(src, x, y);
            if (c != key) {
                int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
                if (grey) {
                    int v = static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b);
                    c = RGB(v, v, v);
                } else {
                    c = RGB(r - static_cast<int>(r * 0.25), g - static_cast<int>(g * 0.25),
                            b - static_cast<int>(b * 0.25));
                }
            }
            SetPixel(dst, x, y, c);
        }
    }
    SelectObject(src, o1);
    SelectObject(dst, o2);
    DeleteDC(src);
    DeleteDC(dst);
    return copy;
}

DWORD CSkinButton::SetAlign(BYTE align, BOOL repaint) {
    if (align > kAlignOverlap) return kInvalidAlign;
    m_nAlign = align;
    Repaint(repaint);
    return kOk;
}

DWORD CSkinButton::SetColor(BYTE index, COLORREF color, BOOL repaint) {
    if (index > kColorFgFocus) return kInvalidIndex;
    m_crColors[index] = color;
    Repaint(repaint);
    return kOk;
}

DWORD CSkinButton::SetDefaultColors(BOOL repaint) {
    for (int i = 0; i < 6; ++i) m_crColors[i] = GetSysColor(i % 2 ? COLOR_BTNTEXT : COLOR_BTNFACE);
    Repaint(repaint);
    return kOk;
}

DWORD CSkinButton::SetPressedStyle(BYTE style, BOOL repaint) {
    if (style == 0) {
        m_nPressedX = 1;
        m_nPressedY = 1;
    } else if (style == 1) {
        m_nPressedX = 0;
        m_nPressedY = 2;
    } else
        return kInvalidStyle;
    Repaint(repaint);
    return kOk;
}

DWORD CSkinButton::SetFlatBorder(BOOL draw, BOOL repaint) {
    m_bDrawBorder = draw != FALSE;
    Repaint(repaint);
    return kOk;
}
DWORD CSkinButton::SetFlat(BOOL flat, BOOL repaint) {
    m_bFlat = flat != FALSE;
    Repaint(repaint);
    return kOk;
}
DWORD CSkinButton::SetTextOffset(int x, int y, BOOL repaint) {
    m_nTextX = x;
    m_nTextY = y;
    Repaint(repaint);
    return kOk;
}

DWORD CSkinButton::ClearImageMargins() {
    if (m_images[0].bitmap) m_nMarginX = m_nMarginY = 0;
    return kOk;
}

DWORD CSkinButton::SetCheck(int check, BOOL repaint) {
    if (m_bCheckBox) {
        m_nChecked = check != 0;
        Repaint(repaint);
    }
    return kOk;
}

DWORD CSkinButton::SetURL(LPCWSTR url) {
    std::fill(std::begin(m_szURL), std::end(m_szURL), L'\0');
    if (url) lstrcpynW(m_szURL, url, 261);
    return kOk;
}

DWORD CSkinButton::SetMenu(UINT menuId, HWND owner, BOOL repaint) {
    if (m_hMenu) {
        DestroyMenu(m_hMenu);
        m_hMenu = nullptr;
    }
    m_hMenuOwner = owner;
    if (menuId) {
        LPCWSTR name = MAKEINTRESOURCEW(menuId);
        m_hMenu = LoadMenuW(AfxFindResourceHandle(name, RT_MENU), name);
        if (!m_hMenu) return kInvalidBitmap;
    }
    Repaint(repaint);
    return kOk;
}

void CSkinButton::PreSubclassWindow() {
    UINT style = GetStyle();
    m_nType = style & BS_TYPEMASK;
    if (style & BS_CHECKBOX) m_bCheckBox = true;
    if (m_nType == BS_DEFPUSHBUTTON) {
        m_bDefault = true;
        m_nType = BS_PUSHBUTTON;
    }
    ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW, SWP_FRAMECHANGED);
    CButton::PreSubclassWindow();
}

BOOL CSkinButton::PreTranslateMessage(MSG* msg) {
    if (!m_tooltip.m_hWnd && m_hWnd) {
        if (m_tooltip.Create(this, m_dwTooltipStyle)) {
            m_tooltip.Activate(FALSE);
            m_tooltip.SetMaxTipWidth(400);
        }
    }
    m_tooltip.RelayEvent(msg);
    if (msg->message == WM_LBUTTONDBLCLK) msg->message = WM_LBUTTONDOWN;
    return CButton::PreTranslateMessage(msg);
}

void CSkinButton::DrawItem(LPDRAWITEMSTRUCT dis) {
    CDC* dc = CDC::FromHandle(dis->hDC);
    m_bPressed = (dis->itemState & ODS_SELECTED) != 0;
    if (m_bCheckBox) m_bPressed = m_bPressed || m_nChecked;
    if (m_bMenuShown) m_bPressed = true;
    m_bFocused = (dis->itemState & ODS_FOCUS) != 0;
    m_bDisabled = (dis->itemState & ODS_DISABLED) != 0;
    CRect item(dis->rcItem);
    dc->SetBkMode(TRANSPARENT);
    PaintBackground(dc, &item);
    PaintBorder(dc, &item);
    CString text = GetWindowText();
    CRect caption(dis->rcItem);
    BOOL hasCaption = !text.IsEmpty();
    if (m_images[0].bitmap) {
        dc->SetBkColor(0xFFFFFF);
        PaintBitmap(dc, hasCaption, &item, &caption, m_bPressed, m_bDisabled);
    }
    if (hasCaption) {
        caption.OffsetRect(m_nTextX, m_nTextY);
        PaintCaption(dc, text, &item, &caption, m_bPressed, m_bDisabled);
    }
    if (m_bFocused && (!m_bFlat || m_bFlatFocus)) {
        CRect focus(dis->rcItem);
        focus.DeflateRect(3, 3);
        dc->DrawFocusRect(&focus);
    }
}

DWORD CSkinButton::PaintBackground(CDC* dc, CRect* rect) {
    if (!m_bFlat && (m_bFocused || m_bDefault)) {
        CBrush black(RGB(0, 0, 0));
        dc->FrameRect(rect, &black);
        rect->DeflateRect(1, 1);
    }
    COLORREF fill = (m_bHover || m_bPressed) ? m_crColors[kColorBkIn]
                    : m_bFocused             ? m_crColors[kColorBkFocus]
                                             : m_crColors[kColorBkOut];
    CBrush brush(fill);
    dc->FillRect(rect, &brush);
    return kOk;
}

DWORD CSkinButton::PaintBorder(CDC* dc, CRect* r) {
    if (!m_bPressed) {
        if (m_bFlat) {
            if (m_bHover && m_bDrawBorder)
                dc->Draw3dRect(r, GetSysColor(COLOR_BTNHILIGHT), GetSysColor(COLOR_BTNSHADOW));
            return kOk;
        }
        auto line = [&](int color, int x1, int y1, int x2, int y2, int x3, int y3) {
            CPen pen(PS_SOLID, 1, GetSysColor(color));
            CPen* old = dc->SelectObject(&pen);
            dc->MoveTo(x1, y1);
            dc->LineTo(x2, y2);
            dc->LineTo(x3, y3);
            dc->SelectObject(old);
        };
        int l = r->left, t = r->top, rr = r->right, b = r->bottom;
        line(COLOR_BTNHILIGHT, l, b - 1, l, t, rr, t);
        line(COLOR_3DLIGHT, l + 1, b - 1, l + 1, t + 1, rr, t + 1);
        line(COLOR_3DDKSHADOW, l, b - 1, rr - 1, b - 1, rr - 1, t - 1);
        line(COLOR_BTNSHADOW, l + 1, b - 2, rr - 2, b - 2, rr - 2, t);
        return kOk;
    }
    if (!m_bFlat) {
        CBrush shadow(GetSysColor(COLOR_BTNSHADOW));
        dc->FrameRect(r, &shadow);
    } else if (m_bDrawBorder) {
        dc->Draw3dRect(r, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHILIGHT));
    }
    return kOk;
}

void CSkinButton::PlaceImage(BOOL hasCaption, const CRect& item, CRect* caption, BOOL pressed, int w, int h,
                             CRect* image) {
    *image = item;
    CRect client;
    GetClientRect(&client);
    switch (m_nAlign) {
    case kAlignLeft:
        if (hasCaption) {
            image->left += m_nMarginX;
            caption->left += w + m_nMarginX;
        } else {
            image->left += (image->Width() - w) / 2;
        }
        image->top += (image->Height() - h) / 2;
        break;
    case kAlignTop:
        image->left += (image->Width() - w) / 2;
        if (hasCaption) {
            image->top = m_nMarginY;
            caption->top += h;
        } else {
            image->top += (image->Height() - h) / 2;
        }
        break;
    case kAlignRight:
        if (hasCaption) {
            caption->right = caption->Width() - w - m_nMarginX;
            caption->left = m_nMarginX;
            image->left = client.right - w - m_nMarginX;
            image->top += (image->Height() - h) / 2;
        } else {
            image->left += (image->Width() - w) / 2;
        }
        break;
    default: break;
    }
    if (pressed && !m_bCheckBox) image->OffsetRect(m_nPressedX, m_nPressedY);
}

void CSkinButton::PaintIcon(CDC*, BOOL, CRect*, CRect*, BOOL, BOOL) {}

void CSkinButton::PaintBitmap(CDC* dc, BOOL hasCaption, CRect* item, CRect* caption, BOOL pressed, BOOL disabled) {
    int index = (pressed || (m_bHover && !m_bCheckBox)) ? 0 : (m_images[1].bitmap ? 1 : 0);
    const Image& img = m_images[index];
    CRect image;
    PlaceImage(hasCaption, *item, caption, pressed, img.width, img.height, &image);
    HDC bmpDC = CreateCompatibleDC(dc->m_hDC), maskDC = CreateCompatibleDC(dc->m_hDC);
    HGDIOBJ o1 = SelectObject(bmpDC, img.bitmap), o2 = SelectObject(maskDC, img.mask);
    if (disabled && m_bShowDisabledBitmap) {
        HDC composeDC = CreateCompatibleDC(dc->m_hDC);
        HBITMAP composed = CreateCompatibleBitmap(dc->m_hDC, img.width, img.height);
        HGDIOBJ o3 = SelectObject(composeDC, composed);
        RECT all{0, 0, img.width, img.height};
        FillRect(composeDC, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetTextColor(composeDC, 0);
        SetBkColor(composeDC, 0xFFFFFF);
        BitBlt(composeDC, 0, 0, img.width, img.height, maskDC, 0, 0, SRCAND);
        BitBlt(composeDC, 0, 0, img.width, img.height, bmpDC, 0, 0, SRCPAINT);
        SelectObject(composeDC, o3);
        DeleteDC(composeDC);
        dc->DrawState(image.TopLeft(), CSize(img.width, img.height), composed, DSS_DISABLED);
        DeleteObject(composed);
    } else {
        // A monochrome mask takes the destination's text and background colours: set them.
        COLORREF oldText = dc->SetTextColor(0);
        COLORREF oldBk = dc->SetBkColor(0xFFFFFF);
        BitBlt(dc->m_hDC, image.left, image.top, img.width, img.height, maskDC, 0, 0, SRCAND);
        BitBlt(dc->m_hDC, image.left, image.top, img.width, img.height, bmpDC, 0, 0, SRCPAINT);
        dc->SetTextColor(oldText);
        dc->SetBkColor(oldBk);
    }
    SelectObject(bmpDC, o1);
    SelectObject(maskDC, o2);
    DeleteDC(bmpDC);
    DeleteDC(maskDC);
}

void CSkinButton::PaintCaption(CDC* dc, const CString& text, CRect*, CRect* caption, BOOL pressed, BOOL disabled) {
    if (pressed && !m_bCheckBox) caption->OffsetRect(m_nPressedX, m_nPressedY);
    CRect measured = *caption;
    CString copy = text;
    dc->DrawText(copy, &measured, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
    measured.MoveToXY(caption->left + (caption->Width() - measured.Width()) / 2,
                      caption->top + (caption->Height() - measured.Height()) / 2);
    if (disabled) {
        measured.OffsetRect(1, 1);
        dc->SetTextColor(GetSysColor(COLOR_3DHILIGHT));
        dc->DrawText(copy, &measured, DT_WORDBREAK | DT_CENTER);
        measured.OffsetRect(-1, -1);
        dc->SetTextColor(GetSysColor(COLOR_3DSHADOW));
    } else if (m_bHover || pressed) {
        dc->SetTextColor(m_crColors[kColorFgIn]);
        dc->SetBkColor(m_crColors[kColorBkIn]);
    } else if (m_bFocused) {
        dc->SetTextColor(m_crColors[kColorFgFocus]);
        dc->SetBkColor(m_crColors[kColorBkFocus]);
    } else {
        dc->SetTextColor(m_crColors[kColorFgOut]);
        dc->SetBkColor(m_crColors[kColorBkOut]);
    }
    dc->DrawText(copy, &measured, DT_WORDBREAK | DT_CENTER);
}

void CSkinButton::CancelHover() {
    if (m_bFlat && m_bHover) {
        m_bHover = false;
        Invalidate();
    }
}

BOOL CSkinButton::OnSetCursor(CWnd* wnd, UINT hit, UINT message) {
    if (m_hCursor) {
        ::SetCursor(m_hCursor);
        return TRUE;
    }
    return CButton::OnSetCursor(wnd, hit, message);
}

void CSkinButton::OnKillFocus(CWnd* next) {
    CButton::OnKillFocus(next);
    CancelHover();
}

void CSkinButton::OnMouseMove(UINT flags, CPoint point) {
    CButton::OnMouseMove(flags, point);
    // The point of the message, not the cursor's current place: posted moves test the same.
    CPoint screen = point;
    ClientToScreen(&screen);
    HWND under = ::WindowFromPoint(screen);
    if ((flags & MK_LBUTTON) && !m_bHover) return;
    if (!m_bFlat) return;
    if (!m_bAlwaysTrack && !::GetActiveWindow()) return;
    if (under == m_hWnd) {
        if (!m_bHover) {
            m_bHover = true;
            Invalidate();
            TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, m_hWnd, 0};
            ::TrackMouseEvent(&tme);
        }
    } else {
        CancelHover();
    }
}

void CSkinButton::OnSysColorChange() {
    CButton::OnSysColorChange();
    SetDefaultColors(TRUE);
}

BOOL CSkinButton::OnClicked() {
    SetFocus();
    if (m_bCheckBox) {
        m_nChecked = !m_nChecked;
        Invalidate();
    } else if (m_hMenu) {
        CRect r;
        GetWindowRect(&r);
        m_bMenuShown = true;
        Invalidate();
        HMENU popup = GetSubMenu(m_hMenu, 0);
        const UINT chosen =
            popup ? Tracker()(popup, TPM_NONOTIFY | TPM_RETURNCMD | TPM_RIGHTBUTTON, r.left, r.bottom, m_hMenuOwner)
                  : 0;
        m_bMenuShown = false;
        Invalidate();
        if (chosen) ::PostMessageW(m_hMenuOwner, WM_COMMAND, chosen, 0);
    } else if (m_szURL[0]) {
        Opener()(m_szURL);
    }
    return FALSE;  // the parent still gets BN_CLICKED
}

void CSkinButton::OnActivate(UINT state, CWnd* other, BOOL minimised) {
    CButton::OnActivate(state, other, minimised);
    if (state == WA_INACTIVE) CancelHover();
}

void CSkinButton::OnEnable(BOOL enable) {
    CButton::OnEnable(enable);
    if (!enable) {
        HWND parent = ::GetParent(m_hWnd);
        HWND next = parent ? ::GetNextDlgTabItem(parent, m_hWnd, FALSE) : nullptr;
        if (next && next != m_hWnd)
            ::SetFocus(next);
        else if (parent)
            ::SetFocus(parent);
        CancelHover();
    }
}

void CSkinButton::OnCancelMode() {
    CButton::OnCancelMode();
    CancelHover();
}

UINT CSkinButton::OnGetDlgCode() {
    UINT code = CButton::OnGetDlgCode();
    return code | (m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

HBRUSH CSkinButton::CtlColor(CDC*, UINT) { return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)); }

LRESULT CSkinButton::OnSetStyle(WPARAM style, LPARAM redraw) {
    UINT type = static_cast<UINT>(style) & BS_TYPEMASK;
    if (type == BS_DEFPUSHBUTTON)
        m_bDefault = true;
    else if (type == BS_PUSHBUTTON)
        m_bDefault = false;
    return DefWindowProc(BM_SETSTYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW, redraw);
}

LRESULT CSkinButton::OnMouseLeaveMsg(WPARAM, LPARAM) {
    CancelHover();
    return 0;
}

LRESULT CSkinButton::OnSetCheckMsg(WPARAM check, LPARAM) {
    SetCheck(check == 1 || check == 2 ? 1 : 0, TRUE);
    return 0;
}

LRESULT CSkinButton::OnGetCheckMsg(WPARAM, LPARAM) { return GetCheck(); }
