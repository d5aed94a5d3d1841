// The colours the client's windows paint with, and the one answer they give to a control's
// colour request (WM_CTLCOLOR*).
#pragma once

#include "framework/AfxWin.h"

namespace palette {

// Backgrounds.
constexpr COLORREF kWindow = RGB(235, 240, 248);  // main dialog, message box
constexpr COLORREF kPage = RGB(249, 251, 255);    // upload page, uploaded-files tab and its header bar
constexpr COLORREF kDialog = RGB(250, 251, 255);  // login dialog, input box
constexpr COLORREF kRow = RGB(255, 255, 255);     // upload and uploaded rows, the rows' container

// Texts.
constexpr COLORREF kLabel = RGB(85, 85, 85);    // dialog labels, an uploaded row's size and time left
constexpr COLORREF kHint = RGB(118, 132, 151);  // the upload page's hints, an upload row's figures
constexpr COLORREF kLink = RGB(118, 132, 148);  // the rows' links, message box text
constexpr COLORREF kLinkHover = RGB(253, 143, 0);
constexpr COLORREF kName = RGB(0, 0, 0);        // a row's file name
constexpr COLORREF kButton = RGB(58, 82, 130);  // push buttons' captions

// The brush of `colour`, made in `brush` at the first call and kept there.
HBRUSH Brush(CBrush& brush, COLORREF colour);
// A colour request: `back` behind the text, `text` as its colour unless CLR_INVALID, and the
// brush of `back`.
HBRUSH Paint(CDC& dc, CBrush& brush, COLORREF back, COLORREF text = CLR_INVALID);

}  // namespace palette
