// The stop at exit while the sender is stuck in a delivery to a viewer that does not answer.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceSender.h"

namespace {

HANDLE g_entered, g_release;
volatile LONG g_received = 0;
std::string g_key;

LRESULT CALLBACK StuckViewer(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lp);
        std::string raw(static_cast<const char*>(data->lpData), data->cbData);
        if (raw.find(g_key) != std::string::npos) {
            InterlockedIncrement(&g_received);
            SetEvent(g_entered);
            WaitForSingleObject(g_release, 20000);
        }
        return TRUE;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool WaitHandled(unsigned long target, int ms) {
    for (int waited = 0; waited < ms && TraceSenderHandledCount() < target; waited += 10) Sleep(10);
    return TraceSenderHandledCount() >= target;
}

TEST(TraceStop, StopDuringAStuckDeliveryLeavesLaterLinesDroppedSafely) {
    g_key = "stuck-" + std::to_string(GetCurrentProcessId());
    g_entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread viewer([&] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = StuckViewer;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TFormReceiver";
        RegisterClassW(&wc);
        window = CreateWindowW(L"TFormReceiver", L"FormReceiver", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                               wc.hInstance, nullptr);
        SetEvent(created);
        MSG m;
        while (window && GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(created, 10000));
    ASSERT_NE(nullptr, window);

    unsigned long before = TraceSenderHandledCount();
    GetLogNode()->SendA(g_key.c_str(), nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_entered, 10000));
    // Queued behind the stuck delivery; the stop must drop them.
    for (int i = 0; i < 5; ++i) GetLogNode()->SendA((g_key + "-queued").c_str(), nullptr);

    DWORD start = GetTickCount();
    StopTraceSender();
    EXPECT_LT(GetTickCount() - start, 5000u);

    // After the stop, from several threads: dropped, nothing freed is touched.
    std::vector<std::thread> late;
    for (int t = 0; t < 4; ++t)
        late.emplace_back([] {
            for (int i = 0; i < 50; ++i) GetLogNode()->Send(L"after the stop", nullptr);
        });
    for (std::thread& t : late) t.join();

    SetEvent(g_release);
    // The stuck list finishes; the sender then leaves, and the five behind it stay unsent until
    // the stop at exit frees them.
    EXPECT_TRUE(WaitHandled(before + 1, 10000));
    Sleep(100);
    EXPECT_EQ(before + 1, TraceSenderHandledCount());
    EXPECT_EQ(1, g_received);

    PostMessageW(window, WM_CLOSE, 0, 0);
    viewer.join();
    // The stop at exit runs once more and now finds the sender gone.
}

}  // namespace
