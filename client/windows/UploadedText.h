// The texts of an uploaded file's row, from plain values: size, time left and the download
// address. Standard C++ only, so it is tested natively too.
#pragma once

#include <cstdint>
#include <string>

namespace uploadedtext {

// Bytes below 1024 as "%dB"; from there 1000-based "%d.%dKB", "%d.%dMB", "%d.%dGB".
std::wstring SizeText(uint64_t bytes);
// "%d天%d小时": whole days and the hours left over.
std::wstring ExpiryText(uint16_t hoursLeft);
// The file server's download page for the file's link key.
std::wstring DownloadLink(const std::wstring& host, const std::wstring& linkKey);

}  // namespace uploadedtext
