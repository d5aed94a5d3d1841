// A label's text cut to the label's width with "...", measured in the label's own font.
#pragma once

#include "framework/AfxWin.h"

// Sets the label's text only when the fitted text differs, so a paint causes no further paint.
void FitLabelText(CDC& dc, CStatic& label, const CString& text);
