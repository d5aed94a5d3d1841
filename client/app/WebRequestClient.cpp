#include "client/app/WebRequestClient.h"

#include <cstring>
#include <new>

#include "client/app/HeaderPattern.h"

namespace {

constexpr DWORD kFirstBodyBuffer = 10240;
constexpr int kAttempts = 3;
constexpr DWORD kLenientCertificates =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;

bool Contains(const CStringArray& list, const CString& text, bool caseSensitive) {
    for (INT_PTR i = 0; i < list.GetSize(); ++i) {
        if (caseSensitive ? list[i] == text : list[i].CompareNoCase(text) == 0) return true;
    }
    return false;
}

CString Decode(UINT codePage, DWORD flags, const char* text) {
    return CString(afx_string::Widen(text, static_cast<int>(std::strlen(text)), codePage, flags));
}

void FreeText(LPWSTR text) {
    if (text) GlobalFree(text);
}

}  // namespace

bool ExtractRegexGroups(const CString& pattern, bool caseSensitive, int groupCount, const CString& source,
                        CStringArray& result, bool allowDuplicates) {
    result.RemoveAll();
    if (pattern.IsEmpty() || source.IsEmpty() || groupCount < 1) return false;
    HeaderPattern expression;
    if (!expression.Compile(pattern.str(), caseSensitive)) return false;
    const std::wstring& text = source.str();
    HeaderPattern::Match match;
    size_t from = 0;
    while (from <= text.size() && expression.Search(text, from, match)) {
        for (int group = 0; group < groupCount && group < expression.GroupCount(); ++group) {
            const auto& span = match.groups[static_cast<size_t>(group)];
            if (span.first == HeaderPattern::kNone) break;
            CString found(text.substr(span.first, span.second - span.first));
            if (!allowDuplicates && Contains(result, found, caseSensitive)) continue;
            result.Add(found);
        }
        // An empty match would be found again at the same place for good.
        from = match.end == match.begin ? match.end + 1 : match.end;
    }
    return true;
}

WebRequestClient::WebRequestClient(const CString& url, ProgressProc progress)
    : m_strUrl(url), m_pfnProgress(progress) {}

WebRequestClient::~WebRequestClient() {
    if (m_hSession) WinHttpCloseHandle(m_hSession);
}

bool WebRequestClient::SetRequestBody(const BYTE* bytes, DWORD length) {
    if (!bytes) return false;
    m_requestBody.clear();
    try {
        m_requestBody.assign(bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool WebRequestClient::SetHeaders(const CString& headers) {
    m_strAdditionalHeaders = headers;
    return true;
}

bool WebRequestClient::Fail(DWORD error) {
    m_dwLastError = error;
    return false;
}

WebRequestClient::Attempt WebRequestClient::FailAttempt(DWORD error) {
    m_dwLastError = error;
    return kAttemptFailed;
}

bool WebRequestClient::SendHttpRequest(const CString& verb, bool disableRedirects) {
    if (m_strUrl.IsEmpty()) return Fail(ERROR_PATH_NOT_FOUND);
    CString method = verb;
    method.MakeUpper();
    if (method != L"GET" && method != L"POST") return Fail(ERROR_INVALID_PARAMETER);
    if (!m_hSession) {
        m_hSession = WinHttpOpen(m_strUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
        if (!m_hSession) return Fail(::GetLastError());
    }
    WinHttpSetTimeouts(m_hSession, m_nResolveTimeout, m_nConnectTimeout, m_nSendTimeout, m_nReceiveTimeout);

    wchar_t host[260] = {};
    wchar_t path[1300] = {};
    wchar_t extra[1300] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 260;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1300;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 1300;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(m_strUrl, 0, 0, &parts)) return Fail(::GetLastError());
    m_strHost = host;
    CString object = CString(path) + extra;  // the query stays part of the request
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    HINTERNET connection = WinHttpConnect(m_hSession, host, parts.nPort, 0);
    if (!connection) return Fail(::GetLastError());
    HINTERNET request = WinHttpOpenRequest(connection, method, object, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) {
        Fail(::GetLastError());
        WinHttpCloseHandle(connection);
        return false;
    }
    if (secure && !m_bRequireValidCertificate) {
        DWORD flags = kLenientCertificates;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    // Once per request: the handle keeps them for every attempt, and adding them again would
    // merge each header with its own earlier copy.
    if (!m_strAdditionalHeaders.IsEmpty() &&
        !WinHttpAddRequestHeaders(request, m_strAdditionalHeaders, static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON))
        m_dwLastError = ::GetLastError();
    if (disableRedirects) {
        DWORD feature = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
    }

    bool done = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Attempt result = RunAttempt(request, method == L"GET", disableRedirects);
        if (result == kAttemptFailed) continue;
        done = result == kAttemptDone;
        break;
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    return done;
}

bool WebRequestClient::SendWithProxyFallback(HINTERNET request) {
    DWORD total = static_cast<DWORD>(m_requestBody.size());
    if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total, 0))
        return true;
    m_dwLastError = ::GetLastError();
    bool sent = false;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return false;
    if (ie.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP;
        options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO proxy = {};
        if (WinHttpGetProxyForUrl(m_hSession, m_strUrl, &options, &proxy)) {
            WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &proxy, sizeof proxy);
            sent = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total, 0);
            if (!sent) m_dwLastError = ::GetLastError();
            FreeText(proxy.lpszProxy);
            FreeText(proxy.lpszProxyBypass);
        } else {
            m_dwLastError = ::GetLastError();
        }
    } else if (ie.lpszProxy) {
        // Not sent again here: the next attempt goes through this proxy.
        WINHTTP_PROXY_INFO proxy = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.lpszProxy, ie.lpszProxyBypass};
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &proxy, sizeof proxy);
    }
    FreeText(ie.lpszAutoConfigUrl);
    FreeText(ie.lpszProxy);
    FreeText(ie.lpszProxyBypass);
    return sent;
}

WebRequestClient::Attempt WebRequestClient::RunAttempt(HINTERNET request, bool isGet, bool disableRedirects) {
    if (!SendWithProxyFallback(request)) return kAttemptFailed;
    if (!m_requestBody.empty()) {
        DWORD written = 0;
        if (!WinHttpWriteData(request, m_requestBody.data(), static_cast<DWORD>(m_requestBody.size()), &written))
            return FailAttempt(::GetLastError());
    }
    if (!WinHttpReceiveResponse(request, nullptr)) return FailAttempt(::GetLastError());

    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    m_strResponseHeader.Empty();
    if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
        std::wstring header(size / sizeof(wchar_t) + 1, L'\0');
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &header[0],
                                &size, WINHTTP_NO_HEADER_INDEX))
            m_strResponseHeader = header.c_str();
    }
    CStringArray found;
    if (!m_bForceCharset) {
        m_strResponseCharset.Empty();
        if (ExtractRegexGroups(L"charset={[A-Za-z0-9\\-_]+}", false, 1, m_strResponseHeader, found, false) &&
            found.GetSize() > 0)
            m_strResponseCharset = found[0];
    }
    m_nContentLength = 0;
    if (ExtractRegexGroups(L"Content-Length: {[0-9]+}", false, 1, m_strResponseHeader, found, false) &&
        found.GetSize() > 0)
        m_nContentLength = _wtoi(found[0]);

    try {
        if (!ReadBody(request)) return kAttemptFailed;
    } catch (const std::bad_alloc&) {
        m_dwLastError = ERROR_NOT_ENOUGH_MEMORY;
        return kAttemptAbort;
    }
    DecodeBody();

    if (isGet && !disableRedirects) {
        CString lower = m_strResponseBody;
        lower.MakeLower();
        // A page cut off before its end: ask again.
        if (lower.Find(L"<html>") >= 0 && lower.Find(L"</html>") < 0) return FailAttempt(ERROR_INVALID_DATA);
    }
    return kAttemptDone;
}

bool WebRequestClient::ReadBody(HINTERNET request) {
    m_dwResponseBytes = 0;
    m_response.assign(kFirstBodyBuffer, 0);
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return Fail(::GetLastError());
        if (available == 0) return true;
        // One byte more than the data: the decoder reads a terminated string.
        size_t needed = static_cast<size_t>(m_dwResponseBytes) + available + 1;
        if (needed > m_response.size()) {
            size_t grown = m_response.size();
            while (grown < needed) grown *= 2;
            m_response.resize(grown);
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, m_response.data() + m_dwResponseBytes, available, &read))
            return Fail(::GetLastError());
        if (read == 0) return true;
        m_dwResponseBytes += read;
        if (m_pfnProgress && m_nContentLength > 0)
            m_pfnProgress(static_cast<double>(m_dwResponseBytes) * 100 / m_nContentLength);
    }
}

void WebRequestClient::DecodeBody() {
    m_response[m_dwResponseBytes] = 0;
    const char* text = reinterpret_cast<const char*>(m_response.data());
    CString decoded;
    if (m_strResponseCharset.Left(5).CompareNoCase(L"utf-8") == 0) {
        // Only with this flag does a byte that is not UTF-8 make the decoding fail.
        decoded = Decode(CP_UTF8, MB_ERR_INVALID_CHARS, text);
        if (decoded.IsEmpty()) decoded = Decode(CP_ACP, MB_PRECOMPOSED, text);
    } else {
        decoded = Decode(CP_ACP, MB_PRECOMPOSED, text);
    }
    if (!decoded.IsEmpty()) m_strResponseBody = decoded;
}
