// A service that accepts no control at all, so the manager refuses to stop it. It ends by itself once
// its release event ("Global\<service name>.release") is set, or after a minute, so that nothing
// outlives a failed test. Installed with "/SN:<name>" on its command line.
#include <windows.h>

#include "service/CWinService.h"

namespace {
class CStubbornService : public CWinService {
public:
    CStubbornService() : CWinService(L"FerrantStubborn", L"Ferrant Stubborn", 0, nullptr) {
        m_bAllowNameChange = TRUE;
        m_bEventLogging = FALSE;
    }

    void Run(DWORD, LPWSTR*) override {
        std::wstring name = L"Global\\" + m_strServiceName + L".release";
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        ReportStatus(SERVICE_RUNNING);
        if (release) {
            WaitForSingleObject(release, 60000);
            CloseHandle(release);
        }
    }
};
}  // namespace

int wmain(int, wchar_t**) {
    CWinServiceCommandLineInfo info;
    CStubbornService service;
    service.ParseCommandLine(info);
    return static_cast<int>(service.ProcessShellCommand(info));
}
