// CDataExchange and the DDX_ functions: a dialog's controls and its members, in the direction
// UpdateData asks for. A failed exchange throws CUserException*, which UpdateData turns into FALSE.
#pragma once

#include <windows.h>

#include "framework/CException.h"
#include "framework/CString.h"

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // The dialog's control of that id; fails the exchange when there is none.
    HWND PrepareCtrl(int id);
    [[noreturn]] void Fail();
};

// Subclasses the dialog's control into the object, once.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, CString& value);
// Saving fails on an empty text or one that is not a whole decimal number.
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
