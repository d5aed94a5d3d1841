// The entry of a window program: linked in only by programs that need wWinMain.
#include "framework/CWinApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR cmdLine, int show) {
    return AfxWinMain(instance, previous, cmdLine, show);
}
