#ifndef QUORIN_TRAY_TRAY_H
#define QUORIN_TRAY_TRAY_H

#include <windows.h>
#include <shellapi.h>

enum {
    WM_TRAYNOTIFY = WM_USER + 100,
    TRAY_ICON_ID = 1,
};

extern NOTIFYICONDATAA TrayIconData;

int RunTrayWindow(HINSTANCE instance);
// For a second resident start: the running instance puts its icon back.
void AskRunningTrayForItsIcon();
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
