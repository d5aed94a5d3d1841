// The client program: its application object with the deployment's servers and the main dialog.
#include "client/app/CFerrantApp.h"
#include "client/windows/CFerrantDlg.h"

#ifndef FERRANT_WEBMAIL_HOSTS
#error "FERRANT_WEBMAIL_HOSTS names the web-mail hosts whose login check is believed"
#endif

namespace {

INT_PTR RunFerrantDlg(CFerrantApp& app) {
    CFerrantDlg dialog(nullptr);
    app.m_pMainWnd = &dialog;
    INT_PTR result = dialog.DoModal();
    app.ForgetWindow(&dialog);
    return result;
}

}  // namespace

CFerrantApp theApp;

namespace {

// Same file as theApp, so it runs after theApp is built.
const bool g_bDeployed = [] {
    theApp.m_runMainDialog = RunFerrantDlg;
    theApp.m_strTrustedHosts = L"" FERRANT_WEBMAIL_HOSTS;
    // The deployment's session service and update server are built into the parts that call
    // them; a build for stand-ins names its own.
#ifdef FERRANT_STANDIN_SESSION_ENDPOINT
    theApp.m_strSessionEndpoint = FERRANT_STANDIN_SESSION_ENDPOINT;
#endif
#ifdef FERRANT_STANDIN_UPDATE_HOST
    theApp.m_strUpdateHost = L"" FERRANT_STANDIN_UPDATE_HOST;
#endif
    return true;
}();

}  // namespace
