#include <gtest/gtest.h>

#include <functional>

#include "client/windows/CTips.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"

namespace {

INT_PTR RunBox(CTips& box, std::function<void(CTips&)> action) { return test_modal::RunModal(box, std::move(action)); }

struct Texts {
    CString label, title, ok, cancel;
};
Texts Read(CTips& b) {
    return {b.m_label.GetWindowText(), b.GetWindowText(), b.m_ok.GetWindowText(), b.m_cancel.GetWindowText()};
}

TEST(Tips, TextsBySetter) {
    struct Case {
        const char* name;
        std::function<void(CTips&)> set;
        Texts expected;
    };
    const Case cases[] = {
        {"text only", [](CTips& t) { t.SetText(L"文件上传成功"); }, {L"文件上传成功", L"提示", L"确定", L"取消"}},
        {"all four",
         [](CTips& t) {
             t.SetText(L"是否继续上传?");
             t.SetTitle(L"上传");
             t.SetOkText(L"继续");
             t.SetCancelText(L"停止");
         },
         {L"是否继续上传?", L"上传", L"继续", L"停止"}},
        {"none", [](CTips&) {}, {L"静态", L"提示", L"确定", L"取消"}},
    };
    for (const Case& c : cases) {
        CTips box;
        c.set(box);
        Texts got;
        RunBox(box, [&](CTips& b) {
            got = Read(b);
            if (std::string(c.name) == "all four") test_capture::SaveWindow(b.m_hWnd, "tips");
            b.EndDialog(IDOK);
        });
        EXPECT_EQ(got.label, c.expected.label) << c.name;
        EXPECT_EQ(got.title, c.expected.title) << c.name;
        EXPECT_EQ(got.ok, c.expected.ok) << c.name;
        EXPECT_EQ(got.cancel, c.expected.cancel) << c.name;
    }
}

TEST(Tips, ResultsByHowTheBoxEnds) {
    struct Case {
        const char* name;
        std::function<void(CTips&)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"OK", [](CTips& b) { b.m_ok.PostMessage(BM_CLICK); }, IDOK},
        {"Cancel", [](CTips& b) { b.m_cancel.PostMessage(BM_CLICK); }, IDCANCEL},
        {"Enter", [](CTips& b) { b.PostMessage(WM_KEYDOWN, VK_RETURN, 0x001C0001); }, IDOK},
        {"Escape", [](CTips& b) { b.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001); }, IDCANCEL},
        {"close button",
         [](CTips& b) {
             CRect r;
             b.GetWindowRect(&r);
             LPARAM at = MAKELPARAM(r.right - 19, r.top + 10);
             ASSERT_EQ(b.SendMessage(WM_NCHITTEST, 0, at), HTCLOSE);
             b.PostMessage(WM_NCLBUTTONUP, HTCLOSE, at);
         },
         IDCANCEL},
        {"WM_CLOSE", [](CTips& b) { b.PostMessage(WM_CLOSE); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        CTips box;
        box.SetText(L"确认");
        EXPECT_EQ(RunBox(box, c.act), c.expected) << c.name;
    }
}

TEST(Tips, ColoursAndClientArea) {
    CTips box;
    COLORREF label = 0, background = 0;
    int clientLeft = -1, clientTop = -1;
    RunBox(box, [&](CTips& b) {
        HDC dc = ::GetDC(b.m_hWnd);
        LRESULT brush =
            b.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(b.m_label.m_hWnd));
        label = GetTextColor(dc);
        background = GetBkColor(dc);
        ::ReleaseDC(b.m_hWnd, dc);
        EXPECT_NE(brush, 0);
        CRect w, c;
        b.GetWindowRect(&w);
        b.GetClientRect(&c);
        b.ClientToScreen(&c);
        clientLeft = c.left - w.left;
        clientTop = c.top - w.top;
        b.EndDialog(IDOK);
    });
    EXPECT_EQ(label, static_cast<COLORREF>(0x948476));
    EXPECT_EQ(background, static_cast<COLORREF>(0xF8F0EB));
    // The client area starts inside the skinned caption and border.
    EXPECT_EQ(clientTop, box.m_frame.CaptionHeight());
    EXPECT_EQ(clientLeft, box.m_frame.LeftWidth());
}

}  // namespace
