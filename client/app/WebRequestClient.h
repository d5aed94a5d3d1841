// WebRequestClient: one HTTP or HTTPS request over WinHTTP, handing back the raw response headers
// and the body decoded to text; ExtractRegexGroups, the pattern search it reads headers with.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "framework/CArray.h"
#include "framework/CString.h"

// Matches `pattern` repeatedly over `source` and collects the texts of each match's groups 0 up
// to groupCount - 1 into `result` (cleared first). Braces mark the groups, parentheses group
// without capturing. Unless allowDuplicates, a text already in the result is not added again.
// False for an empty pattern or source, groupCount below 1, or a pattern that does not parse.
// The syntax is HeaderPattern's: no source, however long, deepens the stack.
bool ExtractRegexGroups(const CString& pattern, bool caseSensitive, int groupCount, const CString& source,
                        CStringArray& result, bool allowDuplicates);

class WebRequestClient {
public:
    typedef void (*ProgressProc)(double percent);

    explicit WebRequestClient(const CString& url, ProgressProc progress = nullptr);
    ~WebRequestClient();
    WebRequestClient(const WebRequestClient&) = delete;
    WebRequestClient& operator=(const WebRequestClient&) = delete;

    // A copy of the bytes is sent after the headers; false for null bytes.
    bool SetRequestBody(const BYTE* bytes, DWORD length);
    // Header lines ("Name: value"), each ended by CR LF; replaces earlier ones.
    bool SetHeaders(const CString& headers);
    // Only "GET" and "POST" (any case). Up to 3 attempts; true when one succeeded.
    bool SendHttpRequest(const CString& verb = L"GET", bool disableRedirects = false);

    CString GetResponseHeader() const { return m_strResponseHeader; }
    CString GetResponseBody() const { return m_strResponseBody; }
    CString GetResponseCharset() const { return m_strResponseCharset; }
    // The Win32 code of the last step that failed.
    DWORD GetLastErrorCode() const { return m_dwLastError; }

private:
    enum Attempt { kAttemptFailed, kAttemptDone, kAttemptAbort };
    Attempt RunAttempt(HINTERNET request, bool isGet, bool disableRedirects);
    bool SendWithProxyFallback(HINTERNET request);
    bool ReadBody(HINTERNET request);
    void DecodeBody();
    bool Fail(DWORD error);
    Attempt FailAttempt(DWORD error);

    HINTERNET m_hSession = nullptr;
    bool m_bRequireValidCertificate = false;
    CString m_strUrl;
    CString m_strHost;
    CString m_strResponseHeader;
    CString m_strResponseBody;
    CString m_strResponseCharset;
    std::vector<BYTE> m_response;  // raw body bytes; one more byte is kept for the terminator
    DWORD m_dwResponseBytes = 0;
    ProgressProc m_pfnProgress = nullptr;
    int m_nContentLength = 0;
    std::vector<BYTE> m_requestBody;
    CString m_strAdditionalHeaders;
    DWORD m_dwLastError = 0;
    CString m_strUserAgent = L"WinHttpClient";
    bool m_bForceCharset = false;
    int m_nResolveTimeout = 0;
    int m_nConnectTimeout = 60000;
    int m_nSendTimeout = 30000;
    int m_nReceiveTimeout = 30000;
};
