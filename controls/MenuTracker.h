// MenuTracker: how the client's windows and controls track a popup menu. Each class that shows
// one keeps its own replaceable tracker beside the call (tests need no mouse); all take
// TrackPopupMenu's arguments and return its result: with TPM_RETURNCMD the command chosen, 0
// for none.
#pragma once

#include <windows.h>

#include <functional>

using MenuTracker = std::function<BOOL(HMENU menu, UINT flags, int x, int y, HWND owner)>;
