// Test-side control of the stand-in's windows, message queue, menus and
// notification area: script what the user and the shell do, and read back
// what the program built.
#ifndef QUORIN_WINSTUB_STUB_WINDOW_H
#define QUORIN_WINSTUB_STUB_WINDOW_H

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace stub {

// Window classes as RegisterClassExA received them; the names are copied.
struct WindowClass {
    WNDCLASSEXA members;
    std::string className;
};
const std::vector<WindowClass>& WindowClasses();

// Every window created, destroyed ones included, in order of creation.
struct Window {
    HWND handle;
    DWORD exStyle;
    std::string className;
    bool named;
    std::string windowName;
    DWORD style;
    int x;
    int y;
    int width;
    int height;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
    LPVOID param;
    bool alive;
};
std::vector<Window> Windows();
// The live window of the class, or null.
HWND FindWindowOfClass(const std::string& className);
// Makes the next CreateWindowExA fail with this error, before any message.
void FailNextWindowCreate(DWORD error);

// What another program does: posts to the queue of the window's thread. The
// call is not the program's, so it is not in the call log.
bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Posts to every live window. The sender runs at the normal integrity level:
// in an elevated process the message reaches only the windows it was let
// through to, by ChangeWindowMessageFilterEx for the window or
// ChangeWindowMessageFilter for the process.
void Broadcast(UINT message, WPARAM wParam, LPARAM lParam);
// The process runs elevated ("Run as administrator").
void SeedElevated(bool elevated);

// The value RegisterWindowMessageA gives the name, registering it if needed.
UINT RegisteredMessage(const std::string& name);
// RegisterWindowMessageA fails for that name until the next reset, as when the
// atom table is full.
void FailMessageRegistration(const std::string& name);

// Each time GetMessageA finds the queue empty and no quit pending, time runs
// on to the earliest timer of the thread's windows, which comes as WM_TIMER,
// or to an AtTick action due no later; with neither left it runs the next of
// these actions, in order. With none left it aborts the process with a
// message rather than wait for ever, and so it does when timers alone run on
// for ever.
void WhenIdle(const std::function<void()>& action);
std::size_t IdleActionsLeft();
// Runs the action when time reaches that tick: if a timer is due later, or
// none is left, time runs on to it first.
void AtTick(DWORD tick, const std::function<void()>& action);
// Milliseconds since the reset: each message fetched takes one, a timer
// jumps to the time it is due.
DWORD TickCount();
// The timers set and not yet killed: identifier and period.
std::vector<std::pair<UINT_PTR, UINT>> LiveTimers();

// System resources the stand-in hands out: the icon and cursor of resource
// 32512 with no module, and stock objects 0 to 19.
HICON ApplicationIcon();
HCURSOR ArrowCursor();
HGDIOBJ StockObject(int object);

// Where GetCursorPos reports the cursor.
void SeedCursorPos(POINT point);

// A menu as a tree. flags are those the item was appended with; checked is
// its check state now. An MF_POPUP item holds its submenu's tree.
struct MenuItem;
struct Menu {
    HMENU handle;
    bool popup; // made by CreatePopupMenu rather than CreateMenu
    std::vector<MenuItem> items;
};
struct MenuItem {
    UINT flags;
    UINT_PTR id;
    std::string text;
    bool checked;
    std::vector<Menu> submenu;
};
// The tree of a live menu; a destroyed or unknown one gives a null handle.
Menu ReadMenu(HMENU menu);
// Menus created and not yet destroyed.
int LiveMenus();

// The items the user picks in the following TrackPopupMenu calls, in order; 0
// closes a menu without a choice, and so does every call once they are used
// up. A choice that is not a command item of the menu aborts the process.
void ScriptMenuChoices(const std::vector<UINT>& choices);
struct TrackedMenu {
    HMENU menu;
    UINT flags;
    int x;
    int y;
    int reserved;
    HWND owner;
    bool hasRect;
    Menu tree; // as it was when it opened
    UINT choice;
};
const std::vector<TrackedMenu>& TrackedMenus();

// Icon files that ExtractIconExW finds, by full path in UTF-8, with how many
// icons each holds (0: a file without an icon). The process was started at
// logon: a name without a folder is looked for in its current directory,
// C:\Windows\System32, and a path of MAX_PATH characters or more is not found.
// ASCII letters are matched without regard to case.
void SeedIconFile(const std::string& path, UINT icons);
// Icons extracted and not yet destroyed.
std::vector<HICON> LiveIcons();

// Every Shell_NotifyIconA call with the members the shell read (those of the
// record version that cbSize names; the rest zero).
struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAA data;
    bool liveImage; // hIcon named a live icon when the shell copied it
    BOOL result;
};
const std::vector<NotifyCall>& NotifyCalls();
// The icons in the notification area now.
struct TrayIcon {
    NOTIFYICONDATAA data;
    bool hasImage;
};
std::vector<TrayIcon> TrayIcons();
// How the shell answers the following NIM_ADD calls, in order; once used up
// it adds every new icon. A shell that is not ready refuses (adds nothing);
// a busy one adds the icon but reports a timeout. Both return FALSE.
enum TrayAddOutcome { TrayAdded, TrayRefused, TrayTimedOut };
void ScriptTrayAdds(const std::vector<TrayAddOutcome>& outcomes);
// The shell restarts: every icon is gone, and the new shell broadcasts
// "TaskbarCreated".
void RestartShell();
// The broadcast alone, as the shell also sends it with the icons in place.
void BroadcastTaskbarCreated();
// The user presses (or moves, ...) on the first icon that asked for
// callbacks: its callback message is posted to its window. False when there
// is no such icon.
bool ClickTrayIcon(UINT mouseMessage);

} // namespace stub

#endif
