#include <future>

#include "tests/trace/TestViewer.h"

namespace {

const wchar_t kClass[] = L"TFormReceiver";
const wchar_t kTitle[] = L"FormReceiver";

bool RecvAll(SOCKET s, char* out, int length) {
    while (length > 0) {
        int got = recv(s, out, length, 0);
        if (got <= 0) return false;
        out += got;
        length -= got;
    }
    return true;
}

}  // namespace

LRESULT CALLBACK TestViewer::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    } else if (msg == WM_COPYDATA) {
        auto* self = reinterpret_cast<TestViewer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lp);
        ReceivedList list;
        list.dwData = data->dwData;
        if (data->lpData && data->cbData) {
            list.raw.assign(static_cast<const char*>(data->lpData), data->cbData);
            list.commands = SplitTraceCommands(list.raw.data(), list.raw.size());
        }
        if (self) self->Record(std::move(list));
        return TRUE;
    } else if (msg == WM_DESTROY) {
        PostQuitMessage(0);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TestViewer::WindowThread(std::promise<bool>* ready) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    window_ = CreateWindowW(kClass, kTitle, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, wc.hInstance, this);
    windowThreadId_ = GetCurrentThreadId();
    ready->set_value(window_ != nullptr);
    if (!window_) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool TestViewer::StartWindow() {
    std::promise<bool> ready;
    std::future<bool> result = ready.get_future();
    windowThread_ = std::thread(&TestViewer::WindowThread, this, &ready);
    bool ok = result.get();
    if (!ok) windowThread_.join();
    return ok;
}

void TestViewer::StopWindow() {
    if (!windowThread_.joinable()) return;
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    windowThread_.join();
    window_ = nullptr;
}

bool TestViewer::StartListener() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    BOOL on = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(8090);
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 4) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        WSACleanup();
        return false;
    }
    acceptThread_ = std::thread(&TestViewer::AcceptLoop, this);
    return true;
}

void TestViewer::AcceptLoop() {
    for (;;) {
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.push_back(client);
        }
        readers_.emplace_back([this, client] {
            for (;;) {
                std::string prefix;
                char c;
                while (RecvAll(client, &c, 1) && c != '\0' && prefix.size() < 16) prefix += c;
                if (prefix.empty() || c != '\0') return;
                int length = std::atoi(prefix.c_str());
                if (length <= 0 || length > (1 << 24)) return;
                std::string bytes(static_cast<std::size_t>(length), '\0');
                if (!RecvAll(client, &bytes[0], length)) return;
                ReceivedList list;
                list.raw = prefix + '\0' + bytes;
                list.commands = SplitTraceCommands(bytes.data(), bytes.size());
                Record(std::move(list));
            }
        });
    }
}

void TestViewer::StopListener() {
    if (listener_ == INVALID_SOCKET) return;
    closesocket(listener_);
    acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (SOCKET s : clients_) {
            shutdown(s, SD_BOTH);
            closesocket(s);
        }
        clients_.clear();
    }
    for (std::thread& t : readers_) t.join();
    readers_.clear();
    listener_ = INVALID_SOCKET;
    WSACleanup();
}

void TestViewer::Record(ReceivedList list) {
    std::lock_guard<std::mutex> lock(mutex_);
    lists_.push_back(std::move(list));
    changed_.notify_all();
}

bool TestViewer::WaitFor(const std::function<bool(const std::vector<ReceivedList>&)>& pred, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(lists_); });
}

static bool Matches(const ReceivedList& list, const std::string& key) {
    for (const std::string& c : list.commands) {
        int code = TraceCommandCodeOf(c);
        if ((code == kTraceLeftText || code == kTraceWindowId) && TraceCommandPayload(c) == key) return true;
    }
    return false;
}

std::vector<ReceivedList> TestViewer::ListsWith(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReceivedList> out;
    for (const ReceivedList& l : lists_)
        if (Matches(l, key)) out.push_back(l);
    return out;
}

bool TestViewer::WaitForLists(const std::string& key, std::size_t count, int ms) {
    return WaitFor(
        [&](const std::vector<ReceivedList>& lists) {
            std::size_t n = 0;
            for (const ReceivedList& l : lists) n += Matches(l, key);
            return n >= count;
        },
        ms);
}
