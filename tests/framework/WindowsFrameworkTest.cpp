#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "framework/AfxWin.h"

namespace {

CWinApp g_app(L"FrameworkTest");

constexpr UINT kDialog = 100;
constexpr int kEdit = 1001;
constexpr int kGo = 1002;
constexpr UINT_PTR kSafetyTimer = 99;
constexpr UINT_PTR kActionTimer = 1;

// Pumps the calling thread's queue until done() or the time runs out.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000) {
    DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void DropQuit() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// A dialog whose test decides what happens once it runs. Every run is bounded by a timer.
class ProbeDialog : public CDialog {
public:
    ProbeDialog() : CDialog(kDialog) {}
    std::function<void(ProbeDialog&)> onInit;
    std::function<void(ProbeDialog&)> onTimer;
    bool visibleAtTimer = false;
    bool everShown = false;
    std::vector<UINT> early;  // messages seen before OnInitDialog
    bool initDone = false;
    CString text;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        initDone = true;
        SetTimer(kSafetyTimer, 5000);
        if (onInit) onInit(*this);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, kEdit, text); }

protected:
    afx_msg BOOL OnNcCreate(LPCREATESTRUCTW cs) {
        early.push_back(WM_NCCREATE);
        return CDialog::OnNcCreate(cs);
    }
    afx_msg void OnNcCalcSize(BOOL valid, NCCALCSIZE_PARAMS* p) {
        if (!initDone) early.push_back(WM_NCCALCSIZE);
        CDialog::OnNcCalcSize(valid, p);
    }
    afx_msg int OnCreate(LPCREATESTRUCTW cs) {
        early.push_back(WM_CREATE);
        return CDialog::OnCreate(cs);
    }
    afx_msg void OnShowWindow(BOOL show, UINT status) {
        if (show) everShown = true;
        CDialog::OnShowWindow(show, status);
    }
    afx_msg void OnTimer(UINT_PTR id) {
        if (id == kSafetyTimer) {
            EndDialog(-2);
            return;
        }
        KillTimer(id);
        visibleAtTimer = IsWindowVisible() != FALSE;
        if (onTimer) onTimer(*this);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
    ON_WM_NCCREATE()
    ON_WM_NCCALCSIZE()
    ON_WM_CREATE()
    ON_WM_SHOWWINDOW()
    ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(Dialog, ModalResultsByHowTheBoxEnds) {
    struct Case {
        const char* name;
        std::function<void(ProbeDialog&)> act;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"EndDialog", [](ProbeDialog& d) { d.EndDialog(42); }, 42},
        {"OK button", [](ProbeDialog& d) { d.GetDlgItem(IDOK)->PostMessage(BM_CLICK); }, IDOK},
        {"Cancel button", [](ProbeDialog& d) { d.GetDlgItem(IDCANCEL)->PostMessage(BM_CLICK); }, IDCANCEL},
        {"Escape", [](ProbeDialog& d) { d.GetDlgItem(kEdit)->PostMessage(WM_KEYDOWN, VK_ESCAPE, 0x00010001); },
         IDCANCEL},
        {"Enter", [](ProbeDialog& d) { d.GetDlgItem(kEdit)->PostMessage(WM_KEYDOWN, VK_RETURN, 0x001C0001); }, IDOK},
        {"close", [](ProbeDialog& d) { d.PostMessage(WM_CLOSE); }, IDCANCEL},
    };
    for (const Case& c : cases) {
        ProbeDialog dlg;
        dlg.onInit = [](ProbeDialog& d) { d.SetTimer(kActionTimer, 50); };
        dlg.onTimer = c.act;
        EXPECT_EQ(dlg.DoModal(), c.expected) << c.name;
        EXPECT_TRUE(dlg.visibleAtTimer) << c.name << ": shown at the first idle moment";
        EXPECT_EQ(dlg.m_hWnd, nullptr) << c.name;
    }
}

TEST(Dialog, TimerDueBeforeTheFirstIdleMomentFindsTheBoxShown) {
    ProbeDialog dlg;
    dlg.onInit = [](ProbeDialog& d) {
        d.SetTimer(kActionTimer, 1);
        Sleep(100);  // a slow start: the timer is due before the loop first looks at the queue
    };
    dlg.onTimer = [](ProbeDialog& d) { d.EndDialog(3); };
    EXPECT_EQ(dlg.DoModal(), 3);
    EXPECT_TRUE(dlg.visibleAtTimer);
}

TEST(Dialog, EndDialogInOnInitDialogNeverShows) {
    ProbeDialog dlg;
    dlg.onInit = [](ProbeDialog& d) { d.EndDialog(7); };
    EXPECT_EQ(dlg.DoModal(), 7);
    EXPECT_FALSE(dlg.everShown);
}

TEST(Dialog, QuitEndsTheLoopAndIsPostedAgain) {
    ProbeDialog dlg;
    dlg.onInit = [](ProbeDialog& d) { d.SetTimer(kActionTimer, 50); };
    dlg.onTimer = [](ProbeDialog&) { PostQuitMessage(5); };
    EXPECT_EQ(dlg.DoModal(), -1);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
}

TEST(Dialog, ReceivesCreationMessagesBeforeInit) {
    ProbeDialog dlg;
    dlg.onInit = [](ProbeDialog& d) { d.EndDialog(IDOK); };
    dlg.DoModal();
    ASSERT_GE(dlg.early.size(), 3u);
    EXPECT_EQ(dlg.early.front(), static_cast<UINT>(WM_NCCREATE));
    EXPECT_NE(std::find(dlg.early.begin(), dlg.early.end(), WM_NCCALCSIZE), dlg.early.end());
    EXPECT_EQ(dlg.early.back(), static_cast<UINT>(WM_CREATE));
}

TEST(Dialog, DataExchangeBothWays) {
    ProbeDialog dlg;
    dlg.text = L"上传 first";
    CString shown;
    dlg.onInit = [&](ProbeDialog& d) {
        d.GetDlgItemText(kEdit, shown);
        d.SetDlgItemText(kEdit, L"second 文件");
        d.OnOK();
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(shown, CString(L"上传 first"));
    EXPECT_EQ(dlg.text, CString(L"second 文件"));
}

// Reads a number from the edit box, or from a control the template may lack.
class NumberDialog : public ProbeDialog {
public:
    int number = 0;
    int controlId = kEdit;
    void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, controlId, number); }
};

TEST(Dialog, FailedExchangeAnswersFalseAndKeepsTheValue) {
    struct Case {
        const wchar_t* typed;
        int controlId;
        BOOL saved;
        int number;
    } cases[] = {
        {L"42", kEdit, TRUE, 42},
        {L"12x", kEdit, FALSE, 7},
        {L"", kEdit, FALSE, 7},
        {L"42", 4242, FALSE, 7},  // no such control
    };
    for (const auto& c : cases) {
        NumberDialog dlg;
        ASSERT_TRUE(dlg.Create(kDialog));
        dlg.controlId = c.controlId;
        dlg.number = 7;
        dlg.SetDlgItemText(kEdit, c.typed);
        EXPECT_EQ(c.saved, dlg.UpdateData(TRUE)) << c.typed << " " << c.controlId;
        EXPECT_EQ(c.number, dlg.number) << c.typed << " " << c.controlId;
        dlg.DestroyWindow();
    }
}

TEST(Dialog, ModelessCreateAndDestroy) {
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(kDialog));
    HWND h = dlg.m_hWnd;
    EXPECT_EQ(CWnd::FromHandlePermanent(h), &dlg);
    EXPECT_TRUE(dlg.initDone);
    dlg.DestroyWindow();
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(h), nullptr);
}

// ---- reflection ----

class ReflectButton : public CButton {
public:
    BOOL spareParent = FALSE;
    int clicks = 0;
    HBRUSH ownBrush = nullptr;

protected:
    afx_msg BOOL OnClicked() {
        ++clicks;
        return spareParent;
    }
    afx_msg HBRUSH CtlColor(CDC*, UINT) { return ownBrush; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ReflectButton, CButton)
    ON_CONTROL_REFLECT_EX(BN_CLICKED, &ReflectButton::OnClicked)
    ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

class ParentDialog : public ProbeDialog {
public:
    ReflectButton go;
    int parentClicks = 0;
    bool answerCtlColor = false;
    HBRUSH parentBrush = nullptr;
    void DoDataExchange(CDataExchange* dx) override {
        ProbeDialog::DoDataExchange(dx);
        DDX_Control(dx, kGo, go);
    }

protected:
    afx_msg void OnGo() { ++parentClicks; }
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
        if (answerCtlColor) return parentBrush;
        return ProbeDialog::OnCtlColor(dc, wnd, kind);
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(ParentDialog, ProbeDialog)
    ON_BN_CLICKED(kGo, &ParentDialog::OnGo)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

TEST(Reflection, CommandGoesToTheChildFirst) {
    for (BOOL spare : {FALSE, TRUE}) {
        ParentDialog dlg;
        ASSERT_TRUE(dlg.Create(kDialog));
        dlg.go.spareParent = spare;
        dlg.go.SendMessage(BM_CLICK);
        EXPECT_EQ(dlg.go.clicks, 1) << spare;
        EXPECT_EQ(dlg.parentClicks, spare ? 0 : 1) << spare;
        dlg.DestroyWindow();
    }
}

TEST(Reflection, CtlColorReflectedOnlyFromTheParentsDefault) {
    CBrush child(RGB(1, 2, 3)), parent(RGB(4, 5, 6));
    struct Case {
        bool parentAnswers;
        HBRUSH childBrush;
        HBRUSH expected;
    };
    const Case cases[] = {
        {false, child, child},
        {true, child, parent},
        {false, nullptr, nullptr},  // falls to the dialog's own default: not the child's
    };
    for (const Case& c : cases) {
        ParentDialog dlg;
        ASSERT_TRUE(dlg.Create(kDialog));
        dlg.answerCtlColor = c.parentAnswers;
        dlg.parentBrush = parent;
        dlg.go.ownBrush = c.childBrush;
        HDC dc = ::GetDC(dlg.m_hWnd);
        auto got = reinterpret_cast<HBRUSH>(
            dlg.SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(dlg.go.m_hWnd)));
        ::ReleaseDC(dlg.m_hWnd, dc);
        if (c.expected)
            EXPECT_EQ(got, c.expected);
        else
            EXPECT_NE(got, static_cast<HBRUSH>(child));
        dlg.DestroyWindow();
    }
}

// ---- windows, subclassing, destruction ----

class TrackedWnd : public CWnd {
public:
    std::vector<UINT> seen;
    bool* destroyedFlag = nullptr;
    bool selfDeleteInDestroy = false;
    bool selfDeleteInPostNcDestroy = false;

protected:
    afx_msg BOOL OnNcCreate(LPCREATESTRUCTW cs) {
        seen.push_back(WM_NCCREATE);
        return CWnd::OnNcCreate(cs);
    }
    afx_msg void OnNcCalcSize(BOOL v, NCCALCSIZE_PARAMS* p) {
        seen.push_back(WM_NCCALCSIZE);
        CWnd::OnNcCalcSize(v, p);
    }
    afx_msg int OnCreate(LPCREATESTRUCTW cs) {
        seen.push_back(WM_CREATE);
        return CWnd::OnCreate(cs);
    }
    afx_msg void OnDestroy() {
        if (destroyedFlag) *destroyedFlag = true;
        CWnd::OnDestroy();
        if (selfDeleteInDestroy) delete this;
    }
    void PostNcDestroy() override {
        if (selfDeleteInPostNcDestroy) delete this;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(TrackedWnd, CWnd)
    ON_WM_NCCREATE()
    ON_WM_NCCALCSIZE()
    ON_WM_CREATE()
    ON_WM_DESTROY()
END_MESSAGE_MAP()

const CRect kRect(10, 10, 210, 110);

TEST(Window, CreationMessagesReachTheObject) {
    TrackedWnd w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, L"w", WS_POPUP | WS_CAPTION, kRect, nullptr, 0));
    ASSERT_EQ(w.seen.size(), 3u);
    EXPECT_EQ(w.seen[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(w.seen[1], static_cast<UINT>(WM_NCCALCSIZE));
    EXPECT_EQ(w.seen[2], static_cast<UINT>(WM_CREATE));
}

TEST(Window, SelfDeletionDuringDestruction) {
    for (bool inDestroy : {true, false}) {
        auto* w = new TrackedWnd;
        w->selfDeleteInDestroy = inDestroy;
        w->selfDeleteInPostNcDestroy = !inDestroy;
        ASSERT_TRUE(w->CreateEx(0, nullptr, L"w", WS_POPUP, kRect, nullptr, 0));
        HWND h = w->m_hWnd;
        ::DestroyWindow(h);
        EXPECT_FALSE(::IsWindow(h)) << inDestroy;
        EXPECT_EQ(CWnd::FromHandlePermanent(h), nullptr) << inDestroy;
    }
}

TEST(Window, DestructorDestroysWithoutDerivedHandlers) {
    bool derivedSawDestroy = false;
    HWND h;
    {
        TrackedWnd w;
        w.destroyedFlag = &derivedSawDestroy;
        ASSERT_TRUE(w.CreateEx(0, nullptr, L"w", WS_POPUP, kRect, nullptr, 0));
        h = w.m_hWnd;
        w.destroyedFlag = nullptr;  // the handler must not run; if it did it would find this null
        derivedSawDestroy = false;
        w.seen.clear();
        w.destroyedFlag = &derivedSawDestroy;
    }
    EXPECT_FALSE(::IsWindow(h));
    EXPECT_FALSE(derivedSawDestroy);
}

TEST(Window, DestroyingTheMainWindowClearsItAndPostsQuit) {
    DropQuit();
    TrackedWnd main, active;
    ASSERT_TRUE(main.CreateEx(0, nullptr, L"main", WS_POPUP, kRect, nullptr, 0));
    ASSERT_TRUE(active.CreateEx(0, nullptr, L"active", WS_POPUP, kRect, nullptr, 0));
    g_app.m_pMainWnd = &main;
    g_app.m_pActiveWnd = &active;
    active.DestroyWindow();
    EXPECT_EQ(g_app.m_pActiveWnd, nullptr);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    main.DestroyWindow();
    EXPECT_EQ(g_app.m_pMainWnd, nullptr);
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

class ProbeSubclass : public CButton {
public:
    bool swappedBeforePre = true;

protected:
    void PreSubclassWindow() override {
        swappedBeforePre = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == &AfxWndProc;
    }
};

TEST(Window, SubclassKeepsTheSavedProcedure) {
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(kDialog));
    ProbeSubclass b;
    ASSERT_TRUE(b.SubclassDlgItem(kGo, &dlg));
    EXPECT_FALSE(b.swappedBeforePre);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(b.m_hWnd, GWLP_WNDPROC)), &AfxWndProc);
    EXPECT_EQ(b.GetWindowText(), CString(L"Go"));  // answered by the button's own procedure
    EXPECT_EQ(CWnd::FromHandle(b.m_hWnd), &b);
    b.SetCheck(BST_CHECKED);
    dlg.DestroyWindow();
    EXPECT_EQ(b.m_hWnd, nullptr);
}

TEST(Window, WorkerThreadsCallControls) {
    ProbeDialog dlg;
    ASSERT_TRUE(dlg.Create(kDialog));
    CStatic label;
    ASSERT_TRUE(label.SubclassDlgItem(1003, &dlg));
    CProgressCtrl bar;
    ASSERT_TRUE(bar.Create(WS_VISIBLE, CRect(0, 0, 100, 10), &dlg, 2000));
    std::atomic<bool> done{false};
    CString readBack;
    int pos = -1;
    std::thread worker([&] {
        label.SetWindowText(L"来自线程");
        readBack = CWnd::FromHandle(label.m_hWnd)->GetWindowText();
        bar.SetRange32(0, 1000);
        bar.SetPos(640);
        pos = bar.GetPos();
        done = true;
    });
    bool finished = PumpUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(readBack, CString(L"来自线程"));
    EXPECT_EQ(pos, 640);
    dlg.DestroyWindow();
}

const UINT g_probeMessage = RegisterWindowMessageW(L"FerrantFrameworkProbe");

class MessageWnd : public CWnd {
public:
    LPARAM got = 0;
    CPoint point{1, 1};

protected:
    afx_msg LRESULT OnProbe(WPARAM, LPARAM l) {
        got = l;
        return 77;
    }
    afx_msg LRESULT OnUser(WPARAM w, LPARAM) { return static_cast<LRESULT>(w) * 2; }
    afx_msg void OnNcMouseMove(UINT, CPoint p) { point = p; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(MessageWnd, CWnd)
    ON_REGISTERED_MESSAGE(g_probeMessage, &MessageWnd::OnProbe)
    ON_MESSAGE(WM_USER + 5, &MessageWnd::OnUser)
    ON_WM_NCMOUSEMOVE()
END_MESSAGE_MAP()

TEST(Window, MessageEntriesAndSignedPoints) {
    MessageWnd w;
    ASSERT_TRUE(w.CreateEx(0, nullptr, L"w", WS_POPUP, kRect, nullptr, 0));
    EXPECT_EQ(w.SendMessage(g_probeMessage, 0, 1234), 77);
    EXPECT_EQ(w.got, 1234);
    EXPECT_EQ(w.SendMessage(WM_USER + 5, 21), 42);
    // A point left of and above the primary monitor.
    w.SendMessage(WM_NCMOUSEMOVE, HTCAPTION, MAKELPARAM(static_cast<WORD>(-30), static_cast<WORD>(-4)));
    EXPECT_EQ(w.point.x, -30);
    EXPECT_EQ(w.point.y, -4);
}

}  // namespace

// A temporary wrapper borrows its handle: the idle clean-up lets go of it, never deletes it.
TEST(Gdi, TemporaryWrappersNeverDeleteBorrowedHandles) {
    HBRUSH brush = ::CreateSolidBrush(RGB(1, 2, 3));
    HDC screen = ::GetDC(nullptr);
    ASSERT_EQ(brush, CGdiObject::FromHandle(brush)->m_hObject);
    ASSERT_EQ(screen, CDC::FromHandle(screen)->m_hDC);
    afx_detail::DeleteTempObjects();
    EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), ::GetObjectType(brush));
    EXPECT_NE(0, ::GetDeviceCaps(screen, HORZRES));
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(brush);
}
