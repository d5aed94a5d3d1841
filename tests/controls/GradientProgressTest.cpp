#include <gtest/gtest.h>

#include <climits>

#include "controls/CGradientProgressCtrl.h"
#include "tests/support/Capture.h"

namespace {

constexpr UINT kHost = 300;
constexpr int kBar = 1200;
constexpr COLORREF kBk = RGB(230, 230, 230);
constexpr COLORREF kFlat = 0x5CE9AF;
constexpr int kWidth = 100, kHeight = 12;

// Can report a position the native control would never hold.
class ProbeBar : public CGradientProgressCtrl {
public:
    int fakePos = INT_MIN;

protected:
    afx_msg LRESULT OnGetPos(WPARAM, LPARAM) { return fakePos != INT_MIN ? fakePos : Default(); }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ProbeBar, CGradientProgressCtrl)
    ON_MESSAGE(PBM_GETPOS, &ProbeBar::OnGetPos)
END_MESSAGE_MAP()

class HostDialog : public CDialog {
public:
    ProbeBar bar;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kBar, bar); }
};

class GradientProgress : public ::testing::Test {
protected:
    HostDialog dlg;

    void SetUp() override {
        ASSERT_TRUE(dlg.Create(kHost));
        ::SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 60, 60, 0, 0, SWP_NOSIZE);
        dlg.ShowWindow(SW_SHOW);
        // A client area of exactly kWidth x kHeight inside the border.
        CRect w, c;
        dlg.bar.GetWindowRect(&w);
        dlg.bar.GetClientRect(&c);
        dlg.bar.SetWindowPos(nullptr, 10, 10, kWidth + w.Width() - c.Width(), kHeight + w.Height() - c.Height(),
                             SWP_NOZORDER);
        dlg.bar.SetBkColour(kBk);
        dlg.bar.SetGradientColors(kFlat, kFlat);
        dlg.bar.SetRange32(0, 100);
        test_capture::Pump(50);
    }
    void TearDown() override { dlg.DestroyWindow(); }

    // The bar's row of pixels as the screen shows it.
    std::vector<COLORREF> Row() {
        dlg.bar.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = ::GetDC(dlg.bar.m_hWnd);
        std::vector<COLORREF> row;
        for (int x = 0; x < kWidth; ++x) row.push_back(::GetPixel(dc, x, kHeight / 2));
        ::ReleaseDC(dlg.bar.m_hWnd, dc);
        return row;
    }
    // Count of pixels in the row equal to the colour.
    static int Count(const std::vector<COLORREF>& row, COLORREF c) {
        int n = 0;
        for (COLORREF p : row) n += p == c;
        return n;
    }
};

TEST_F(GradientProgress, FilledPartFollowsPositionInExactColours) {
    struct Case {
        int lower, upper, pos;
        DWORD style;
        int filled;
        bool fromRight;
    };
    const Case cases[] = {
        {0, 100, 0, 0, 0, false},
        {0, 100, 50, 0, 50, false},
        {0, 100, 100, 0, 100, false},
        {-50, 50, -50, 0, 0, false},   // position == lower
        {-50, 50, 50, 0, 100, false},  // position == upper
        {-50, 50, 0, 0, 50, false},
        {0, 200, 50, 0, 25, false},
        {0, 2000000000, 1000000000, 0, 50, false},  // byte counts: the scaling must not overflow
        {-2000000000, 2000000000, 1000000000, 0, 75, false},
        {0, 100, 50, CGradientProgressCtrl::kStyleReverse, 50, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lower << ".." << c.upper << " @" << c.pos << " style " << c.style);
        dlg.bar.ModifyStyle(CGradientProgressCtrl::kStyleReverse, c.style);
        dlg.bar.SetRange32(c.lower, c.upper);
        dlg.bar.SetPos(c.pos);
        std::vector<COLORREF> row = Row();
        for (int x = 0; x < kWidth; ++x) {
            bool inBar = c.fromRight ? x >= kWidth - c.filled : x < c.filled;
            ASSERT_EQ(row[x], inBar ? kFlat : kBk) << "x=" << x;
        }
    }
}

TEST_F(GradientProgress, EmptyRangeOrOutsidePositionPaintsBackgroundOnly) {
    struct Case {
        int lower, upper, fakePos;
    };
    const Case cases[] = {
        {50, 50, INT_MIN},  // a range of one value: nothing to scale by
        {100, 0, INT_MIN},  // inverted
        {0, 100, 101},
        {0, 100, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lower << ".." << c.upper << " @" << c.fakePos);
        // Full first, so a paint that stops half way leaves the bar showing.
        dlg.bar.fakePos = INT_MIN;
        dlg.bar.ModifyStyle(CGradientProgressCtrl::kStyleShowPercent, 0);
        dlg.bar.SetRange32(0, 100);
        dlg.bar.SetPos(100);
        ASSERT_EQ(Count(Row(), kFlat), kWidth);
        dlg.bar.SetRange32(c.lower, c.upper);
        dlg.bar.SetPos(c.lower);
        dlg.bar.fakePos = c.fakePos;
        // The text path divides by the range too.
        dlg.bar.ModifyStyle(0, CGradientProgressCtrl::kStyleShowPercent);
        EXPECT_EQ(Count(Row(), kBk), kWidth);
    }
}

TEST_F(GradientProgress, SetBarColorWithoutEndSetsBothColours) {
    EXPECT_EQ(static_cast<COLORREF>(dlg.bar.SendMessage(PBM_SETBARCOLOR, 0, RGB(10, 20, 30))), CLR_DEFAULT);
    const CDWordArray& colours = dlg.bar.GetGradientColors();
    ASSERT_EQ(colours.GetSize(), 2);
    EXPECT_EQ(colours[0], RGB(10, 20, 30));
    EXPECT_EQ(colours[1], RGB(10, 20, 30));
    dlg.bar.SetPos(100);
    EXPECT_EQ(Count(Row(), RGB(10, 20, 30)), kWidth);

    dlg.bar.SendMessage(PBM_SETBARCOLOR, RGB(1, 2, 3), RGB(4, 5, 6));
    EXPECT_EQ(dlg.bar.GetGradientColors()[0], RGB(4, 5, 6));
    EXPECT_EQ(dlg.bar.GetGradientColors()[1], RGB(1, 2, 3));
    EXPECT_EQ(static_cast<COLORREF>(dlg.bar.SendMessage(PBM_SETBKCOLOR, 0, RGB(7, 8, 9))), CLR_DEFAULT);
    EXPECT_EQ(dlg.bar.GetBkColour(), RGB(7, 8, 9));
}

TEST_F(GradientProgress, TwoColourGradientRunsMonotonicallyFromStartToEnd) {
    const COLORREF start = RGB(0, 200, 255), end = RGB(255, 100, 0);
    dlg.bar.SetGradientColors(start, end);
    dlg.bar.SetPos(100);
    std::vector<COLORREF> row = Row();
    EXPECT_EQ(row.front(), start);
    for (int x = 1; x < kWidth; ++x) {
        ASSERT_GE(GetRValue(row[x]), GetRValue(row[x - 1])) << x;
        ASSERT_LE(GetGValue(row[x]), GetGValue(row[x - 1])) << x;
        ASSERT_LE(GetBValue(row[x]), GetBValue(row[x - 1])) << x;
    }
    // One step short of the end colour at most (255 levels over 100 pixels: 3 a step).
    EXPECT_NEAR(GetRValue(row.back()), 255, 3);
    EXPECT_NEAR(GetGValue(row.back()), 100, 3);
    EXPECT_NEAR(GetBValue(row.back()), 0, 3);

    // Half full: the whole-length gradient shows its first half; the filled-only one all of it.
    dlg.bar.SetPos(50);
    row = Row();
    EXPECT_NEAR(GetRValue(row[49]), 125, 4);
    EXPECT_EQ(row[50], kBk);
    dlg.bar.ModifyStyle(0, CGradientProgressCtrl::kStyleGradientFilledOnly);
    row = Row();
    EXPECT_EQ(row.front(), start);
    EXPECT_NEAR(GetRValue(row[49]), 255, 6);
    EXPECT_EQ(row[50], kBk);
}

TEST_F(GradientProgress, PercentTextIsDrawnOverTheBar) {
    dlg.bar.ModifyStyle(0, CGradientProgressCtrl::kStyleShowPercent);
    dlg.bar.SetPos(50);
    std::vector<COLORREF> row = Row();
    EXPECT_EQ(row.front(), kFlat);
    EXPECT_EQ(row.back(), kBk);
    EXPECT_LT(Count(row, kFlat) + Count(row, kBk), kWidth);
}

TEST(GradientProgressText, WindowTextIsNeverAnUncheckedFormat) {
    struct Case {
        const wchar_t* format;
        int value;
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"%d%%", 50, L"50%"},
        {L"%d", -7, L"-7"},
        {L"已上传 %d%%", 100, L"已上传 100%"},
        {L"%s%n%x %d", 3, L"%s%n%x 3"},
        {L"done", 1, L"done"},
        {L"%", 1, L"%"},
        {L"", 1, L""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(CGradientProgressCtrl::FormatBarText(c.format, c.value), c.text) << c.format;
}

TEST_F(GradientProgress, MovingBlockWrapsAndReversesPastTheEnd) {
    dlg.bar.ModifyStyle(0, CGradientProgressCtrl::kStyleMovingBlock);
    dlg.bar.SetPos(0);
    dlg.bar.SetStep(10);
    // 0..100 with a 40-long block: the tail reaches the end after 14 steps, the 15th wraps.
    for (int i = 1; i <= 14; ++i) {
        dlg.bar.StepIt();
        ASSERT_FALSE(dlg.bar.GetStyle() & CGradientProgressCtrl::kStyleReverse) << i;
        ASSERT_EQ(dlg.bar.GetPos(), std::min(10 * i, 100)) << i;
    }
    EXPECT_EQ(dlg.bar.GetBlockTail(), 100);
    dlg.bar.StepIt();
    EXPECT_TRUE(dlg.bar.GetStyle() & CGradientProgressCtrl::kStyleReverse);
    EXPECT_EQ(dlg.bar.GetPos(), 10);
    EXPECT_EQ(dlg.bar.GetBlockTail(), 0);
    for (int i = 0; i < 14; ++i) dlg.bar.StepIt();
    EXPECT_FALSE(dlg.bar.GetStyle() & CGradientProgressCtrl::kStyleReverse);

    // The block shows from its tail to the position, growing from the right now reversed.
    dlg.bar.ModifyStyle(0, CGradientProgressCtrl::kStyleReverse);
    dlg.bar.SetPos(80);
    std::vector<COLORREF> row = Row();
    EXPECT_EQ(dlg.bar.GetBlockTail(), 40);
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(row[x], x >= 20 && x < 60 ? kFlat : kBk) << x;
}

}  // namespace
