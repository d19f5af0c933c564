#include "internal.h"
#include "stub.h"
#include "stub_window.h"

#include <windows.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <thread>

namespace stub {
namespace {

const DWORD ErrorInvalidWindowHandle = 1400;
const DWORD ErrorCannotFindClass = 1407;
const DWORD ErrorClassAlreadyExists = 1410;
const DWORD ErrorResourceNotFound = 1814;

struct WindowState {
    Window info;
    WNDPROC procedure;
    std::thread::id thread;
    bool destroying;
    std::set<UINT> allowedFromBelow; // ChangeWindowMessageFilterEx
};

struct Timer {
    HWND window;
    UINT_PTR id;
    UINT elapse;
    DWORD due;
};

struct Queue {
    std::deque<MSG> posted;
    bool quit = false;
    int exitCode = 0;
    std::vector<std::function<void()>> idle;
    std::size_t nextIdle = 0;
    int timerRun = 0; // timer messages since anything else came
};

struct WindowingState {
    std::vector<WindowClass> classes;
    std::vector<WindowState> windows;
    std::map<std::thread::id, Queue> queues;
    POINT cursor = {512, 384};
    DWORD ticks = 0; // milliseconds since the reset
    std::vector<Timer> timers;
    bool failNextCreate = false;
    DWORD failCreateError = 0;
    bool elevated = false;
    std::set<UINT> processAllowedFromBelow; // ChangeWindowMessageFilter
    std::multimap<DWORD, std::function<void()>> scheduled; // AtTick
    std::set<std::string> failedRegistrations;
};

WindowingState& Windowing()
{
    static WindowingState state;
    return state;
}

void ResetWindowing()
{
    Windowing() = WindowingState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetWindowing);

// Registered messages are atoms of the whole session, like on Windows: they
// outlive a reset, so a value the program keeps stays valid.
std::map<std::string, UINT>& MessageAtoms()
{
    static std::map<std::string, UINT> atoms;
    return atoms;
}

const std::uintptr_t WindowHandleBase = 0x1f0000;
const std::uintptr_t StockObjectBase = 0x900010;
HICON const SystemIcon = reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10003));
HCURSOR const SystemCursor = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x10005));
const std::uintptr_t SystemResource = 32512;

Queue& ThreadQueue(std::thread::id thread)
{
    return Windowing().queues[thread];
}

std::string Lower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool IsResourceId(LPCSTR name)
{
    return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}

std::string NameText(LPCSTR name)
{
    if (name != nullptr && IsResourceId(name)) {
        return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name));
    }
    return Text(name);
}

std::string MessageArgs(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Hex(reinterpret_cast<std::uintptr_t>(window)) + " " + std::to_string(message) + " " +
           Hex(wParam) + " " + Hex(static_cast<std::uintptr_t>(lParam));
}

WindowState* Find(HWND window)
{
    const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(window) - WindowHandleBase;
    std::vector<WindowState>& windows = Windowing().windows;
    if (index >= windows.size() || !windows[index].info.alive) {
        return nullptr;
    }
    return &windows[index];
}

// The procedure may create or destroy windows, which moves the table; the
// handle stays the key.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WindowState* state = Find(window);
    if (state == nullptr) {
        SetError(ErrorInvalidWindowHandle);
        return 0;
    }
    const WNDPROC procedure = state->procedure;
    return procedure(window, message, wParam, lParam);
}

// Windows raises shorter periods to USER_TIMER_MINIMUM.
const UINT TimerMinimum = 10;
// More timer messages in a row than this, with nothing else happening,
// means a timer that is never killed.
const int TimerRunLimit = 100000;

void Purge(HWND window)
{
    std::vector<Timer>& timers = Windowing().timers;
    for (auto it = timers.begin(); it != timers.end();) {
        it = it->window == window ? timers.erase(it) : it + 1;
    }
    for (auto& entry : Windowing().queues) {
        std::deque<MSG>& posted = entry.second.posted;
        for (auto it = posted.begin(); it != posted.end();) {
            it = it->hwnd == window ? posted.erase(it) : it + 1;
        }
    }
}

bool Destroy(HWND window)
{
    WindowState* state = Find(window);
    if (state == nullptr || state->destroying) {
        SetError(ErrorInvalidWindowHandle);
        return false;
    }
    state->destroying = true;
    Deliver(window, WM_DESTROY, 0, 0);
    state = Find(window);
    state->info.alive = false;
    Purge(window);
    return true;
}

void Enqueue(Queue& queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = 0;
    msg.pt = Windowing().cursor;
    queue.posted.push_back(msg);
}

// With the queue empty, time runs on to the thread's earliest timer, which
// then comes as WM_TIMER, as on Windows only when nothing else is posted.
Timer* EarliestTimer()
{
    Timer* next = nullptr;
    for (Timer& timer : Windowing().timers) {
        const WindowState* state = Find(timer.window);
        if (state != nullptr && state->thread == std::this_thread::get_id() &&
            (next == nullptr || timer.due < next->due)) {
            next = &timer;
        }
    }
    return next;
}

bool NextTimer(MSG& msg)
{
    WindowingState& windowing = Windowing();
    Timer* next = EarliestTimer();
    if (next == nullptr) {
        return false;
    }
    windowing.ticks = next->due > windowing.ticks ? next->due : windowing.ticks + 1;
    next->due = windowing.ticks + next->elapse;
    msg.hwnd = next->window;
    msg.message = WM_TIMER;
    msg.wParam = next->id;
    msg.lParam = 0;
    msg.time = windowing.ticks;
    msg.pt = windowing.cursor;
    return true;
}

// A scheduled action comes like a timer: when it is due no later than the
// thread's earliest timer, time runs on to it and it runs.
bool RunScheduledAction()
{
    WindowingState& windowing = Windowing();
    if (windowing.scheduled.empty()) {
        return false;
    }
    const auto first = windowing.scheduled.begin();
    const Timer* timer = EarliestTimer();
    if (timer != nullptr && timer->due < first->first) {
        return false;
    }
    windowing.ticks = first->first > windowing.ticks ? first->first : windowing.ticks;
    const std::function<void()> action = first->second;
    windowing.scheduled.erase(first);
    action();
    return true;
}

[[noreturn]] void Abort(const char* what)
{
    (void)std::fprintf(stderr, "winstub: %s\n", what);
    (void)std::fflush(stderr);
    std::abort();
}

} // namespace

const std::vector<WindowClass>& WindowClasses()
{
    return Windowing().classes;
}

std::vector<Window> Windows()
{
    std::vector<Window> windows;
    for (const WindowState& window : Windowing().windows) {
        windows.push_back(window.info);
    }
    return windows;
}

DWORD TickCount()
{
    return Windowing().ticks;
}

std::vector<std::pair<UINT_PTR, UINT>> LiveTimers()
{
    std::vector<std::pair<UINT_PTR, UINT>> live;
    for (const Timer& timer : Windowing().timers) {
        live.emplace_back(timer.id, timer.elapse);
    }
    return live;
}

void FailNextWindowCreate(DWORD error)
{
    Windowing().failNextCreate = true;
    Windowing().failCreateError = error;
}

HWND FindWindowOfClass(const std::string& className)
{
    for (const WindowState& window : Windowing().windows) {
        if (window.info.alive && Lower(window.info.className) == Lower(className)) {
            return window.info.handle;
        }
    }
    return nullptr;
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == nullptr) {
        Enqueue(ThreadQueue(std::this_thread::get_id()), nullptr, message, wParam, lParam);
        return true;
    }
    const WindowState* state = Find(window);
    if (state == nullptr) {
        SetError(ErrorInvalidWindowHandle);
        return false;
    }
    Enqueue(ThreadQueue(state->thread), window, message, wParam, lParam);
    return true;
}

void Broadcast(UINT message, WPARAM wParam, LPARAM lParam)
{
    const WindowingState& windowing = Windowing();
    for (const Window& window : Windows()) {
        const WindowState* state = Find(window.handle);
        if (state == nullptr) {
            continue;
        }
        const bool filtered = windowing.elevated &&
                              windowing.processAllowedFromBelow.count(message) == 0 &&
                              state->allowedFromBelow.count(message) == 0;
        if (!filtered) {
            Post(window.handle, message, wParam, lParam);
        }
    }
}

void SeedElevated(bool elevated)
{
    Windowing().elevated = elevated;
}

BOOL WINAPI ChangeWindowMessageFilter(UINT message, DWORD flag)
{
    Record("ChangeWindowMessageFilter", std::to_string(message) + " " + std::to_string(flag));
    std::set<UINT>& allowed = Windowing().processAllowedFromBelow;
    switch (flag) {
    case MSGFLT_ADD:
        allowed.insert(message);
        return TRUE;
    case 2: // MSGFLT_REMOVE
        allowed.erase(message);
        return TRUE;
    default:
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

BOOL WINAPI ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* status)
{
    Record("ChangeWindowMessageFilterEx", Hex(reinterpret_cast<std::uintptr_t>(window)) + " " +
                                              std::to_string(message) + " " +
                                              std::to_string(action) + " " +
                                              Hex(reinterpret_cast<std::uintptr_t>(status)));
    WindowState* state = Find(window);
    if (state == nullptr) {
        SetError(ErrorInvalidWindowHandle);
        return FALSE;
    }
    switch (action) {
    case 0: // MSGFLT_RESET
        state->allowedFromBelow.clear();
        return TRUE;
    case MSGFLT_ALLOW:
        state->allowedFromBelow.insert(message);
        return TRUE;
    case 2: // MSGFLT_DISALLOW
        state->allowedFromBelow.erase(message);
        return TRUE;
    default:
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

UINT RegisteredMessage(const std::string& name)
{
    std::map<std::string, UINT>& atoms = MessageAtoms();
    auto found = atoms.find(Lower(name));
    if (found == atoms.end()) {
        // Not the first value of the range, so a value taken for granted shows.
        found = atoms.emplace(Lower(name), static_cast<UINT>(0xC05E + atoms.size())).first;
    }
    return found->second;
}

void WhenIdle(const std::function<void()>& action)
{
    ThreadQueue(std::this_thread::get_id()).idle.push_back(action);
}

void AtTick(DWORD tick, const std::function<void()>& action)
{
    Windowing().scheduled.emplace(tick, action);
}

void FailMessageRegistration(const std::string& name)
{
    Windowing().failedRegistrations.insert(Lower(name));
}

std::size_t IdleActionsLeft()
{
    const Queue& queue = ThreadQueue(std::this_thread::get_id());
    return queue.idle.size() - queue.nextIdle;
}

HICON ApplicationIcon()
{
    return SystemIcon;
}

HCURSOR ArrowCursor()
{
    return SystemCursor;
}

HGDIOBJ StockObject(int object)
{
    if (object < 0 || object > 19) {
        return nullptr;
    }
    return reinterpret_cast<HGDIOBJ>(StockObjectBase + static_cast<std::uintptr_t>(object));
}

void SeedCursorPos(POINT point)
{
    Windowing().cursor = point;
}

} // namespace stub

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass)
{
    if (windowClass == nullptr) {
        stub::Record("RegisterClassExA", "(null)");
        stub::SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const WNDCLASSEXA& c = *windowClass;
    stub::Record("RegisterClassExA",
                 std::to_string(c.cbSize) + " " + std::to_string(c.style) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(c.lpfnWndProc)) + " " +
                     std::to_string(c.cbClsExtra) + " " + std::to_string(c.cbWndExtra) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(c.hInstance)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(c.hIcon)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(c.hCursor)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(c.hbrBackground)) + " " +
                     stub::NameText(c.lpszMenuName) + " " + stub::NameText(c.lpszClassName) +
                     " " + stub::Hex(reinterpret_cast<std::uintptr_t>(c.hIconSm)));
    if (c.cbSize != sizeof(WNDCLASSEXA) || c.lpszClassName == nullptr ||
        stub::IsResourceId(c.lpszClassName) || c.lpfnWndProc == nullptr) {
        stub::SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<stub::WindowClass>& classes = stub::Windowing().classes;
    for (const stub::WindowClass& known : classes) {
        if (stub::Lower(known.className) == stub::Lower(c.lpszClassName)) {
            stub::SetError(stub::ErrorClassAlreadyExists);
            return 0;
        }
    }
    classes.push_back(stub::WindowClass{c, c.lpszClassName});
    return static_cast<ATOM>(0xC000 + classes.size() - 1);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param)
{
    stub::Record("CreateWindowExA",
                 stub::Hex(exStyle) + " " + stub::NameText(className) + " " +
                     stub::Text(windowName) + " " + stub::Hex(style) + " " + std::to_string(x) +
                     " " + std::to_string(y) + " " + std::to_string(width) + " " +
                     std::to_string(height) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(parent)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(menu)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(instance)) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(param)));
    stub::WindowingState& windowing = stub::Windowing();
    if (windowing.failNextCreate) {
        windowing.failNextCreate = false;
        stub::SetError(windowing.failCreateError);
        return nullptr;
    }
    const stub::WindowClass* found = nullptr;
    if (className != nullptr && !stub::IsResourceId(className)) {
        for (const stub::WindowClass& known : windowing.classes) {
            if (stub::Lower(known.className) == stub::Lower(className)) {
                found = &known;
            }
        }
    }
    if (found == nullptr) {
        stub::SetError(stub::ErrorCannotFindClass);
        return nullptr;
    }
    HWND handle = reinterpret_cast<HWND>(stub::WindowHandleBase + windowing.windows.size());
    const stub::Window info = {handle, exStyle, found->className, windowName != nullptr,
                               windowName != nullptr ? windowName : "", style, x, y, width,
                               height, parent, menu, instance, param, true};
    windowing.windows.push_back(stub::WindowState{info, found->members.lpfnWndProc,
                                                  std::this_thread::get_id(), false, {}});
    // The real lParam points to a CREATESTRUCT; no code of ours reads it.
    if (stub::Deliver(handle, WM_CREATE, 0, 0) == -1) {
        // Windows drops the window without sending WM_DESTROY.
        stub::WindowState* state = stub::Find(handle);
        if (state != nullptr) {
            state->info.alive = false;
            stub::Purge(handle);
        }
        return nullptr;
    }
    return stub::Find(handle) != nullptr ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    stub::Record("DestroyWindow", stub::Hex(reinterpret_cast<std::uintptr_t>(window)));
    return stub::Destroy(window) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax)
{
    stub::Record("GetMessageA", stub::Hex(reinterpret_cast<std::uintptr_t>(window)) + " " +
                                    std::to_string(filterMin) + " " + std::to_string(filterMax));
    if (window != nullptr || filterMin != 0 || filterMax != 0) {
        stub::Abort("GetMessageA: window and message filters are not modelled");
    }
    if (msg == nullptr) {
        stub::SetError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    stub::FillJunk(*msg);
    for (;;) {
        stub::Queue& queue = stub::ThreadQueue(std::this_thread::get_id());
        if (!queue.posted.empty()) {
            *msg = queue.posted.front();
            queue.posted.pop_front();
            msg->time = ++stub::Windowing().ticks;
            queue.timerRun = 0;
            return TRUE;
        }
        // The quit message comes only once nothing else is posted.
        if (queue.quit) {
            queue.quit = false;
            msg->hwnd = nullptr;
            msg->message = WM_QUIT;
            msg->wParam = static_cast<WPARAM>(queue.exitCode);
            msg->lParam = 0;
            msg->time = ++stub::Windowing().ticks;
            msg->pt = stub::Windowing().cursor;
            return FALSE;
        }
        if (stub::RunScheduledAction()) {
            queue.timerRun = 0;
            continue;
        }
        if (stub::NextTimer(*msg)) {
            if (++queue.timerRun > stub::TimerRunLimit) {
                stub::Abort("GetMessageA: a timer runs for ever with nothing else happening");
            }
            return TRUE;
        }
        queue.timerRun = 0;
        if (queue.nextIdle == queue.idle.size()) {
            stub::Abort("GetMessageA would wait for ever: the queue is empty, no quit message "
                        "is pending and no idle action is left");
        }
        // The action may add further actions, which moves the list.
        const std::function<void()> action = queue.idle[queue.nextIdle++];
        action();
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* msg)
{
    if (msg == nullptr) {
        stub::Record("DispatchMessageA", "(null)");
        return 0;
    }
    stub::Record("DispatchMessageA", stub::MessageArgs(msg->hwnd, msg->message, msg->wParam,
                                                       msg->lParam));
    if (msg->hwnd == nullptr) {
        return 0;
    }
    return stub::Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    stub::Record("DefWindowProcA", stub::MessageArgs(window, message, wParam, lParam));
    if (message == WM_CLOSE) {
        stub::Destroy(window);
    }
    return 0;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    stub::Record("SendMessageA", stub::MessageArgs(window, message, wParam, lParam));
    return stub::Deliver(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    stub::Record("PostMessageA", stub::MessageArgs(window, message, wParam, lParam));
    return stub::Post(window, message, wParam, lParam) ? TRUE : FALSE;
}

void WINAPI PostQuitMessage(int exitCode)
{
    stub::Record("PostQuitMessage", std::to_string(exitCode));
    stub::Queue& queue = stub::ThreadQueue(std::this_thread::get_id());
    queue.quit = true;
    queue.exitCode = exitCode;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name)
{
    stub::Record("RegisterWindowMessageA", stub::Text(name));
    if (name == nullptr || *name == '\0') {
        stub::SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (stub::Windowing().failedRegistrations.count(stub::Lower(name)) != 0) {
        stub::SetError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return stub::RegisteredMessage(name);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    stub::Record("LoadIconA",
                 stub::Hex(reinterpret_cast<std::uintptr_t>(instance)) + " " + stub::NameText(name));
    if (instance != nullptr || reinterpret_cast<std::uintptr_t>(name) != stub::SystemResource) {
        stub::SetError(stub::ErrorResourceNotFound);
        return nullptr;
    }
    return stub::SystemIcon;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    stub::Record("LoadCursorA",
                 stub::Hex(reinterpret_cast<std::uintptr_t>(instance)) + " " + stub::NameText(name));
    if (instance != nullptr || reinterpret_cast<std::uintptr_t>(name) != stub::SystemResource) {
        stub::SetError(stub::ErrorResourceNotFound);
        return nullptr;
    }
    return stub::SystemCursor;
}

HGDIOBJ WINAPI GetStockObject(int object)
{
    stub::Record("GetStockObject", std::to_string(object));
    return stub::StockObject(object);
}

BOOL WINAPI GetCursorPos(LPPOINT point)
{
    stub::Record("GetCursorPos");
    if (point == nullptr) {
        stub::SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *point = stub::Windowing().cursor;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    stub::Record("SetForegroundWindow", stub::Hex(reinterpret_cast<std::uintptr_t>(window)));
    return stub::Find(window) != nullptr ? TRUE : FALSE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    stub::Record("FindWindowA", stub::NameText(className) + " " + stub::Text(windowName));
    for (const stub::WindowState& window : stub::Windowing().windows) {
        const stub::Window& info = window.info;
        if (info.alive && info.parent == nullptr &&
            (className == nullptr || stub::Lower(info.className) == stub::Lower(className)) &&
            (windowName == nullptr || (info.named && info.windowName == windowName))) {
            return info.handle;
        }
    }
    stub::SetError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

// Only window timers without a procedure, the kind the program uses.
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc)
{
    stub::Record("SetTimer", stub::Hex(reinterpret_cast<std::uintptr_t>(window)) + " " +
                                 std::to_string(id) + " " + std::to_string(elapse) + " " +
                                 stub::Hex(reinterpret_cast<std::uintptr_t>(timerProc)));
    if (window == nullptr || timerProc != nullptr) {
        stub::Abort("SetTimer: only window timers without a procedure are modelled");
    }
    if (stub::Find(window) == nullptr) {
        stub::SetError(stub::ErrorInvalidWindowHandle);
        return 0;
    }
    const UINT period = elapse < stub::TimerMinimum ? stub::TimerMinimum : elapse;
    stub::WindowingState& windowing = stub::Windowing();
    for (stub::Timer& timer : windowing.timers) {
        if (timer.window == window && timer.id == id) {
            timer.elapse = period;
            timer.due = windowing.ticks + period;
            return id;
        }
    }
    windowing.timers.push_back(stub::Timer{window, id, period, windowing.ticks + period});
    return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id)
{
    stub::Record("KillTimer", stub::Hex(reinterpret_cast<std::uintptr_t>(window)) + " " +
                                  std::to_string(id));
    std::vector<stub::Timer>& timers = stub::Windowing().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->window == window && it->id == id) {
            timers.erase(it);
            return TRUE;
        }
    }
    stub::SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
