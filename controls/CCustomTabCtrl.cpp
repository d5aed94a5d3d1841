// CCustomTabCtrl's first job: the item model, the operations, the notifications to the parent
// and the mouse and keyboard behaviour. Geometry and painting: CCustomTabCtrlPainting.cpp.
#include "controls/CCustomTabCtrl.h"

#include <new>
#include <vector>

namespace {
const wchar_t kClassName[] = L"CCustomTabCtrl";
constexpr COLORREF kEditBack = RGB(235, 240, 248);
constexpr DWORD kRepeatDelay = 250;

const LOGFONTW& DefaultFont() {
    static const LOGFONTW lf = [] {
        LOGFONTW f{};
        f.lfHeight = 12;
        f.lfWeight = FW_NORMAL;
        f.lfCharSet = DEFAULT_CHARSET;
        f.lfOutPrecision = OUT_STROKE_PRECIS;
        f.lfClipPrecision = CLIP_CHARACTER_PRECIS;
        lstrcpynW(f.lfFaceName, L"Microsoft Sans Serif", LF_FACESIZE);
        return f;
    }();
    return lf;
}

// Glyphs first, previous, next, last, close, block: 8x7 cells, a 0 bit is ink.
const BYTE kGlyphBits[7][6] = {
    {0xbd, 0xfb, 0xdf, 0xbd, 0x3c, 0x00}, {0xb9, 0xf3, 0xcf, 0x9d, 0x99, 0x00}, {0xb1, 0xe3, 0xc7, 0x8d, 0xc3, 0x00},
    {0xa3, 0xc7, 0xe3, 0xc5, 0xe7, 0x00}, {0xb1, 0xe3, 0xc7, 0x8d, 0xc3, 0x00}, {0xb9, 0xf3, 0xcf, 0x9d, 0x99, 0x00},
    {0xbd, 0xfb, 0xdf, 0xbd, 0x3c, 0x00},
};

bool CtrlHeld(UINT flags) { return (flags & MK_CONTROL) != 0; }
}  // namespace

BEGIN_MESSAGE_MAP(CCustomTabCtrl, CWnd)
    ON_WM_ERASEBKGND()
    ON_WM_LBUTTONDOWN()
    ON_WM_RBUTTONDOWN()
    ON_WM_LBUTTONUP()
    ON_WM_MOUSELEAVE()
    ON_MESSAGE(WM_THEMECHANGED, &CCustomTabCtrl::OnThemeChanged)
    ON_WM_MOUSEMOVE()
    ON_WM_PAINT()
    ON_WM_SIZE()
    ON_WM_LBUTTONDBLCLK()
    ON_WM_TIMER()
    ON_CONTROL(EN_UPDATE, CCustomTabCtrl::kEditId, &CCustomTabCtrl::OnEditUpdate)
    ON_WM_RBUTTONDBLCLK()
    ON_WM_CTLCOLOR()
    ON_MESSAGE(WM_SIZEPARENT, &CCustomTabCtrl::OnSizeParent)
END_MESSAGE_MAP()

CCustomTabCtrl::TickSource& CCustomTabCtrl::Ticks() {
    static TickSource ticks = [] { return ::GetTickCount(); };
    return ticks;
}

CCustomTabCtrl::CCustomTabCtrl() {
    RegisterWindowClass();
    SetControlFont(&DefaultFont(), FALSE);
    m_bmpGlyphs.CreateBitmap(48, 7, 1, 1, kGlyphBits);
    for (COLORREF& c : m_crGlyph) c = ::GetSysColor(COLOR_BTNTEXT);
}

CCustomTabCtrl::~CCustomTabCtrl() {
    // The children (edit, tooltip) go while the object is still whole.
    if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) delete m_items[i];
    m_items.RemoveAll();
    DeleteThemeImages();
    if (m_hCursorMove) ::DestroyCursor(m_hCursorMove);
    if (m_hCursorCopy) ::DestroyCursor(m_hCursorCopy);
}

BOOL CCustomTabCtrl::RegisterWindowClass() {
    HINSTANCE instance = AfxGetInstanceHandle();
    WNDCLASSW wc{};
    if (::GetClassInfoW(instance, kClassName, &wc)) return TRUE;
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kClassName;
    if (!::RegisterClassW(&wc)) AfxThrowResourceException();
    return TRUE;
}

BOOL CCustomTabCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (!CreateEx(0, kClassName, nullptr, style | WS_CHILD, rect, parent, id)) return FALSE;
    // Attached by the creation hook, which doesn't run the subclassing set-up.
    PreSubclassWindow();
    return TRUE;
}

void CCustomTabCtrl::PreSubclassWindow() {
    OnThemeChanged();
    CWnd::ModifyStyle(0, WS_CLIPCHILDREN);
    RecalcLayout(kFull, m_nSel);
    CWnd::PreSubclassWindow();
}

void CCustomTabCtrl::SetControlFont(const LOGFONTW* font, BOOL redraw) {
    m_font.DeleteObject();
    m_fontSelected.DeleteObject();
    if (!font || !m_font.CreateFontIndirect(font)) m_font.CreateFontIndirect(&DefaultFont());
    LOGFONTW lf{};
    m_font.GetLogFont(&lf);
    lf.lfWeight = FW_BOLD;
    m_fontSelected.CreateFontIndirect(&lf);
    if (redraw && m_hWnd) {
        RecalcLayout(kFull, m_nSel);
        Invalidate(TRUE);
    }
}

BOOL CCustomTabCtrl::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
    if ((remove & TABS_TOOLTIPS) && HasToolTip()) m_wndToolTip.DestroyWindow();
    if (remove & TABS_MULTIHIGHLIGHT)
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i) m_items[i]->m_bHighlighted = FALSE;
    if ((add & TABS_MULTIHIGHLIGHT) && m_nSel >= 0) m_items[m_nSel]->m_bHighlighted = TRUE;
    CWnd::ModifyStyle(remove, add, flags);
    RecalcLayout(kFull, m_nSel);
    Invalidate(FALSE);
    return TRUE;
}

void CCustomTabCtrl::SetDragCursors(HCURSOR move, HCURSOR copy) {
    if (m_hCursorMove && m_hCursorMove != move) ::DestroyCursor(m_hCursorMove);
    if (m_hCursorCopy && m_hCursorCopy != copy) ::DestroyCursor(m_hCursorCopy);
    m_hCursorMove = move;
    m_hCursorCopy = copy;
}

int CCustomTabCtrl::GetButtonState(int hit) const {
    switch (hit) {
    case kHitFirst: return m_nFirstState;
    case kHitPrev: return m_nPrevState;
    case kHitNext: return m_nNextState;
    case kHitLast: return m_nLastState;
    case kHitClose: return m_nCloseState;
    default: return kHiddenBtn;
    }
}

int CCustomTabCtrl::InsertItem(int index, const CString& text, DWORD data) {
    if (index < 0 || index > GetItemCount()) return -2;
    if (text.GetLength() > kMaxText) return -7;
    CCustomTabCtrlItem* item = nullptr;
    try {
        item = new CCustomTabCtrlItem(text, data);
        m_items.InsertAt(index, item);
    } catch (const std::bad_alloc&) {
        delete item;
        return -1;
    } catch (CMemoryException* e) {
        e->Delete();
        delete item;
        return -1;
    }
    if (m_nSel >= index) ++m_nSel;
    ShiftItemTools(index, 1);
    RecalcLayout(kFull, m_nSel);
    if (m_hWnd) Invalidate();
    return index;
}

int CCustomTabCtrl::MoveItem(int from, int to, BOOL byMouse) {
    const int count = GetItemCount();
    if (from < 0 || from >= count || to < 0 || to > count) return -2;
    if (to == from || to == from + 1) return from;
    const int target = to > from ? to - 1 : to;
    std::vector<CString> tips;
    if (HasToolTip())
        for (int i = 0; i < count; ++i) tips.push_back(GetToolText(i + 1));
    CCustomTabCtrlItem* item = m_items[from];
    m_items.RemoveAt(from);
    try {
        m_items.InsertAt(target, item);
    } catch (const std::bad_alloc&) {
        delete item;
        m_nSel = -1;
        for (INT_PTR i = 0; i < m_items.GetSize(); ++i)
            if (m_items[i]->m_bSelected) m_nSel = static_cast<int>(i);
        RecalcLayout(kFull, m_nSel);
        if (m_hWnd) Invalidate();
        if (byMouse) NotifyParent(NM_OUTOFMEMORY, from, CPoint(0, 0));
        return -1;
    }
    if (!tips.empty()) {
        CString moved = tips[from];
        tips.erase(tips.begin() + from);
        tips.insert(tips.begin() + target, moved);
        for (int i = 0; i < count; ++i) SetToolText(i + 1, tips[i]);
    }
    // The moved item is the selection now, and the only item flagged so.
    for (int i = 0; i < count; ++i) m_items[i]->m_bSelected = i == target;
    m_nSel = target;
    RecalcLayout(kEnsureVisible, target);
    if (m_hWnd) Invalidate();
    if (byMouse) NotifyParent(TABN_ITEMMOVE, target, CPoint(0, 0));
    return target;
}

int CCustomTabCtrl::CopyItem(int from, int to, BOOL byMouse) {
    const int count = GetItemCount();
    if (from < 0 || from >= count || to < 0 || to > count) return -2;
    CString caption;
    try {
        const CString& s = m_items[from]->m_strText;
        const int n = s.GetLength();
        CString base = s;
        const wchar_t* pattern = L"%s (%d)";
        auto digit = [&](int i, wchar_t lo) { return s[i] >= lo && s[i] <= L'9'; };
        if (n >= 4 && s[n - 1] == L')' && s[n - 3] == L'(' && digit(n - 2, L'2')) {
            base = s.Left(n - 3);
            pattern = L"%s(%d)";
        } else if (n >= 4 && s[n - 1] == L')' && s[n - 4] == L'(' && digit(n - 3, L'1') && digit(n - 2, L'0')) {
            base = s.Left(n - 4);
            pattern = L"%s(%d)";
        }
        for (int k = 2;; ++k) {
            caption.Format(pattern, base.GetString(), k);
            bool taken = false;
            for (int i = 0; i < count && !taken; ++i) taken = m_items[i]->m_strText == caption;
            if (!taken) break;
        }
    } catch (const std::bad_alloc&) {
        if (byMouse) NotifyParent(NM_OUTOFMEMORY, from, CPoint(0, 0));
        return -1;
    }
    const int result = InsertItem(to, caption, m_items[from]->m_dwData);
    if (result >= 0) {
        SetCurSel(result);
        if (byMouse) NotifyParent(TABN_ITEMCOPY, result, CPoint(0, 0));
    } else if (result == -1 && byMouse) {
        NotifyParent(NM_OUTOFMEMORY, -1, CPoint(0, 0));
    }
    return result;
}

int CCustomTabCtrl::SetCurSelEx(int index, BOOL byMouse, BOOL ctrl) {
    if (index < 0 || index >= GetItemCount()) return -2;
    if (m_nSel >= 0 && m_nSel < GetItemCount()) m_items[m_nSel]->m_bSelected = FALSE;
    m_items[index]->m_bSelected = TRUE;
    m_nSel = index;
    if (!byMouse) {
        m_nFirstVisible = index;
        RecalcLayout(kFull, index);
    } else {
        RecalcLayout(kEnsureVisible, index);
    }
    if (m_hWnd) Invalidate();
    HighlightItem(index, byMouse, ctrl);
    return 0;
}

int CCustomTabCtrl::HighlightItem(int index, BOOL byMouse, BOOL ctrl) {
    if (!m_hWnd || !(GetStyle() & TABS_MULTIHIGHLIGHT)) return -4;
    if (index < 0 || index >= GetItemCount()) return -2;
    for (INT_PTR i = 0; i < m_items.GetSize(); ++i) m_items[i]->m_bHighlightChanged = FALSE;
    CCustomTabCtrlItem* item = m_items[index];
    if (ctrl) {
        if (index != m_nSel) {
            item->m_bHighlighted = !item->m_bHighlighted;
            if (byMouse) item->m_bHighlightChanged = TRUE;
        }
    } else if (!item->m_bHighlighted) {
        item->m_bHighlighted = TRUE;
        item->m_bHighlightChanged = TRUE;
        for (int i = 0; i < GetItemCount(); ++i) {
            CCustomTabCtrlItem* other = m_items[i];
            if (i == index || i == m_nSel || !other->m_bHighlighted) continue;
            other->m_bHighlighted = FALSE;
            if (byMouse) other->m_bHighlightChanged = TRUE;
        }
    }
    if (byMouse) RecalcLayout(kEnsureVisible, index);
    Invalidate();
    return 0;
}

LRESULT CCustomTabCtrl::NotifyParent(int code, int item, CPoint point) {
    TabNotifyRecord rec{};
    rec.hdr.hwndFrom = m_hWnd;
    rec.hdr.idFrom = static_cast<UINT>(::GetDlgCtrlID(m_hWnd));
    rec.hdr.code = static_cast<UINT>(code);
    rec.nItem = item;
    rec.pt = point;
    if (item >= 0 && item < GetItemCount()) {
        const CCustomTabCtrlItem* it = m_items[item];
        // The rename edit takes one character more than the record holds.
        lstrcpynW(rec.szText, it->m_strText, kMaxText + 1);
        rec.dwData = it->m_dwData;
        rec.rc = it->m_rectText;
        rec.bSelected = it->m_bSelected;
        rec.bHighlighted = it->m_bHighlighted;
    }
    HWND parent = ::GetParent(m_hWnd);
    if (!parent) return 0;
    return ::SendMessageW(parent, WM_NOTIFY, rec.hdr.idFrom, reinterpret_cast<LPARAM>(&rec));
}

// ---- mouse ----

void CCustomTabCtrl::OnLButtonDown(UINT flags, CPoint point) {
    const int hit = HitTest(point);
    NotifyParent(NM_CLICK, hit, point);
    ProcessLButtonDown(hit, flags, point);
    Default();
}

int CCustomTabCtrl::ProcessLButtonDown(int hit, UINT flags, CPoint point) {
    SetCapture();
    if (hit == kHitNone) {
        m_nPressed = kHitNone;
        return hit;
    }
    if (hit == kHitClose) {
        m_nPressed = kHitClose;
        m_nCloseState = kPressed;
        RecalcLayout(kClose, m_nSel);
        Invalidate(FALSE);
        return hit;
    }
    if (hit < 0) {
        m_nPressed = hit;
        int kind = kFirst;
        switch (hit) {
        case kHitLast: m_nLastState = kPressed, kind = kLast; break;
        case kHitNext: m_nNextState = kPressed, kind = kNext; break;
        case kHitPrev: m_nPrevState = kPressed, kind = kPrev; break;
        default: m_nFirstState = kPressed; break;
        }
        RecalcLayout(kind, m_nSel);
        Invalidate(FALSE);
        m_dwPressTime = Ticks()();
        SetTimer(kRepeatTimer, 100);
        return hit;
    }
    const BOOL ctrl = CtrlHeld(flags);
    const DWORD style = GetStyle();
    const bool canMove = (style & TABS_DRAGMOVE) && !ctrl && m_hCursorMove;
    const bool canCopy = (style & TABS_DRAGCOPY) && ctrl && m_hCursorCopy;
    if (canMove || canCopy) {
        m_nPressed = hit;
        m_nDragTarget = kHitNone;
        SetTimer(kDragTimer, 300);
    } else {
        m_nPressed = kHitNone;
    }
    if ((style & TABS_MULTIHIGHLIGHT) && ctrl) {
        HighlightItem(hit, TRUE, TRUE);
    } else {
        const int old = m_nSel;
        SetCurSelEx(hit, TRUE, ctrl);
        if (m_nSel != old) NotifyParent(TABN_SELCHANGE, m_nSel, point);
    }
    for (int i = 0; i < GetItemCount(); ++i)
        if (m_items[i]->m_bHighlightChanged) NotifyParent(TABN_HIGHLIGHTCHANGE, i, point);
    return hit;
}

void CCustomTabCtrl::OnLButtonDblClk(UINT flags, CPoint point) {
    const int r = ProcessLButtonDown(HitTest(point), flags, point);
    if (r >= 0) {
        m_nPressed = kHitNone;
        if (HitTest(point) == r) EditLabel(r, TRUE);
    }
    if (!IsWindow()) return;
    NotifyParent(NM_DBLCLK, HitTest(point), point);
    Default();
}

void CCustomTabCtrl::OnRButtonDown(UINT, CPoint point) { NotifyParent(NM_RCLICK, HitTest(point), point); }

void CCustomTabCtrl::OnRButtonDblClk(UINT, CPoint point) { NotifyParent(NM_RDBLCLK, HitTest(point), point); }

void CCustomTabCtrl::OnMouseMove(UINT flags, CPoint point) {
    TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, m_hWnd, 0};
    ::TrackMouseEvent(&tme);
    const int hit = HitTest(point);
    bool changed = false;
    struct Button {
        int code;
        int* state;
    } buttons[] = {{kHitFirst, &m_nFirstState},
                   {kHitPrev, &m_nPrevState},
                   {kHitNext, &m_nNextState},
                   {kHitLast, &m_nLastState},
                   {kHitClose, &m_nCloseState}};
    for (Button& b : buttons) {
        if (*b.state == kHiddenBtn) continue;
        int state = kNormal;
        if (hit == b.code && m_nPressed == b.code)
            state = kPressed;
        else if (hit == b.code && m_nPressed == kHitNone && !(flags & MK_LBUTTON))
            state = kHot;
        if (state != *b.state) {
            *b.state = state;
            changed = true;
        }
    }
    if (changed) Invalidate(FALSE);

    if (m_nPressed < 0 || m_nDragTarget < 0 || GetItemCount() == 0) return;
    int length = 0, thickness = 0;
    GetStripSize(length, thickness);
    const int x = ToStrip(point).x;
    const int count = GetItemCount();
    if (m_nDragTarget > count - 1) m_nDragTarget = count - 1;
    const CRect& t = m_items[m_nDragTarget]->m_rectText;
    if (x >= length) {
        ++m_nDragTarget;
        RecalcLayout(kNext, std::min(m_nDragTarget, count - 1));
    } else if (x >= t.right + thickness / 4) {
        ++m_nDragTarget;
        RecalcLayout(kEnsureVisible, std::min(m_nDragTarget, count - 1));
    } else if (x < t.left - thickness / 4) {
        if (m_nDragTarget > 0) --m_nDragTarget;
        RecalcLayout(kEnsureVisible, m_nDragTarget);
    } else {
        return;
    }
    Invalidate(FALSE);
}

void CCustomTabCtrl::ResetButtons() {
    for (int* state : {&m_nFirstState, &m_nPrevState, &m_nNextState, &m_nLastState, &m_nCloseState})
        if (*state != kHiddenBtn) *state = kNormal;
}

void CCustomTabCtrl::OnMouseLeave() {
    if (m_nPrevState == kHiddenBtn && m_nFirstState == kHiddenBtn && m_nCloseState == kHiddenBtn) return;
    ResetButtons();
    Invalidate(FALSE);
    KillTimer(kRepeatTimer);
}

void CCustomTabCtrl::OnLButtonUp(UINT flags, CPoint) {
    if (ButtonsShown() || m_nCloseState != kHiddenBtn) {
        ResetButtons();
        Invalidate(FALSE);
        KillTimer(kRepeatTimer);
    }
    if (m_nPressed >= 0) {
        HCURSOR cursor = ::GetCursor();
        const BOOL ctrl = CtrlHeld(flags);
        if (m_hCursorCopy && cursor == m_hCursorCopy && ctrl)
            CopyItem(m_nPressed, m_nDragTarget, TRUE);
        else if (m_hCursorMove && cursor == m_hCursorMove && !ctrl)
            MoveItem(m_nPressed, m_nDragTarget, TRUE);
    }
    m_nPressed = kHitNone;
    m_nDragTarget = kHitNone;
    ::ReleaseCapture();
}

void CCustomTabCtrl::OnTimer(UINT_PTR id) {
    Default();
    if (id == kRepeatTimer) {
        const struct {
            int state;
            int kind;
        } order[] = {{m_nFirstState, kFirst}, {m_nPrevState, kPrev}, {m_nNextState, kNext}, {m_nLastState, kLast}};
        for (const auto& b : order) {
            if (b.state != kPressed) continue;
            const DWORD now = Ticks()();
            if (now - m_dwPressTime >= kRepeatDelay) {
                RecalcLayout(b.kind, m_nSel);
                Invalidate(FALSE);
                m_dwPressTime = now;
            }
            break;
        }
    } else if (id == kDragTimer) {
        KillTimer(kDragTimer);
        if (m_nPressed < 0) return;
        if (m_nDragTarget == kHitNone) m_nDragTarget = m_nPressed;
        SetTimer(kDragTimer, 10);
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        const DWORD style = GetStyle();
        if ((style & TABS_DRAGCOPY) && ctrl && m_hCursorCopy) {
            ::SetCursor(m_hCursorCopy);
            Invalidate(FALSE);
        } else if ((style & TABS_DRAGMOVE) && !ctrl && m_hCursorMove) {
            ::SetCursor(m_hCursorMove);
            Invalidate(FALSE);
        } else {
            KillTimer(kDragTimer);
            m_nPressed = kHitNone;
            ::ReleaseCapture();
            Invalidate(FALSE);
        }
    }
}

void CCustomTabCtrl::OnSize(UINT, int cx, int cy) {
    Default();
    if (cx && cy) RecalcLayout(kFull, m_nSel);
}

HBRUSH CCustomTabCtrl::OnCtlColor(CDC* dc, CWnd*, UINT) {
    if (!m_brEdit.m_hObject) m_brEdit.CreateSolidBrush(kEditBack);
    dc->SetBkColor(kEditBack);
    return m_brEdit;
}

LRESULT CCustomTabCtrl::OnSizeParent(WPARAM, LPARAM lParam) {
    auto* p = reinterpret_cast<TabSizeParentParams*>(lParam);
    if (!p) return 0;
    CRect wr;
    GetWindowRect(&wr);
    const int w = wr.Width(), h = wr.Height();
    RECT& r = p->rect;
    const DWORD style = GetStyle();
    if (!(style & TABS_VERTICAL)) {
        if (style & TABS_TOP) {
            MoveWindow(r.left, r.top, r.right - r.left, h);
            r.top += h;
        } else {
            r.bottom -= h;
            MoveWindow(r.left, r.bottom, r.right - r.left, h);
        }
    } else if (style & TABS_TOP) {
        MoveWindow(r.left, r.top, w, r.bottom - r.top);
        r.left += w;
    } else {
        r.right -= w;
        MoveWindow(r.right, r.top, w, r.bottom - r.top);
    }
    return 0;
}

BOOL CCustomTabCtrl::PreTranslateMessage(MSG* msg) {
    if ((GetStyle() & TABS_TOOLTIPS) && HasToolTip() &&
        (msg->message == WM_LBUTTONDOWN || msg->message == WM_LBUTTONUP || msg->message == WM_MOUSEMOVE))
        m_wndToolTip.RelayEvent(msg);
    return CWnd::PreTranslateMessage(msg);
}

// ---- in-place rename ----

int CCustomTabCtrl::EditLabel(int index, BOOL byMouse) {
    if (index < 0 || index >= GetItemCount()) return -2;
    const DWORD style = GetStyle();
    if (!(style & TABS_EDITLABELS)) return -3;
    if (index != m_nSel) return -5;
    if (m_bEditing) return -6;
    if (style & TABS_VERTICAL) return -10;
    try {
        CCustomTabCtrlItem* item = m_items[index];
        CRect text(0, 0, 0, 0);
        {
            CClientDC dc(this);
            CFont* old = dc.SelectObject(&m_fontSelected);
            dc.DrawText(item->m_strText, &text, DT_CALCRECT | DT_SINGLELINE);
            dc.SelectObject(old);
        }
        CRect rect = item->m_rectText;
        if (rect.Height() > text.Height()) {
            const int d = (rect.Height() - text.Height()) / 2;
            rect.top += d;
            rect.bottom -= d;
        }
        rect.left += 2;
        if (!m_edit.Create(WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, rect, this, kEditId)) return 0;
        m_edit.SetFont(&m_fontSelected);
        m_edit.SetLimitText(30);
        m_edit.SetWindowText(item->m_strText);
        m_strEditOld = item->m_strText;
        m_edit.SetFocus();
        m_edit.SetSel(0, -1);
        if (byMouse) ::ReleaseCapture();
        m_bEditing = true;
        RunEditLoop(index);
        m_bEditing = false;
    } catch (const std::bad_alloc&) {
        m_bEditing = false;
        if (m_edit.m_hWnd) m_edit.DestroyWindow();
        if (byMouse && IsWindow()) NotifyParent(NM_OUTOFMEMORY, index, CPoint(0, 0));
        return -1;
    }
    return 0;
}

BOOL CCustomTabCtrl::CommitEdit(int index) {
    if (NotifyParent(TABN_LABELUPDATE, index, CPoint(0, 0)) != 0) return FALSE;
    if (!IsWindow() || !m_edit.m_hWnd) return TRUE;
    if (m_nSel >= 0 && m_nSel < GetItemCount()) m_items[m_nSel]->m_strText = m_edit.GetWindowText();
    m_edit.DestroyWindow();
    RecalcLayout(kFull, index);
    Invalidate();
    return TRUE;
}

void CCustomTabCtrl::RunEditLoop(int index) {
    MSG msg;
    for (;;) {
        // The parent may have closed the control or the edit under the loop.
        if (!IsWindow() || !m_edit.m_hWnd || !::IsWindow(m_edit.m_hWnd)) break;
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The quit belongs to the outer loop.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1) break;
        switch (msg.message) {
        case WM_LBUTTONDOWN:
            if (msg.hwnd == m_edit.m_hWnd) break;
            if (msg.hwnd == m_hWnd) {
                if (HitTest(CPoint(msg.lParam)) == m_nSel) continue;
                if (!CommitEdit(index)) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
                return;
            }
            if (CommitEdit(index)) return;
            continue;
        case WM_NCLBUTTONDOWN:
            if (!CommitEdit(index)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            return;
        case WM_KEYDOWN:
            if (msg.wParam == VK_ESCAPE) {
                if (m_nSel >= 0 && m_nSel < GetItemCount()) m_items[m_nSel]->m_strText = m_strEditOld;
                m_edit.DestroyWindow();
                RecalcLayout(kFull, m_nSel);
                Invalidate();
                return;
            }
            if (msg.wParam == VK_RETURN) {
                if (CommitEdit(index)) return;
                continue;
            }
            break;
        case WM_SYSKEYDOWN:
            if (msg.wParam == VK_F4 && (msg.lParam & (1 << 29))) continue;
            break;
        case WM_LBUTTONUP:
            if (msg.hwnd != m_edit.m_hWnd) continue;
            break;
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: continue;
        default: break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    // Ended without the parent's consent: the old caption stays.
    if (IsWindow()) {
        if (m_nSel >= 0 && m_nSel < GetItemCount()) m_items[m_nSel]->m_strText = m_strEditOld;
        if (m_edit.m_hWnd && ::IsWindow(m_edit.m_hWnd)) m_edit.DestroyWindow();
        RecalcLayout(kFull, m_nSel);
        Invalidate();
    }
}

void CCustomTabCtrl::OnEditUpdate() {
    if (!m_bEditing || m_nSel < 0 || m_nSel >= GetItemCount()) return;
    m_items[m_nSel]->m_strText = m_edit.GetWindowText();
    RecalcLayout(kEdit, m_nSel);
    Invalidate(FALSE);
}

// ---- tooltip bookkeeping ----

CString CCustomTabCtrl::GetToolText(int id) {
    WCHAR text[256] = {};
    TOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = m_hWnd;
    ti.uId = static_cast<UINT_PTR>(static_cast<INT_PTR>(id));
    ti.lpszText = text;
    if (!m_wndToolTip.SendMessage(TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) return CString();
    if (ti.lpszText != text) return CString();
    return CString(text);
}

void CCustomTabCtrl::SetToolText(int id, const CString& text) {
    m_wndToolTip.UpdateTipText(text, this, static_cast<UINT_PTR>(static_cast<INT_PTR>(id)));
}

void CCustomTabCtrl::ShiftItemTools(int from, int delta) {
    if (!HasToolTip()) return;
    // Items at and after `from` now stand delta further on; the new ids are left without a tool.
    const int count = GetItemCount() - delta;
    for (int i = count - 1; i >= from; --i) {
        const UINT_PTR id = static_cast<UINT_PTR>(i + 1);
        TOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = m_hWnd;
        ti.uId = id;
        WCHAR text[256] = {};
        ti.lpszText = text;
        if (!m_wndToolTip.SendMessage(TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) continue;
        m_wndToolTip.DelTool(this, id);
        m_wndToolTip.AddTool(this, text, &ti.rect, id + delta);
    }
}

void CCustomTabCtrl::SetToolRect(int id, const CRect& stripRect) {
    if (!HasToolTip()) return;
    TOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = m_hWnd;
    ti.uId = static_cast<UINT_PTR>(static_cast<INT_PTR>(id));
    ti.rect = stripRect.IsRectEmpty() ? CRect() : FromStrip(stripRect);
    m_wndToolTip.SendMessage(TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&ti));
}
