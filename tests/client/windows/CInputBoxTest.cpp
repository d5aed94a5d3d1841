#include <gtest/gtest.h>

#include <functional>

#include "client/app/CAppSettings.h"
#include "client/windows/CInputBox.h"
#include "tests/support/Capture.h"
#include "tests/support/ModalRun.h"

namespace {

INT_PTR RunBox(CDialog& box, std::function<void(CDialog&)> action) {
    return test_modal::RunModal(box, std::move(action));
}

CString EditText(CDialog& b) { return b.GetDlgItem(CInputBox::IDC_EDIT)->GetWindowText(); }
void Type(CDialog& b, const wchar_t* text) { b.SetDlgItemText(CInputBox::IDC_EDIT, text); }
void Click(CDialog& b, int id) { b.GetDlgItem(id)->PostMessage(BM_CLICK); }

TEST(InputBox, ResultAndTextByHowTheBoxEnds) {
    const CString initial = L"年度报告.docx";
    struct Case {
        const char* name;
        std::function<void(CDialog&)> act;
        INT_PTR expected;
        CString text;
    };
    const Case cases[] = {
        {"OK, unchanged", [](CDialog& b) { Click(b, IDOK); }, IDOK, initial},
        {"OK, emptied",
         [](CDialog& b) {
             Type(b, L"");
             Click(b, IDOK);
         },
         IDOK, L""},
        {"OK, edited",
         [](CDialog& b) {
             Type(b, L"新名字.txt");
             Click(b, IDOK);
         },
         IDOK, L"新名字.txt"},
        {"Enter, edited",
         [](CDialog& b) {
             Type(b, L"回车.txt");
             b.GetDlgItem(CInputBox::IDC_EDIT)->PostMessage(WM_KEYDOWN, VK_RETURN, 0x001C0001);
         },
         IDOK, L"回车.txt"},
        {"Cancel, edited",
         [](CDialog& b) {
             Type(b, L"不要");
             Click(b, IDCANCEL);
         },
         IDCANCEL, initial},
        {"Escape, edited",
         [](CDialog& b) {
             Type(b, L"不要");
             b.GetDlgItem(CInputBox::IDC_EDIT)->PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         },
         IDCANCEL, initial},
        {"frame's close button, edited",
         [](CDialog& b) {
             Type(b, L"不要");
             CRect r;
             b.GetWindowRect(&r);
             LPARAM at = MAKELPARAM(r.right - 19, r.top + 10);
             ASSERT_EQ(b.SendMessage(WM_NCHITTEST, 0, at), HTCLOSE);
             b.PostMessage(WM_NCLBUTTONUP, HTCLOSE, at);
         },
         IDCANCEL, initial},
    };
    for (const Case& c : cases) {
        CInputBox box;
        EXPECT_TRUE(box.SetInitialText(initial));
        CString shown;
        INT_PTR result = RunBox(box, [&](CDialog& b) {
            shown = EditText(b);
            c.act(b);
        });
        EXPECT_EQ(shown, initial) << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(box.m_strText, c.text) << c.name;
    }
}

TEST(InputBox, TemplateTextsAndColours) {
    CInputBox box;
    CString title, label, ok, cancel;
    COLORREF labelText = 0, labelBack = 0, editBack = 0;
    RunBox(box, [&](CDialog& b) {
        title = b.GetWindowText();
        label = b.GetDlgItem(CInputBox::IDC_LABEL)->GetWindowText();
        ok = b.GetDlgItem(IDOK)->GetWindowText();
        cancel = b.GetDlgItem(IDCANCEL)->GetWindowText();
        HDC dc = ::GetDC(b.m_hWnd);
        EXPECT_NE(b.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(b.GetDlgItem(CInputBox::IDC_LABEL)->m_hWnd)),
                  0);
        labelText = GetTextColor(dc);
        labelBack = GetBkColor(dc);
        SetBkColor(dc, 0);
        b.SendMessage(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                      reinterpret_cast<LPARAM>(b.GetDlgItem(CInputBox::IDC_EDIT)->m_hWnd));
        editBack = GetBkColor(dc);
        ::ReleaseDC(b.m_hWnd, dc);
        test_capture::SaveWindow(b.m_hWnd, "input_box");
        b.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(title, L"文件重命名");
    EXPECT_EQ(label, L"请输入文件名");
    EXPECT_EQ(ok, L"确定");
    EXPECT_EQ(cancel, L"取消");
    EXPECT_EQ(labelText, static_cast<COLORREF>(0x555555));
    EXPECT_EQ(labelBack, static_cast<COLORREF>(0xFFFBFA));
    EXPECT_EQ(editBack, static_cast<COLORREF>(0xFFFBFA));
}

// Against the same template shown plainly: 2 pixels more on either side, and the bottom edge
// 2 pixels up on newer systems, 2 down on older ones.
TEST(InputBox, ClientRectangleFollowsTheSystemVersion) {
    const auto clientSize = test_modal::ModalClientSize;
    CDialog plain(CInputBox::IDD);
    const CSize base = clientSize(plain);
    ASSERT_GT(base.cx, 0);
    const BOOL saved = g_Settings.m_bVistaOrLater;
    for (BOOL vista : {TRUE, FALSE}) {
        g_Settings.m_bVistaOrLater = vista;
        CInputBox box;
        CSize size = clientSize(box);
        EXPECT_EQ(size.cx, base.cx + 4) << vista;
        EXPECT_EQ(size.cy, base.cy + (vista ? -2 : 2)) << vista;
    }
    g_Settings.m_bVistaOrLater = saved;
}

}  // namespace
