#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "client/windows/CDialogAbout.h"
#include "client/windows/CDialogFrame.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"

namespace {

constexpr int kFrameWidth = 300, kFrameHeight = 150, kRowHeight = 50, kRows = 5;
constexpr COLORREF kWhite = 0xFFFFFF;

// The container inside a plain page, as the upload page holds it.
class RowContainer : public ::testing::Test {
protected:
    CWnd page;
    CDialogFrame frame{&page};
    std::vector<std::unique_ptr<CWnd>> rows;

    void SetUp() override {
        ASSERT_TRUE(page.CreateEx(0, nullptr, L"page", WS_POPUP | WS_VISIBLE, CRect(60, 60, 420, 280), nullptr, 0));
        ASSERT_TRUE(frame.Create(CDialogFrame::IDD, &page));
        ASSERT_TRUE(frame.GetStyle() & WS_CHILD);
        frame.MoveWindow(10, 10, kFrameWidth, kFrameHeight);
        frame.ShowWindow(SW_SHOW);
        frame.m_nScrollWidth = kFrameWidth - 40;
        frame.m_nScrollHeight = kFrameHeight;
    }
    void TearDown() override {
        rows.clear();
        frame.DestroyWindow();
        page.DestroyWindow();
    }

    // Rows stacked from the top, more than the container shows.
    void AddRows() {
        for (int i = 0; i < kRows; ++i) {
            rows.emplace_back(new CWnd);
            ASSERT_TRUE(rows.back()->CreateEx(0, L"STATIC", L"row", WS_CHILD | WS_VISIBLE | SS_BLACKRECT,
                                              CRect(5, 5 + i * kRowHeight, 205, 5 + (i + 1) * kRowHeight - 2), &frame,
                                              100 + i));
        }
        frame.GetScrollHelper()->SetDisplaySize(frame.m_nScrollWidth, kRows * kRowHeight + 5);
    }
    int RowTop(int i) const {
        CRect r;
        rows[i]->GetWindowRect(&r);
        frame.ScreenToClient(&r);
        return r.top;
    }
    std::vector<int> RowTops() const {
        std::vector<int> tops;
        for (int i = 0; i < kRows; ++i) tops.push_back(RowTop(i));
        return tops;
    }
    COLORREF Pixel(int x, int y) const { return test_capture::WindowPixel(frame.m_hWnd, x, y); }
};

TEST_F(RowContainer, WheelScrollsTheRows) {
    AddRows();
    ASSERT_EQ(RowTop(0), 5);
    frame.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), MAKELPARAM(100, 100));
    EXPECT_EQ(frame.GetScrollHelper()->GetScrollPos().cy, CScrollHelper::kLineStep);
    EXPECT_EQ(RowTop(0), 5 - CScrollHelper::kLineStep);
    EXPECT_EQ(RowTop(3), 5 + 3 * kRowHeight - CScrollHelper::kLineStep);
    // The bar's own messages go the same way.
    frame.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_LINEUP, 0));
    EXPECT_EQ(RowTop(0), 5);
    EXPECT_EQ(frame.GetScrollHelper()->GetScrollPos().cy, 0);
}

TEST_F(RowContainer, DoubleClickDoesNothing) {
    AddRows();
    frame.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0));
    const std::vector<int> before = RowTops();
    const CSize pos = frame.GetScrollHelper()->GetScrollPos();
    const LPARAM at = MAKELPARAM(kFrameWidth - 40, 10);  // right of the rows
    frame.PostMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
    frame.PostMessage(WM_LBUTTONUP, 0, at);
    frame.PostMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    frame.PostMessage(WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(test_capture::PumpUntil([&] {
        MSG m;
        return !PeekMessageW(&m, frame.m_hWnd, 0, 0, PM_NOREMOVE);
    }));
    EXPECT_EQ(RowTops(), before);
    EXPECT_EQ(frame.GetScrollHelper()->GetScrollPos(), pos);
    EXPECT_TRUE(frame.IsWindowVisible());
}

TEST_F(RowContainer, BorderAndWhiteBackground) {
    // Nothing to scroll yet: the bar is hidden and the border shows all round.
    frame.GetScrollHelper()->SetDisplaySize(frame.m_nScrollWidth, 0);
    frame.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    test_capture::Pump(50);
    const int w = kFrameWidth, h = kFrameHeight;
    struct Case {
        int x, y;
        COLORREF expected;
    };
    const Case cases[] = {
        {0, 0, CDialogFrame::kBorder},
        {w / 2, 0, CDialogFrame::kBorder},
        {w - 1, 0, CDialogFrame::kBorder},
        {w - 1, h / 2, CDialogFrame::kBorder},
        {w - 1, h - 3, CDialogFrame::kBorder},
        {w / 2, h - 3, CDialogFrame::kBorder},
        {0, h - 3, CDialogFrame::kBorder},
        {0, h / 2, CDialogFrame::kBorder},
        {1, 1, kWhite},
        {w / 2, h / 2, kWhite},
        {w - 2, h - 4, kWhite},
        {w / 2, h - 2, kWhite},
        {w / 2, h - 1, kWhite},
        {w - 1, h - 1, kWhite},
    };
    for (const Case& c : cases) EXPECT_EQ(Pixel(c.x, c.y), c.expected) << c.x << "," << c.y;
    test_capture::SaveWindow(page.m_hWnd, "row_container_empty");

    // With the bar showing, the top and bottom lines still run to the bar.
    AddRows();
    frame.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    test_capture::Pump(50);
    CRect client;
    frame.GetClientRect(&client);
    ASSERT_LT(client.right, w);
    EXPECT_EQ(Pixel(client.right - 1, 0), CDialogFrame::kBorder);
    EXPECT_EQ(Pixel(client.right - 1, h - 3), CDialogFrame::kBorder);
    EXPECT_EQ(Pixel(0, h / 2), CDialogFrame::kBorder);
    test_capture::SaveWindow(page.m_hWnd, "row_container_rows");
}

TEST_F(RowContainer, EnterAndEscapeKeepIt) {
    struct Case {
        const char* name;
        std::function<void()> act;
    };
    auto key = [this](WPARAM vk) {
        return [this, vk] {
            MSG msg{frame.m_hWnd, WM_KEYDOWN, vk, 1};
            EXPECT_TRUE(frame.PreTranslateMessage(&msg));
        };
    };
    const Case cases[] = {
        {"Enter", key(VK_RETURN)},
        {"Escape", key(VK_ESCAPE)},
        {"IDOK", [this] { frame.SendMessage(WM_COMMAND, IDOK); }},
        {"IDCANCEL", [this] { frame.SendMessage(WM_COMMAND, IDCANCEL); }},
    };
    for (const Case& c : cases) {
        c.act();
        EXPECT_TRUE(frame.IsWindow()) << c.name;
        EXPECT_TRUE(frame.IsWindowVisible()) << c.name;
    }
}

INT_PTR RunAbout(CDialogAbout& box, std::function<void(CDialogAbout&)> action) {
    return test_modal::RunModal(box, std::move(action));
}

struct Shown {
    int id;
    CString text;
};

TEST(AboutBox, ShowsOnlyNameVersionAndButtons) {
    CDialogAbout box;
    std::vector<Shown> shown;
    CString caption;
    bool linkBound = false, linkHidden = false;
    EXPECT_EQ(RunAbout(box,
                       [&](CDialogAbout& b) {
                           caption = b.GetWindowText();
                           for (HWND h = ::GetWindow(b.m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
                               if (::IsWindowVisible(h))
                                   shown.push_back({::GetDlgCtrlID(h), CWnd::FromHandle(h)->GetWindowText()});
                           }
                           linkBound = b.m_lnkHome.m_hWnd == ::GetDlgItem(b.m_hWnd, CDialogAbout::IDC_HOME_LINK);
                           linkHidden = !b.m_lnkHome.IsWindowVisible();
                           test_capture::SaveWindow(b.m_hWnd, "about");
                           b.EndDialog(IDOK);
                       }),
              IDOK);
    EXPECT_EQ(caption, CString(L"关于Tebrin助手"));
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].id, IDOK);
    EXPECT_EQ(shown[0].text, CString(L"确定"));
    EXPECT_EQ(shown[1].id, IDCANCEL);
    EXPECT_EQ(shown[1].text, CString(L"取消"));
    EXPECT_EQ(shown[2].text, CString(L"软件名称：Tebrin上传助手 "));
    EXPECT_EQ(shown[3].text, CString(L"版本信息：V1.0.0.7"));
    EXPECT_TRUE(linkBound);
    EXPECT_TRUE(linkHidden);
    EXPECT_EQ(box.m_lnkHome.GetURL().Left(7), CString(L"http://"));
}

TEST(AboutBox, ResultsByHowItEnds) {
    struct Case {
        const char* name;
        std::function<void(CDialogAbout&)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"OK", [](CDialogAbout& b) { b.GetDlgItem(IDOK)->PostMessage(BM_CLICK); }, IDOK},
        {"Cancel", [](CDialogAbout& b) { b.GetDlgItem(IDCANCEL)->PostMessage(BM_CLICK); }, IDCANCEL},
        {"Enter", [](CDialogAbout& b) { b.PostMessage(WM_KEYDOWN, VK_RETURN, 0x001C0001); }, IDOK},
        {"Escape", [](CDialogAbout& b) { b.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001); }, IDCANCEL},
        {"WM_CLOSE", [](CDialogAbout& b) { b.PostMessage(WM_CLOSE); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        CDialogAbout box;
        EXPECT_EQ(RunAbout(box, c.act), c.expected) << c.name;
    }
}

}  // namespace
