#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "client/windows/UploadedText.h"

TEST(UploadedText, SizesStepToKilobytesAt1024) {
    const struct {
        uint64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0B"},
        {1000, L"1000B"},
        {1023, L"1023B"},
        {1024, L"1.0KB"},
        {1999, L"1.9KB"},
        {999999, L"999.9KB"},
        {1500000, L"1.5MB"},
        {999999999, L"999.9MB"},
        {1000000000, L"1.0GB"},
        {2500000000, L"2.5GB"},
        {UINT64_MAX, L"18446744073.7GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(uploadedtext::SizeText(c.bytes), c.text) << c.bytes;
}

TEST(UploadedText, ExpiryInDaysAndHours) {
    const struct {
        uint16_t hours;
        const wchar_t* text;
    } cases[] = {{0, L"0天0小时"}, {23, L"0天23小时"}, {24, L"1天0小时"}, {90, L"3天18小时"}, {65535, L"2730天15小时"}};
    for (const auto& c : cases) EXPECT_EQ(uploadedtext::ExpiryText(c.hours), c.text) << c.hours;
}

TEST(UploadedText, DownloadLinkNamesTheFileServerAndKey) {
    EXPECT_EQ(uploadedtext::DownloadLink(L"10.1.2.3", L"k3y=AB"), L"http://10.1.2.3/downAttach.do?file=k3y=AB");
    EXPECT_EQ(uploadedtext::DownloadLink(L"10.1.2.3", L""), L"http://10.1.2.3/downAttach.do?file=");
}
