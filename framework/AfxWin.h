// Everything a window of the programs needs from the framework.
#pragma once

#if __has_include("framework/Afx.h")
#include "framework/Afx.h"
#endif
#include "framework/AfxControls.h"
#include "framework/AfxGdi.h"
#include "framework/CDialog.h"
#include "framework/CWinApp.h"
#include "framework/CWnd.h"
