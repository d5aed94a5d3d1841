// A trace viewer of our own for the tests: a window of the viewer's class and title, and a TCP
// listener on the viewer's port, recording every command list that arrives.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/TraceCommands.h"

struct ReceivedList {
    std::vector<std::string> commands;
    std::string raw;  // window: the copy data; TCP: length prefix and bytes as read
    ULONG_PTR dwData = 0;
};

class TestViewer {
public:
    ~TestViewer() {
        StopWindow();
        StopListener();
    }

    bool StartWindow();
    void StopWindow();
    bool StartListener();
    void StopListener();

    // Waits (bounded) until pred holds over the lists received so far.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedList>&)>& pred, int ms);
    // Lists whose line text (551) or window id (99) equals key.
    std::vector<ReceivedList> ListsWith(const std::string& key);
    bool WaitForLists(const std::string& key, std::size_t count, int ms);

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    void Record(ReceivedList list);
    void WindowThread(std::promise<bool>* ready);
    void AcceptLoop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedList> lists_;
    std::thread windowThread_;
    HWND window_ = nullptr;
    DWORD windowThreadId_ = 0;
    std::thread acceptThread_;
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> clients_;
    std::vector<std::thread> readers_;
};
