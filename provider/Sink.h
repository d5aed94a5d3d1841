// Where a stored file's received bytes go. Writes are positional and may come from several data
// connections at once, so every sink is safe to write from many threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace provider {

using SinkBytes = std::vector<uint8_t>;

class Sink {
public:
    virtual ~Sink() = default;
    virtual bool Write(uint64_t offset, const uint8_t* data, size_t size) = 0;
    // The whole content as far as it was written (unwritten gaps read as 0); false when the sink
    // keeps nothing.
    virtual bool Read(SinkBytes& out) const = 0;
};

// Memory of the file's size, zero-filled.
std::shared_ptr<Sink> MakeMemorySink(uint64_t size);
// A file created (or emptied) at `path` and removed again when the sink goes; nullptr when it
// cannot be created.
std::shared_ptr<Sink> MakeFileSink(const std::wstring& path);
// Takes every write and keeps nothing: for files too large for memory when no folder is set.
std::shared_ptr<Sink> MakeDiscardSink();

}  // namespace provider
