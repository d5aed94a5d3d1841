// The About box the main dialog's menu opens modally: product name and version, OK and Cancel.
#pragma once

#include "controls/CHyperLink.h"
#include "framework/AfxWin.h"

class CDialogAbout : public CDialog {
public:
    enum { IDD = 191, IDC_HOME_LINK = 1058 };

    explicit CDialogAbout(CWnd* parent = nullptr);

    // Bound to a hidden static: the template never shows it.
    CHyperLink m_lnkHome;

protected:
    void DoDataExchange(CDataExchange* dx) override;
};
