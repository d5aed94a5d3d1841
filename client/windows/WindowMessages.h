// Every window message of the client's own, with what its wParam and lParam carry. The public
// ones pass between the windows (WM_USER + n); the private ones stay inside one window and
// its threads (WM_APP + n, each number free to repeat in another window). The tray icon's
// callback message is CTrayIcon::kCallbackMessage.
#pragma once

#include <windows.h>

// To a new upload row, posted by the page. wParam: a heap CString with the file's full path,
// which the row frees. lParam: 0.
#define WM_START_UPLOAD (WM_USER + 1000)
// To the uploaded-files tab, from the main dialog and from the tab itself after a delete.
// wParam: pointer to the u64 user id. lParam: 0.
#define WM_LOAD_UPLOADED_LIST (WM_USER + 1001)
// Header bar to the tab. wParam: the column's flag before the click (non-zero: ascending).
// lParam: 0.
#define WM_SORT_BY_NAME (WM_USER + 1002)
#define WM_SORT_BY_SIZE (WM_USER + 1003)
#define WM_SORT_BY_EXPIRY (WM_USER + 1004)
// Header bar to the tab. wParam: the select-all box's check state. lParam: 0.
#define WM_CHECK_ALL_ROWS (WM_USER + 1005)
// Uploaded-file row to the tab, forwarded to the header bar. wParam: the row's check state.
// lParam: 0 from the row, passed on unchanged.
#define WM_ROW_CHECK_CHANGED (WM_USER + 1006)
// Tab to the header bar at each load: sort flags and select-all box back to their start.
// wParam, lParam: 0.
#define WM_RESET_HEADER (WM_USER + 1007)
// Upload row to its page, sent at the end of a cancel. wParam: the row. lParam: 0.
#define WM_UPLOAD_CANCELLED (WM_USER + 1008)
// Sent: row to page, page to main dialog, main dialog to the uploaded-files tab. wParam: the
// row, alive during the call. lParam: 0.
#define WM_UPLOAD_DONE (WM_USER + 1009)
// Main dialog to the upload page at its first showing. wParam: pointer to the u64 user id.
// lParam: 0.
#define WM_LOAD_UNFINISHED_UPLOADS (WM_USER + 1010)

// Main dialog: the start-up update check's answer is in (UpdateFetch). wParam, lParam: 0.
constexpr UINT WM_UPDATE_CHECKED = WM_APP + 1;

// Uploaded-files tab: its delete worker is done. wParam, lParam: 0.
constexpr UINT WM_DELETE_FINISHED = WM_APP + 1;

// Upload row, posted by its engine threads to its own window.
constexpr UINT WM_ROW_DISPLAY = WM_APP + 1;      // the row's display numbers changed; wParam, lParam: 0
constexpr UINT WM_ROW_LINK = WM_APP + 2;         // wParam: the link to show (CUploading::Link); lParam: enabled
constexpr UINT WM_ROW_CANCEL_LINK = WM_APP + 3;  // wParam: the cancel link enabled; lParam: 0
constexpr UINT WM_ROW_RANGE = WM_APP + 4;        // progress range to 0..100; wParam, lParam: 0
constexpr UINT WM_ROW_FILE_ERROR = WM_APP + 5;   // the file could not be opened; wParam 1: for a resume; lParam: 0
constexpr UINT WM_ROW_HAND_OVER = WM_APP + 6;    // the finished row goes to the page; wParam, lParam: 0
