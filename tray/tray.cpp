#include "tray/tray.h"

#include "app/app.h"
#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "tray/menu.h"

#include <cstddef>
#include <cstring>

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(WNDCLASSEXA) == 48, "32-bit WNDCLASSEXA is 48 bytes");
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first NOTIFYICONDATAA is 88 bytes on 32-bit");
#endif

NOTIFYICONDATAA TrayIconData;

static const char TrayTitle[] = "Quorin Tray";
static UINT TaskbarCreatedMessage = 0;

static void TakeIconImage()
{
    TrayIconData.hIcon = nullptr;
    ExtractIconExA("Quorin.ico", 0, nullptr, &TrayIconData.hIcon, 1);
}

static void AddTrayIcon()
{
    Shell_NotifyIconA(NIM_ADD, &TrayIconData);
    DestroyIcon(TrayIconData.hIcon);
}

typedef BOOL(WINAPI* ChangeWindowMessageFilterExFunction)(HWND, UINT, DWORD, void*);
typedef BOOL(WINAPI* ChangeWindowMessageFilterFunction)(UINT, DWORD);

// An elevated instance does not receive the shell's broadcast, which comes
// from a lower integrity level, and would never get its icon back after the
// shell restarts. Only this one message is let through.
static void LetTaskbarCreatedThrough(HWND window)
{
    if (TaskbarCreatedMessage == 0) {
        return;
    }
    const auto allowForWindow =
        FindUser32Function<ChangeWindowMessageFilterExFunction>("ChangeWindowMessageFilterEx");
    if (allowForWindow != nullptr) {
        allowForWindow(window, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
        return;
    }
    const auto allowForProcess =
        FindUser32Function<ChangeWindowMessageFilterFunction>("ChangeWindowMessageFilter");
    if (allowForProcess != nullptr) {
        allowForProcess(TaskbarCreatedMessage, MSGFLT_ADD);
    }
}

static LRESULT OnCreate(HWND window)
{
    RebuildModeList();
    LetTaskbarCreatedThrough(window);
    TrayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    std::memcpy(TrayIconData.szTip, TrayTitle, sizeof TrayTitle);
    TakeIconImage();
    TrayIconData.hWnd = window;
    TrayIconData.uID = TRAY_ICON_ID;
    TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIconData.uCallbackMessage = WM_TRAYNOTIFY;
    AddTrayIcon();
    return 0;
}

static LRESULT OnDestroy()
{
    if (InstanceMutex != nullptr) {
        ReleaseMutex(InstanceMutex);
    }
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
    PostQuitMessage(0);
    return 0;
}

static LRESULT OnCommand(HWND window, WPARAM wParam)
{
    const unsigned id = LOWORD(wParam);
    switch (id) {
    case 0:
        break;
    case CMD_EXIT:
        SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    case CMD_AUTOSTART:
        Settings.autostart = !Settings.autostart;
        // The check mark must not claim an entry the registry does not hold.
        if (!SaveSettings(false)) {
            Settings.autostart = !Settings.autostart;
        }
        break;
    case CMD_NONSTD_RATIO:
        Settings.showNonStdRatio = !Settings.showNonStdRatio;
        RebuildModeList();
        break;
    case CMD_LOW_RES:
        Settings.minWidth = Settings.minWidth != 0 ? 0 : 640;
        RebuildModeList();
        break;
    case CMD_SAVE:
        SaveSettings(true);
        break;
    default:
        if (id - CMD_MODE_BASE < ModeList.size()) {
            ApplyDisplayMode(ModeList[id - CMD_MODE_BASE]);
        }
        break;
    }
    return 0;
}

static LRESULT OnTrayNotify(HWND window, LPARAM lParam)
{
    if (lParam != WM_LBUTTONDOWN && lParam != WM_RBUTTONDOWN) {
        return 0;
    }
    POINT cursor;
    GetCursorPos(&cursor);
    HMENU menu = BuildTrayMenu();
    SetForegroundWindow(window);
    TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return 0;
}

// The shell lost its icons (it restarted), or asks again while ours is still
// there: remove whatever is left, then add a fresh one.
static LRESULT OnTaskbarCreated()
{
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
    TakeIconImage();
    AddTrayIcon();
    return 0;
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
        return OnTaskbarCreated();
    }
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_TRAYNOTIFY:
        return OnTrayNotify(window, lParam);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunTrayWindow(HINSTANCE instance)
{
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = TrayTitle;
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, TrayTitle, nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        // Without the window nothing could ever end the loop; give the
        // instance up instead of lingering invisibly with the mutex.
        if (InstanceMutex != nullptr) {
            ReleaseMutex(InstanceMutex);
        }
        return 1;
    }

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
