// Placeholder, to be replaced by the windows, menus and notification-icon stand-in.
#include <windows.h>
#include <shellapi.h>

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA*) { return 0; }
HWND WINAPI CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) { return nullptr; }
BOOL WINAPI DestroyWindow(HWND) { return FALSE; }
BOOL WINAPI GetMessageA(LPMSG msg, HWND, UINT, UINT) { msg->wParam = 0; return FALSE; }
LRESULT WINAPI DispatchMessageA(const MSG*) { return 0; }
LRESULT WINAPI DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT WINAPI SendMessageA(HWND, UINT, WPARAM, LPARAM) { return 0; }
BOOL WINAPI PostMessageA(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
void WINAPI PostQuitMessage(int) {}
UINT WINAPI RegisterWindowMessageA(LPCSTR) { return 0xC000; }
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return nullptr; }
HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) { return nullptr; }
BOOL WINAPI DestroyIcon(HICON) { return FALSE; }
HGDIOBJ WINAPI GetStockObject(int) { return nullptr; }
BOOL WINAPI GetCursorPos(LPPOINT) { return FALSE; }
BOOL WINAPI SetForegroundWindow(HWND) { return FALSE; }
HMENU WINAPI CreatePopupMenu(void) { return nullptr; }
HMENU WINAPI CreateMenu(void) { return nullptr; }
BOOL WINAPI AppendMenuA(HMENU, UINT, UINT_PTR, LPCSTR) { return FALSE; }
DWORD WINAPI CheckMenuItem(HMENU, UINT, UINT) { return 0xFFFFFFFF; }
BOOL WINAPI TrackPopupMenu(HMENU, UINT, int, int, int, HWND, const RECT*) { return FALSE; }
BOOL WINAPI DestroyMenu(HMENU) { return FALSE; }
BOOL WINAPI Shell_NotifyIconA(DWORD, PNOTIFYICONDATAA) { return FALSE; }
UINT WINAPI ExtractIconExA(LPCSTR, int, HICON*, HICON*, UINT) { return 0; }
