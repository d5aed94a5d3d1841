#include <windows.h>

#include "service/CMyService.h"

int wmain(int, wchar_t**) {
    CWinServiceCommandLineInfo info;
    CMyService service;
    service.m_bAllowCommandLine = TRUE;
    service.m_bAllowNameChange = TRUE;
    service.m_bAllowDescriptionChange = TRUE;
    service.m_bAllowDisplayNameChange = TRUE;
    service.ParseCommandLine(info);
    return static_cast<int>(service.ProcessShellCommand(info));
}
