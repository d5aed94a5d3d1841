// The stop at exit with an idle sender: acknowledged at once, and later lines are dropped.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "trace/Trace.h"
#include "trace/TraceSender.h"

namespace {

TEST(TraceExit, IdleSenderAcknowledgesTheStopAndLaterLinesAreDropped) {
    GetTraceOptions()->sendMode = 3;  // no viewer involved
    unsigned long target = TraceSenderHandledCount() + 1;
    GetLogNode()->SendA("before the stop", nullptr);
    for (int waited = 0; waited < 5000 && TraceSenderHandledCount() < target; waited += 10) Sleep(10);
    ASSERT_EQ(target, TraceSenderHandledCount());

    DWORD start = GetTickCount();
    StopTraceSender();
    // Far below the one-second limit: the sender said it was done.
    EXPECT_LT(GetTickCount() - start, 900u);

    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([] {
            for (int i = 0; i < 100; ++i) {
                GetLogNode()->Send(L"after the stop", nullptr);
                TraceNode child(GetLogNode(), true);
                child.SendA("a new node after the stop", "right");
            }
        });
    for (std::thread& w : writers) w.join();
    StopTraceSender();  // a second stop is harmless
    Sleep(50);
    EXPECT_EQ(target, TraceSenderHandledCount());
}

}  // namespace
