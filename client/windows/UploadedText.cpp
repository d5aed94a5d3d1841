#include "client/windows/UploadedText.h"

#include "client/windows/PageText.h"

namespace uploadedtext {

std::wstring SizeText(uint64_t bytes) {
    // The kilobyte step starts at 1024 while its divisor stays 1000: 1000 to 1023 bytes read as bytes.
    if (bytes < 1024) return std::to_wstring(bytes) + L"B";
    return pagetext::DecimalSize(bytes);
}

std::wstring ExpiryText(uint16_t hoursLeft) {
    return std::to_wstring(hoursLeft / 24) + L"天" + std::to_wstring(hoursLeft % 24) + L"小时";
}

std::wstring DownloadLink(const std::wstring& host, const std::wstring& linkKey) {
    return L"http://" + host + L"/downAttach.do?file=" + linkKey;
}

}  // namespace uploadedtext
