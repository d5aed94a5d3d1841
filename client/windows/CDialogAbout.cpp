#include "client/windows/CDialogAbout.h"

// The product's information page is a deployment value.
#ifndef FERRANT_PRODUCT_PAGE
#define FERRANT_PRODUCT_PAGE L"http://www.tebrin.example/helper"
#endif

CDialogAbout::CDialogAbout(CWnd* parent) : CDialog(IDD, parent) { m_lnkHome.SetURL(FERRANT_PRODUCT_PAGE); }

void CDialogAbout::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_HOME_LINK, m_lnkHome);
}
