// Host stand-in for the part of <shellapi.h> that Quorin uses.
#ifndef QUORIN_WINSTUB_SHELLAPI_H
#define QUORIN_WINSTUB_SHELLAPI_H

#include <windows.h>

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIM_SETFOCUS 0x00000003
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

typedef struct _NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    UINT uTimeout;
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

#define NOTIFYICONDATAA_V1_SIZE (offsetof(NOTIFYICONDATAA, szTip) + 64)

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);
UINT WINAPI ExtractIconExW(LPCWSTR file, int iconIndex, HICON* large, HICON* small, UINT icons);

#endif
