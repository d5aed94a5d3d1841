#include "provider/Sink.h"

#include <windows.h>

#include <cstring>
#include <mutex>

namespace provider {

namespace {

class MemorySink : public Sink {
public:
    explicit MemorySink(uint64_t size) : m_bytes(static_cast<size_t>(size)) {}
    bool Write(uint64_t offset, const uint8_t* data, size_t size) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) return false;
        if (size) std::memcpy(m_bytes.data() + offset, data, size);
        return true;
    }
    bool Read(SinkBytes& out) const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        out = m_bytes;
        return true;
    }

private:
    mutable std::mutex m_mutex;
    SinkBytes m_bytes;
};

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED o = {};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// Positional reads and writes through OVERLAPPED offsets leave the shared file pointer alone,
// so concurrent segments need no lock.
class FileSink : public Sink {
public:
    FileSink(HANDLE h, const std::wstring& path) : m_handle(h), m_path(path) {}
    ~FileSink() override {
        CloseHandle(m_handle);
        DeleteFileW(m_path.c_str());
    }
    bool Write(uint64_t offset, const uint8_t* data, size_t size) override {
        while (size > 0) {
            DWORD piece = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size), done = 0;
            OVERLAPPED o = At(offset);
            if (!WriteFile(m_handle, data, piece, &done, &o) || done == 0) return false;
            data += done;
            offset += done;
            size -= done;
        }
        return true;
    }
    bool Read(SinkBytes& out) const override {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(m_handle, &size)) return false;
        out.assign(static_cast<size_t>(size.QuadPart), 0);
        uint64_t at = 0;
        while (at < out.size()) {
            DWORD want = out.size() - at > (1u << 20) ? (1u << 20) : static_cast<DWORD>(out.size() - at), got = 0;
            OVERLAPPED o = At(at);
            if (!ReadFile(m_handle, out.data() + at, want, &got, &o) || got == 0) return false;
            at += got;
        }
        return true;
    }

private:
    HANDLE m_handle;
    std::wstring m_path;
};

class DiscardSink : public Sink {
public:
    bool Write(uint64_t, const uint8_t*, size_t) override { return true; }
    bool Read(SinkBytes&) const override { return false; }
};

}  // namespace

std::shared_ptr<Sink> MakeMemorySink(uint64_t size) { return std::make_shared<MemorySink>(size); }

std::shared_ptr<Sink> MakeFileSink(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_shared<FileSink>(h, path);
}

std::shared_ptr<Sink> MakeDiscardSink() { return std::make_shared<DiscardSink>(); }

}  // namespace provider
