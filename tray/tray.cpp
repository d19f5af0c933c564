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

// At logon the notification area may not be ready, or too busy to answer, so
// a failed add is tried again: every 2 seconds for 5 minutes.
static const UINT_PTR IconRetryTimer = 1;
static const UINT IconRetryPeriod = 2000;
static const int IconRetries = 150;
static int IconRetriesLeft = 0;

// The file beside the exe, named in full and wide: a start at logon runs in
// the system folder, and where Windows looks for a bare name is not
// documented.
static void TakeIconImage()
{
    static const WCHAR IconFileName[] = L"Quorin.ico";
    TrayIconData.hIcon = nullptr;
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != L'\\') {
        --folder;
    }
    if (folder == 0 || folder + sizeof IconFileName / sizeof IconFileName[0] > MAX_PATH) {
        return;
    }
    std::memcpy(path + folder, IconFileName, sizeof IconFileName);
    ExtractIconExW(path, 0, nullptr, &TrayIconData.hIcon, 1);
}

// The shell keeps its own copy of the image.
static bool AddTrayIcon()
{
    const bool added = Shell_NotifyIconA(NIM_ADD, &TrayIconData) != FALSE;
    DestroyIcon(TrayIconData.hIcon);
    return added;
}

static void StopIconRetries(HWND window)
{
    if (IconRetriesLeft > 0) {
        KillTimer(window, IconRetryTimer);
        IconRetriesLeft = 0;
    }
}

// Retries already under way start over; once the icon is there, the next
// one finds it and stops.
static void AddTrayIconOrRetry(HWND window)
{
    if (!AddTrayIcon() && SetTimer(window, IconRetryTimer, IconRetryPeriod, nullptr) != 0) {
        IconRetriesLeft = IconRetries;
    }
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
    const auto allowForWindow = FindSystemFunction<ChangeWindowMessageFilterExFunction>(
        "user32.dll", "ChangeWindowMessageFilterEx");
    if (allowForWindow != nullptr) {
        allowForWindow(window, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
        return;
    }
    const auto allowForProcess = FindSystemFunction<ChangeWindowMessageFilterFunction>(
        "user32.dll", "ChangeWindowMessageFilter");
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
    AddTrayIconOrRetry(window);
    return 0;
}

static LRESULT OnDestroy(HWND window)
{
    StopIconRetries(window);
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
    // The display may have gained or lost modes, or changed depth, since the
    // last look: a dock, a projector, a game that ended at another depth.
    // Nothing rebuilds again before the chosen WM_COMMAND arrives, so an
    // identifier still names the entry whose label the user saw.
    const DisplayMode current = QueryCurrentMode();
    RebuildModeList(current.bitsPerPixel);
    HMENU menu = BuildTrayMenu(current);
    SetForegroundWindow(window);
    TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    // A keyboard user who left the menu with Esc is back where they were.
    Shell_NotifyIconA(NIM_SETFOCUS, &TrayIconData);
    return 0;
}

// A failed add may still have added the icon, after a timeout: only a
// modification that changes nothing tells whether it is there.
static bool TrayIconShown()
{
    NOTIFYICONDATAA probe = TrayIconData;
    probe.uFlags = NIF_TIP;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

static LRESULT OnTimer(HWND window, WPARAM timer)
{
    if (timer != IconRetryTimer || IconRetriesLeft == 0) {
        return 0;
    }
    if (TrayIconShown()) {
        StopIconRetries(window);
        return 0;
    }
    TakeIconImage();
    if (AddTrayIcon() || IconRetriesLeft == 1) {
        StopIconRetries(window);
    } else {
        --IconRetriesLeft;
    }
    return 0;
}

// The shell lost its icons (it restarted), asks again while ours is still
// there, or a second start asks for the icon: remove whatever is left, then
// add a fresh one.
static LRESULT OnTaskbarCreated(HWND window)
{
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
    TakeIconImage();
    AddTrayIconOrRetry(window);
    return 0;
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
        return OnTaskbarCreated(window);
    }
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy(window);
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_TRAYNOTIFY:
        return OnTrayNotify(window, lParam);
    case WM_TIMER:
        return OnTimer(window, wParam);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// A second start is how a user whose icon went missing gets it back. The
// running instance answers the shell's "TaskbarCreated" by adding its icon
// again, and that message also passes the filter of an elevated instance.
void AskRunningTrayForItsIcon()
{
    HWND running = FindWindowA(TrayTitle, nullptr);
    if (running != nullptr) {
        PostMessageA(running, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
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
