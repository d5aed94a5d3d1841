#include <gtest/gtest.h>

#include "controls/CSkinButton.h"
#include "tests/support/Capture.h"

namespace {

constexpr UINT kHost = 201;
constexpr int kButton = 1100;
constexpr COLORREF kText = 0x82523A;

// Records the text colour each caption was drawn with.
class ProbeButton : public CSkinButton {
public:
    COLORREF lastText = CLR_INVALID;

protected:
    void PaintCaption(CDC* dc, const CString& text, CRect* item, CRect* caption, BOOL pressed, BOOL disabled) override {
        CSkinButton::PaintCaption(dc, text, item, caption, pressed, disabled);
        lastText = dc->GetTextColor();
    }
};

class HostDialog : public CDialog {
public:
    ProbeButton button;
    int clicks = 0;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kButton, button); }

protected:
    afx_msg void OnButton() { ++clicks; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(HostDialog, CDialog)
    ON_BN_CLICKED(kButton, &HostDialog::OnButton)
END_MESSAGE_MAP()

struct Host {
    HostDialog dlg;
    CRect item;
    Host() {
        EXPECT_TRUE(dlg.Create(kHost));
        ::SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 60, 60, 0, 0, SWP_NOSIZE);
        dlg.ShowWindow(SW_SHOW);
        test_capture::Pump(50);
        ProbeButton& b = dlg.button;
        b.SetBitmaps(181, 0, 180, 0);
        b.SetAlign(CSkinButton::kAlignOverlap, FALSE);
        for (BYTE i : {1, 3, 5}) b.SetColor(i, kText, TRUE);
        b.SetColor(0, RGB(10, 200, 10));
        b.SetColor(2, RGB(10, 10, 200));
        b.SetColor(4, RGB(200, 10, 10));
        b.ClearImageMargins();
        b.SetFlatBorder(FALSE, FALSE);
        b.GetClientRect(&item);
    }
    ~Host() { dlg.DestroyWindow(); }

    // Draws the button into a memory DC in the given state; returns the DC's pixel reader.
    struct Picture {
        CDC dc;
        CBitmap bmp;
        COLORREF At(int x, int y) { return dc.GetPixel(x, y); }
    };
    void Draw(Picture& p, UINT state) {
        CClientDC screen(nullptr);
        p.dc.CreateCompatibleDC(&screen);
        p.bmp.CreateCompatibleBitmap(screen, item.Width(), item.Height());
        p.dc.SelectObject(&p.bmp);
        // Colours a careless mask blit would pick up.
        p.dc.SetTextColor(RGB(255, 255, 255));
        p.dc.SetBkColor(RGB(0, 0, 0));
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_BUTTON;
        dis.CtlID = kButton;
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = state;
        dis.hwndItem = dlg.button.m_hWnd;
        dis.hDC = p.dc.m_hDC;
        dis.rcItem = item;
        dlg.button.DrawItem(&dis);
    }
};

COLORREF FacePixel(UINT id, int x, int y) {
    CBitmap bmp;
    bmp.LoadBitmap(id);
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap* old = dc.SelectObject(&bmp);
    COLORREF c = dc.GetPixel(x, y);
    dc.SelectObject(old);
    return c;
}

TEST(SkinButton, FacesByState) {
    Host h;
    ASSERT_GT(h.item.Width(), 75);  // wider than the face: the background shows right of it
    struct Case {
        const char* name;
        UINT state;
        bool hover;
        UINT face;
        int shift;
        COLORREF background;
    };
    const Case cases[] = {
        {"normal", 0, false, 180, 0, RGB(10, 10, 200)},
        {"hovered", 0, true, 181, 0, RGB(10, 200, 10)},
        {"pressed", ODS_SELECTED, false, 181, 1, RGB(10, 200, 10)},
        {"focused", ODS_FOCUS, false, 180, 0, RGB(200, 10, 10)},
    };
    for (const Case& c : cases) {
        if (c.hover) {
            CPoint centre = h.item.CenterPoint();
            h.dlg.button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(centre.x, centre.y));
        }
        ASSERT_EQ(h.dlg.button.IsHovered(), c.hover) << c.name;
        Host::Picture p;
        h.Draw(p, c.state);
        // The face (pressed: moved by one pixel), its black corner transparent.
        EXPECT_EQ(p.At(10 + c.shift, 10 + c.shift), FacePixel(c.face, 10, 10)) << c.name;
        EXPECT_EQ(p.At(1 + c.shift, 1 + c.shift), FacePixel(c.face, 1, 1)) << c.name;
        EXPECT_EQ(p.At(c.shift, c.shift), c.background) << c.name << ": transparent corner";
        EXPECT_EQ(p.At(h.item.right - 3, h.item.Height() / 2), c.background) << c.name;
        EXPECT_EQ(h.dlg.button.lastText, kText) << c.name;
        if (c.hover) {
            test_capture::SaveWindow(h.dlg.m_hWnd, "button_hovered");
            h.dlg.button.SendMessage(WM_MOUSELEAVE);
            EXPECT_FALSE(h.dlg.button.IsHovered());
        }
    }
    test_capture::SaveWindow(h.dlg.m_hWnd, "button_normal");
}

// An 8x8 face of the key colour around a 4x4 square of the face colour.
HBITMAP MakeFace(COLORREF key, COLORREF face) {
    CClientDC screen(nullptr);
    CDC dc;
    dc.CreateCompatibleDC(&screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen.m_hDC, 8, 8);
    HGDIOBJ old = SelectObject(dc.m_hDC, bmp);
    dc.FillSolidRect(0, 0, 8, 8, key);
    dc.FillSolidRect(2, 2, 4, 4, face);
    SelectObject(dc.m_hDC, old);
    return bmp;
}

TEST(SkinButton, ShadedNormalFacesKeepTheHoveredKey) {
    // A key other than black: the hovered face's mask blackens its key pixels, so a shaded copy
    // made after it would lose its transparent corners.
    constexpr COLORREF kKey = RGB(255, 0, 255);
    struct Case {
        const char* name;
        INT_PTR normal;
        COLORREF shaded;
    };
    const Case cases[] = {
        {"grey", CSkinButton::kGreyOfHovered, RGB(134, 134, 134)},
        {"darker", CSkinButton::kDarkerOfHovered, RGB(150, 90, 30)},
    };
    for (const Case& c : cases) {
        Host h;
        ASSERT_EQ(
            h.dlg.button.SetBitmapHandles(MakeFace(kKey, RGB(200, 120, 40)), kKey, reinterpret_cast<HBITMAP>(c.normal)),
            CSkinButton::kOk)
            << c.name;
        Host::Picture p;
        h.Draw(p, 0);
        EXPECT_EQ(p.At(3, 3), c.shaded) << c.name;
        EXPECT_EQ(p.At(0, 0), RGB(10, 10, 200)) << c.name << ": transparent corner";
    }
}

TEST(SkinButton, FlatBorderOnlyWhileHoveredAndAllowed) {
    for (BOOL border : {TRUE, FALSE}) {
        Host h;
        h.dlg.button.SetFlatBorder(border, FALSE);
        CPoint centre = h.item.CenterPoint();
        h.dlg.button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(centre.x, centre.y));
        Host::Picture p;
        h.Draw(p, 0);
        COLORREF edge = p.At(h.item.right - 1, h.item.Height() / 2);
        EXPECT_EQ(edge, border ? GetSysColor(COLOR_BTNSHADOW) : RGB(10, 200, 10)) << border;
    }
}

TEST(SkinButton, CaptionColoursByState) {
    Host h;
    CSkinButton& b = h.dlg.button;
    b.SetColor(CSkinButton::kColorFgIn, RGB(1, 1, 1));
    b.SetColor(CSkinButton::kColorFgOut, RGB(3, 3, 3));
    b.SetColor(CSkinButton::kColorFgFocus, RGB(5, 5, 5));
    struct Case {
        UINT state;
        COLORREF text;
    };
    for (const Case& c : {Case{0, RGB(3, 3, 3)}, Case{ODS_SELECTED, RGB(1, 1, 1)}, Case{ODS_FOCUS, RGB(5, 5, 5)},
                          Case{ODS_DISABLED, GetSysColor(COLOR_3DSHADOW)}}) {
        Host::Picture p;
        h.Draw(p, c.state);
        EXPECT_EQ(h.dlg.button.lastText, c.text) << c.state;
    }
}

TEST(SkinButton, SettersRefuseBadValues) {
    Host h;
    CSkinButton& b = h.dlg.button;
    struct Case {
        const char* what;
        DWORD got;
        DWORD expected;
    };
    const Case cases[] = {
        {"align 3", b.SetAlign(3), CSkinButton::kOk},
        {"align 4", b.SetAlign(4), CSkinButton::kInvalidAlign},
        {"colour 5", b.SetColor(5, 0), CSkinButton::kOk},
        {"colour 6", b.SetColor(6, 0), CSkinButton::kInvalidIndex},
        {"pressed style 1", b.SetPressedStyle(1), CSkinButton::kOk},
        {"pressed style 2", b.SetPressedStyle(2), CSkinButton::kInvalidStyle},
        {"not a bitmap", b.SetBitmapHandles(reinterpret_cast<HBITMAP>(0x1234), 0), CSkinButton::kInvalidBitmap},
        {"not a bitmap to grey",
         b.SetBitmapHandles(reinterpret_cast<HBITMAP>(0x1234), 0,
                            reinterpret_cast<HBITMAP>(CSkinButton::kGreyOfHovered)),
         CSkinButton::kInvalidBitmap},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(SkinButton, SubclassingAndClicks) {
    Host h;
    CSkinButton& b = h.dlg.button;
    EXPECT_EQ(b.GetStyle() & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW));
    b.SendMessage(BM_CLICK);
    EXPECT_EQ(h.dlg.clicks, 1);  // the reflected click still reaches the parent
    // A push button ignores check requests.
    EXPECT_EQ(b.SendMessage(BM_SETCHECK, BST_CHECKED), 0);
    EXPECT_EQ(b.SendMessage(BM_GETCHECK), 0);
    // A URL opens through the seam.
    CString opened;
    CSkinButton::Opener() = [&](LPCWSTR url) { opened = url; };
    b.SetURL(L"https://127.0.0.1/help");
    b.SendMessage(BM_CLICK);
    EXPECT_EQ(opened, CString(L"https://127.0.0.1/help"));
    EXPECT_EQ(h.dlg.clicks, 2);
    CSkinButton::Opener() = [](LPCWSTR) {};
}

}  // namespace
