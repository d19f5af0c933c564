/*
 * qlaunch: test driver that runs under Wine beside the program under test.
 *
 *   qlaunch run <exe> <cmdline-file> <report-file> [timeout-ms]
 *   qlaunch spawn <exe> <cmdline-file> <report-file>
 *   qlaunch spawnw <exe-file> <report-file>
 *   qlaunch wait <pid> <report-file> <timeout-ms> [ready-file]
 *   qlaunch mode <report-file>
 *   qlaunch set <W>x<H>x<B>[@<F>] <report-file>
 *   qlaunch modes <report-file>
 *   qlaunch window <class> <report-file>
 *   qlaunch windows <class> <report-file>
 *   qlaunch close <pid> <class> <report-file>
 *   qlaunch command <pid> <class> <id> <report-file>
 *   qlaunch untray <pid> <class> <report-file>
 *   qlaunch notify <pid> <class> <report-file>
 *   qlaunch monitors <report-file>
 *   qlaunch autostart <timeout-ms> <report-file>
 *   qlaunch noshell <ready-file> <close-file> <report-file>
 *   qlaunch holdmutex <name> <sddl> <ready-file> <close-file> <report-file>
 *   qlaunch popups <report-file>
 *   qlaunch press <pid> <x> <y> <report-file> [timeout-ms]
 *   qlaunch menu <items-file> <x> <y> <report-file> <close-file> [timeout-ms]
 *   qlaunch loadlib <name> <report-file>
 *   qlaunch hold
 *
 * The child's command line is "<exe>" (quoted), one blank, then every byte of
 * cmdline-file unchanged.  Wine re-quotes Unix arguments, so this is the only
 * way to hand the child an exact text.
 *
 * run/wait: while the child lives, each visible top-level "#32770" window of
 * its process is read and dismissed with IDOK.  Report lines (tab-separated,
 * LF-terminated; tab, LF, CR and backslash escaped as \t \n \r \\):
 *   BOX <caption> <text>     one per message box, in the order seen
 *   EXIT <code>              or EXIT TIMEOUT when the child was killed
 *                            (or EXIT GONE if wait found no such process)
 *   MODE <w>x<h>x<bpp>@<freq> current display settings afterwards, as a
 *                            process started then reads them
 * wait creates ready-file (empty) once it holds the process, so that a test
 * can make the process end only then and still read its exit code.
 * spawn: PID <windows pid>.   set: RESULT <ChangeDisplaySettingsA
 * result>, then MODE; without a rate Wine takes one of its own choosing.
 * modes: OFFERED <w>x<h>x<bpp>@<freq>, one line per mode that
 * EnumDisplaySettingsA enumerates, in its order.   window: WINDOW 1 or
 * WINDOW 0 (FindWindowA by class).
 *
 * windows: WINDOW <pid> <visible 0|1> <left> <top> <right> <bottom>, one
 * line per top-level window of that class, in z-order.   close: posts
 * WM_CLOSE to each top-level window of that class in that process; CLOSED
 * <count>.   command: posts WM_COMMAND with that identifier to them, as a
 * menu choice does; POSTED <count>.   untray: removes the notification icon
 * 1 of each of them, as another program could; REMOVED <count>.   notify:
 * posts the tray program's icon callback (WM_USER + 100, icon 1) with
 * WM_RBUTTONDOWN, then WM_RBUTTONUP, to them: what the shell sends an icon of
 * the first version that the keyboard activates; POSTED <count>.   monitors:
 * MONITOR <left> <top> <right> <bottom> <primary 0|1>, one line per monitor
 * that EnumDisplayMonitors lists, in its order.   popups:
 * POPUP <pid> <left>
 * <top> <right> <bottom>, one line per visible popup menu window ("#32768"),
 * topmost first.
 *
 * menu shows a popup menu of its own with TrackPopupMenu at x, y (flags 0),
 * the way the tray program shows its menu, as a reference picture for it:
 * Wine keeps a menu's items out of reach of other processes.  items-file has
 * one item a line: "-" separator, ">text" submenu (left empty), "*text"
 * checked, else the text.  Once the menu is on screen the report is written
 * (via a temporary file and a rename, so that a poller never reads half of it):
 * POPUP <left> <top> <right> <bottom>, then ITEM <index> <left> <top> <right>
 * <bottom> per item, screen coordinates.  The menu closes when close-file
 * exists, or after timeout-ms (default 20000; exit code 1 then).
 *
 * spawnw starts the program whose path a UTF-8 file holds, wide, from its
 * own folder and without arguments, as a double-click in Explorer does: the
 * ANSI verbs cannot name a folder outside the code page.  PID <windows pid>.
 *
 * autostart reads the Run value "Quorin" (HKLM, the view of qlaunch's own
 * width) through the wide interface and starts it as the shell does at
 * logon, the value's text as the command line: RUN <text, UTF-8> (RUN
 * MISSING and nothing else when there is none), then START <error> if it
 * cannot be started, else IMAGE <the started program's path> and what run
 * reports.
 *
 * noshell plays a shell whose notification area is not ready: a newer
 * top-level window of class "Shell_TrayWnd", found before the real one, that
 * refuses every icon request.  It creates ready-file once it is up and ends
 * when close-file exists: REFUSED <requests>, HELD <milliseconds>.
 *
 * holdmutex creates and owns the named mutex with the security descriptor
 * given in SDDL, as an elevated program's mutex is made, creates ready-file
 * once it holds it and ends when close-file exists: HELD <GetLastError
 * after CreateMutexA>.
 *
 * press presses and releases the right mouse button at x, y, as the user
 * opens the tray menu, then looks every millisecond for a popup menu of the
 * process on the screen: OPENED <microseconds from the press until its
 * pixels are there> (OPENED TIMEOUT and exit code 1 after timeout-ms,
 * default 10000).
 *
 * loadlib loads the library by that name as a program does at run time,
 * the search starting in qlaunch's own folder: LOADED 1 or LOADED 0.
 *
 * hold attaches to the desktop and sleeps until killed: Wine closes a virtual
 * desktop, and forgets its mode, as soon as no program uses it.
 *
 * qlaunch is DPI-aware, as the program under test is: on a scaled display its
 * coordinates are the screen's pixels, and its reference menu is drawn as an
 * aware program draws its menu.
 *
 * Exit code: 0 report written, 1 child timed out, 2 bad usage, 3 system error.
 * Build: x86_64-w64-mingw32-gcc -O2 -static launcher.c -lgdi32 -luser32
 */
#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define REPORT_MAX 65536
#define MAX_BOXES 64
#define POLL_MS 10
#define DEFAULT_TIMEOUT_MS 10000
#define MENU_TIMEOUT_MS 20000
#define MENU_ITEMS_MAX 64

typedef struct {
    char text[REPORT_MAX];
    size_t len;
} Report;

typedef struct {
    DWORD pid;
    Report *report;
    HWND seen[MAX_BOXES];
    int seenCount;
} BoxScan;

static void Append(Report *r, const char *s, size_t n)
{
    if (n > REPORT_MAX - 1 - r->len)
        n = REPORT_MAX - 1 - r->len;
    memcpy(r->text + r->len, s, n);
    r->len += n;
    r->text[r->len] = '\0';
}

static void AppendText(Report *r, const char *s)
{
    Append(r, s, strlen(s));
}

static void AppendEscaped(Report *r, const char *s)
{
    for (; *s; ++s) {
        switch (*s) {
        case '\n': AppendText(r, "\\n"); break;
        case '\t': AppendText(r, "\\t"); break;
        case '\r': AppendText(r, "\\r"); break;
        case '\\': AppendText(r, "\\\\"); break;
        default: Append(r, s, 1); break;
        }
    }
}

static void AppendLine(Report *r, const char *key, const char *value)
{
    AppendText(r, key);
    AppendText(r, "\t");
    AppendText(r, value);
    AppendText(r, "\n");
}

static void AppendNumber(Report *r, const char *key, long value)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%ld", value);
    AppendLine(r, key, buf);
}

static void AppendMode(Report *r)
{
    DEVMODEA dm;
    char buf[80];
    memset(&dm, 0, sizeof dm);
    dm.dmSize = sizeof dm;
    if (!EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &dm)) {
        AppendLine(r, "MODE", "UNKNOWN");
        return;
    }
    snprintf(buf, sizeof buf, "%lux%lux%lu@%lu", (unsigned long)dm.dmPelsWidth,
             (unsigned long)dm.dmPelsHeight, (unsigned long)dm.dmBitsPerPel,
             (unsigned long)dm.dmDisplayFrequency);
    AppendLine(r, "MODE", buf);
}

static int WriteReport(const char *path, const Report *r)
{
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    BOOL ok;
    if (f == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "qlaunch: cannot write %s (error %lu)\n", path, GetLastError());
        return 3;
    }
    ok = WriteFile(f, r->text, (DWORD)r->len, &written, NULL);
    CloseHandle(f);
    if (!ok || written != r->len) {
        fprintf(stderr, "qlaunch: short write to %s\n", path);
        return 3;
    }
    return 0;
}

/* Reads the whole file; returns a malloc'ed NUL-terminated copy or NULL. */
static char *ReadAll(const char *path, size_t *len)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD size, got = 0;
    char *data;
    if (f == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "qlaunch: cannot read %s (error %lu)\n", path, GetLastError());
        return NULL;
    }
    size = GetFileSize(f, NULL);
    data = size == INVALID_FILE_SIZE ? NULL : malloc((size_t)size + 1);
    if (data && size > 0 && (!ReadFile(f, data, size, &got, NULL) || got != size)) {
        free(data);
        data = NULL;
    }
    CloseHandle(f);
    if (!data) {
        fprintf(stderr, "qlaunch: cannot read %s\n", path);
        return NULL;
    }
    data[size] = '\0';
    *len = size;
    return data;
}

/* The mode as a process started now reads it: under Wine a running process
 * keeps the colour depth it started with when another process changes it. */
static void AppendFreshMode(Report *r)
{
    char self[MAX_PATH], folder[MAX_PATH], file[MAX_PATH], cmd[2 * MAX_PATH + 16], *text;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    size_t len = 0;
    DWORD code = 1;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!GetModuleFileNameA(NULL, self, sizeof self) || !GetTempPathA(sizeof folder, folder) ||
        !GetTempFileNameA(folder, "qlm", 0, file)) {
        AppendMode(r);
        return;
    }
    snprintf(cmd, sizeof cmd, "\"%s\" mode \"%s\"", self, file);
    if (CreateProcessA(self, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 10000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    text = code == 0 ? ReadAll(file, &len) : NULL;
    DeleteFileA(file);
    if (text && strncmp(text, "MODE\t", 5) == 0)
        AppendText(r, text);
    else
        AppendMode(r);
    free(text);
}

static int StartChild(const char *exe, const char *cmdlineFile, PROCESS_INFORMATION *pi)
{
    STARTUPINFOA si;
    size_t textLen = 0, exeLen = strlen(exe);
    char *text = ReadAll(cmdlineFile, &textLen);
    char *cmd;
    BOOL ok;
    if (!text)
        return 3;
    cmd = malloc(exeLen + textLen + 4);
    if (!cmd) {
        free(text);
        return 3;
    }
    cmd[0] = '"';
    memcpy(cmd + 1, exe, exeLen);
    cmd[exeLen + 1] = '"';
    cmd[exeLen + 2] = ' ';
    memcpy(cmd + exeLen + 3, text, textLen);
    cmd[exeLen + 3 + textLen] = '\0';
    free(text);

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    ok = CreateProcessA(exe, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, pi);
    if (!ok && GetLastError() == ERROR_INTERNAL_ERROR) {
        /* Wine now and then fails a start so (seen under load); once more. */
        Sleep(500);
        ok = CreateProcessA(exe, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, pi);
    }
    free(cmd);
    if (!ok) {
        fprintf(stderr, "qlaunch: cannot start %s (error %lu)\n", exe, GetLastError());
        return 3;
    }
    return 0;
}

static void Dismiss(HWND box)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
}

static BOOL CALLBACK ScanWindow(HWND hwnd, LPARAM param)
{
    BoxScan *scan = (BoxScan *)param;
    DWORD pid = 0;
    char cls[16], caption[512], text[4096];
    int i;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != scan->pid || !IsWindowVisible(hwnd))
        return TRUE;
    if (!GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
        return TRUE;
    for (i = 0; i < scan->seenCount; ++i) {
        if (scan->seen[i] == hwnd) {
            /* still up: the first IDOK may have raced the dialog's start */
            Dismiss(hwnd);
            return TRUE;
        }
    }
    if (scan->seenCount < MAX_BOXES)
        scan->seen[scan->seenCount++] = hwnd;
    caption[0] = text[0] = '\0';
    GetWindowTextA(hwnd, caption, sizeof caption);
    GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof text);
    AppendText(scan->report, "BOX\t");
    AppendEscaped(scan->report, caption);
    AppendText(scan->report, "\t");
    AppendEscaped(scan->report, text);
    AppendText(scan->report, "\n");
    Dismiss(hwnd);
    return TRUE;
}

/* Dismisses the child's boxes until it ends; fills BOX, EXIT and MODE. */
static int Supervise(HANDLE proc, DWORD pid, DWORD timeoutMs, Report *r)
{
    static BoxScan scan;
    DWORD start = GetTickCount(), code = 0;
    int rc = 0;
    memset(&scan, 0, sizeof scan);
    scan.pid = pid;
    scan.report = r;
    for (;;) {
        EnumWindows(ScanWindow, (LPARAM)&scan);
        if (WaitForSingleObject(proc, POLL_MS) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start >= timeoutMs) {
            TerminateProcess(proc, 255);
            WaitForSingleObject(proc, 5000);
            rc = 1;
            break;
        }
    }
    if (rc == 1)
        AppendLine(r, "EXIT", "TIMEOUT");
    else if (GetExitCodeProcess(proc, &code)) {
        char buf[16];
        snprintf(buf, sizeof buf, "%lu", (unsigned long)code);
        AppendLine(r, "EXIT", buf);
    }
    else
        AppendLine(r, "EXIT", "UNKNOWN");
    AppendFreshMode(r);
    return rc;
}

static int ParseMode(const char *s, DEVMODEA *dm)
{
    unsigned long vw = 0, vh = 0, vb = 0, vf = 0;
    char tail;
    int n = sscanf(s, "%lux%lux%lu@%lu%c", &vw, &vh, &vb, &vf, &tail);
    if (n != 3 && n != 4)
        return 0;
    dm->dmPelsWidth = vw;
    dm->dmPelsHeight = vh;
    dm->dmBitsPerPel = vb;
    dm->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (n == 4) {
        dm->dmDisplayFrequency = vf;
        dm->dmFields |= DM_DISPLAYFREQUENCY;
    }
    return 1;
}

static BOOL CALLBACK ListMonitor(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM param)
{
    MONITORINFO info;
    char buf[96];
    (void)dc;
    (void)rect;
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info))
        return TRUE;
    snprintf(buf, sizeof buf, "%ld\t%ld\t%ld\t%ld\t%d", (long)info.rcMonitor.left,
             (long)info.rcMonitor.top, (long)info.rcMonitor.right, (long)info.rcMonitor.bottom,
             (info.dwFlags & MONITORINFOF_PRIMARY) ? 1 : 0);
    AppendLine((Report *)param, "MONITOR", buf);
    return TRUE;
}

static int VerbModes(Report *r)
{
    DEVMODEA dm;
    DWORD i;
    char buf[80];
    memset(&dm, 0, sizeof dm);
    dm.dmSize = sizeof dm;
    for (i = 0; EnumDisplaySettingsA(NULL, i, &dm); ++i) {
        snprintf(buf, sizeof buf, "%lux%lux%lu@%lu", (unsigned long)dm.dmPelsWidth,
                 (unsigned long)dm.dmPelsHeight, (unsigned long)dm.dmBitsPerPel,
                 (unsigned long)dm.dmDisplayFrequency);
        AppendLine(r, "OFFERED", buf);
    }
    return 0;
}

static int Usage(void);
static int ParseNumber(const char *s, DWORD *value);

/* A screen point given as two signed numbers, which may be negative. */
static int ParsePoint(const char *xs, const char *ys, long *x, long *y)
{
    char *end;
    *x = strtol(xs, &end, 10);
    if (*xs == '\0' || *end != '\0')
        return 0;
    *y = strtol(ys, &end, 10);
    return *ys != '\0' && *end == '\0';
}

enum { SCAN_WINDOWS, SCAN_POPUPS, SCAN_CLOSE, SCAN_COMMAND, SCAN_UNTRAY, SCAN_NOTIFY };

/* quorin's icon callback message, as it registers it with the shell. */
#define TRAY_CALLBACK (WM_USER + 100)

typedef struct {
    int what;
    const char *cls;
    DWORD pid;
    WPARAM command;
    Report *report;
    int count;
} WindowScan;

static BOOL CALLBACK ListWindow(HWND hwnd, LPARAM param)
{
    WindowScan *scan = (WindowScan *)param;
    DWORD pid = 0;
    char cls[256], buf[96];
    RECT rect;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, scan->cls) != 0)
        return TRUE;
    switch (scan->what) {
    case SCAN_WINDOWS:
        if (!GetWindowRect(hwnd, &rect))
            memset(&rect, 0, sizeof rect);
        snprintf(buf, sizeof buf, "%lu\t%d\t%ld\t%ld\t%ld\t%ld", (unsigned long)pid,
                 IsWindowVisible(hwnd) ? 1 : 0, (long)rect.left, (long)rect.top, (long)rect.right,
                 (long)rect.bottom);
        AppendLine(scan->report, "WINDOW", buf);
        break;
    case SCAN_POPUPS:
        if (!IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &rect))
            break;
        snprintf(buf, sizeof buf, "%lu\t%ld\t%ld\t%ld\t%ld", (unsigned long)pid, (long)rect.left,
                 (long)rect.top, (long)rect.right, (long)rect.bottom);
        AppendLine(scan->report, "POPUP", buf);
        break;
    case SCAN_CLOSE:
        if (pid == scan->pid && PostMessageA(hwnd, WM_CLOSE, 0, 0))
            ++scan->count;
        break;
    case SCAN_COMMAND:
        if (pid == scan->pid && PostMessageA(hwnd, WM_COMMAND, scan->command, 0))
            ++scan->count;
        break;
    case SCAN_NOTIFY:
        if (pid == scan->pid && PostMessageA(hwnd, TRAY_CALLBACK, 1, WM_RBUTTONDOWN) &&
            PostMessageA(hwnd, TRAY_CALLBACK, 1, WM_RBUTTONUP))
            ++scan->count;
        break;
    default:
        if (pid == scan->pid) {
            NOTIFYICONDATAA icon;
            memset(&icon, 0, sizeof icon);
            icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
            icon.hWnd = hwnd;
            icon.uID = 1;
            if (Shell_NotifyIconA(NIM_DELETE, &icon))
                ++scan->count;
        }
        break;
    }
    return TRUE;
}

static int VerbScan(int what, const char *cls, DWORD pid, WPARAM command, Report *r)
{
    static const char *const counted[] = {NULL, NULL, "CLOSED", "POSTED", "REMOVED", "POSTED"};
    WindowScan scan;
    memset(&scan, 0, sizeof scan);
    scan.what = what;
    scan.cls = cls;
    scan.pid = pid;
    scan.command = command;
    scan.report = r;
    EnumWindows(ListWindow, (LPARAM)&scan);
    if (counted[what])
        AppendNumber(r, counted[what], scan.count);
    return 0;
}

/* Reads a UTF-8 file into a malloc'ed wide string, or NULL. */
static WCHAR *ReadWide(const char *path)
{
    size_t len = 0;
    char *text = ReadAll(path, &len);
    WCHAR *wide;
    int n;
    if (!text)
        return NULL;
    n = MultiByteToWideChar(CP_UTF8, 0, text, (int)len, NULL, 0);
    wide = malloc(((size_t)n + 1) * sizeof(WCHAR));
    if (wide) {
        MultiByteToWideChar(CP_UTF8, 0, text, (int)len, wide, n);
        wide[n] = 0;
    }
    free(text);
    return wide;
}

static void AppendWide(Report *r, const char *key, const WCHAR *text)
{
    char buf[4 * 1024];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, NULL, NULL))
        strcpy(buf, "(not convertible)");
    AppendText(r, key);
    AppendText(r, "\t");
    AppendEscaped(r, buf);
    AppendText(r, "\n");
}

static int VerbSpawnWide(const char *exeFile, Report *r)
{
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    WCHAR *exe = ReadWide(exeFile), *cmd, *folder, *slash;
    size_t n;
    BOOL ok;
    if (!exe)
        return 3;
    n = wcslen(exe);
    cmd = malloc((n + 3) * sizeof(WCHAR));
    folder = malloc((n + 1) * sizeof(WCHAR));
    if (!cmd || !folder) {
        free(exe);
        free(cmd);
        free(folder);
        return 3;
    }
    cmd[0] = L'"';
    memcpy(cmd + 1, exe, n * sizeof(WCHAR));
    cmd[n + 1] = L'"';
    cmd[n + 2] = 0;
    memcpy(folder, exe, (n + 1) * sizeof(WCHAR));
    slash = wcsrchr(folder, L'\\');
    if (slash)
        *slash = 0;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    ok = CreateProcessW(exe, cmd, NULL, NULL, FALSE, 0, NULL, slash ? folder : NULL, &si, &pi);
    if (!ok)
        fprintf(stderr, "qlaunch: cannot start the program of %s (error %lu)\n", exeFile, GetLastError());
    free(exe);
    free(cmd);
    free(folder);
    if (!ok)
        return 3;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    AppendNumber(r, "PID", (long)pi.dwProcessId);
    return 0;
}

static int VerbAutostart(DWORD timeout, Report *r)
{
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    WCHAR value[1024], image[1024];
    DWORD type = 0, size = sizeof value - sizeof(WCHAR), len = sizeof image / sizeof image[0];
    HKEY key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                            0, KEY_READ, &key);
    int result;
    if (rc == ERROR_SUCCESS) {
        rc = RegQueryValueExW(key, L"Quorin", NULL, &type, (BYTE *)value, &size);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ) {
        AppendLine(r, "RUN", "MISSING");
        return 0;
    }
    value[size / sizeof(WCHAR)] = 0;
    AppendWide(r, "RUN", value);
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, value, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        AppendNumber(r, "START", (long)GetLastError());
        return 0;
    }
    CloseHandle(pi.hThread);
    if (QueryFullProcessImageNameW(pi.hProcess, 0, image, &len))
        AppendWide(r, "IMAGE", image);
    else
        AppendNumber(r, "IMAGE", -(long)GetLastError());
    result = Supervise(pi.hProcess, pi.dwProcessId, timeout, r);
    CloseHandle(pi.hProcess);
    return result;
}

static struct {
    const char *closePath;
    long refused;
} NoShell;

static LRESULT CALLBACK NoShellProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA:
        ++NoShell.refused;
        return FALSE;
    case WM_TIMER:
        if (GetFileAttributesA(NoShell.closePath) != INVALID_FILE_ATTRIBUTES)
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

static int VerbNoShell(char **argv, Report *r)
{
    WNDCLASSA wc;
    HWND shell;
    HANDLE ready;
    MSG msg;
    DWORD start;
    NoShell.closePath = argv[3];
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = NoShellProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&wc);
    shell = CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, NULL, WS_POPUP, 0, 0, 0, 0, NULL,
                            NULL, wc.hInstance, NULL);
    if (!shell)
        return 3;
    ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 3;
    CloseHandle(ready);
    start = GetTickCount();
    SetTimer(shell, 1, POLL_MS, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(shell);
    AppendNumber(r, "REFUSED", NoShell.refused);
    AppendNumber(r, "HELD", (long)(GetTickCount() - start));
    return 0;
}

static int VerbHoldMutex(char **argv, Report *r)
{
    SECURITY_ATTRIBUTES sa;
    PSECURITY_DESCRIPTOR sd = NULL;
    HANDLE mutex, ready;
    DWORD created;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[3], SDDL_REVISION_1, &sd, NULL)) {
        fprintf(stderr, "qlaunch: bad SDDL %s (error %lu)\n", argv[3], GetLastError());
        return 2;
    }
    memset(&sa, 0, sizeof sa);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = sd;
    mutex = CreateMutexA(&sa, TRUE, argv[2]);
    created = GetLastError();
    LocalFree(sd);
    if (!mutex) {
        fprintf(stderr, "qlaunch: cannot create the mutex %s (error %lu)\n", argv[2], created);
        return 3;
    }
    ready = CreateFileA(argv[4], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 3;
    CloseHandle(ready);
    while (GetFileAttributesA(argv[5]) == INVALID_FILE_ATTRIBUTES)
        Sleep(POLL_MS);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    AppendNumber(r, "HELD", (long)created);
    return 0;
}

typedef struct {
    HMENU menu;
    int items;
    const char *reportPath;
    const char *closePath;
    DWORD start, timeoutMs;
    int reported, timedOut, failed;
} MenuShow;

static MenuShow Shown;

typedef struct {
    DWORD pid;
    HWND found;
} PopupSearch;

static BOOL CALLBACK FindPopup(HWND hwnd, LPARAM param)
{
    PopupSearch *search = (PopupSearch *)param;
    DWORD pid = 0;
    char cls[16];
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && IsWindowVisible(hwnd) &&
        GetClassNameA(hwnd, cls, sizeof cls) && strcmp(cls, "#32768") == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND VisiblePopupOf(DWORD pid)
{
    PopupSearch search;
    search.pid = pid;
    search.found = NULL;
    EnumWindows(FindPopup, (LPARAM)&search);
    return search.found;
}

static long long MicrosecondsSince(const LARGE_INTEGER *start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start->QuadPart) * 1000000 / frequency.QuadPart;
}

/* The menu is on the screen once a spot of its last item, right of any
 * label, shows the menu's colour; the window is visible a little before. */
static int MenuPainted(HWND popup)
{
    RECT rect;
    HDC screen;
    COLORREF pixel;
    if (!GetWindowRect(popup, &rect))
        return 0;
    screen = GetDC(NULL);
    pixel = GetPixel(screen, rect.right - 10, rect.bottom - 10);
    ReleaseDC(NULL, screen);
    return pixel == GetSysColor(COLOR_MENU);
}

static int VerbPress(int argc, char **argv, Report *r)
{
    DWORD pid, timeout = DEFAULT_TIMEOUT_MS;
    long x, y;
    char buf[32];
    INPUT press[2];
    LARGE_INTEGER start;
    HWND popup;
    if (!ParseNumber(argv[2], &pid) || !ParsePoint(argv[3], argv[4], &x, &y) ||
        (argc > 6 && !ParseNumber(argv[6], &timeout)))
        return Usage();
    memset(press, 0, sizeof press);
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SetCursorPos((int)x, (int)y);
    QueryPerformanceCounter(&start);
    if (SendInput(2, press, sizeof press[0]) != 2)
        return 3;
    while (!(popup = VisiblePopupOf(pid)) || !MenuPainted(popup)) {
        if (MicrosecondsSince(&start) >= (long long)timeout * 1000) {
            AppendLine(r, "OPENED", "TIMEOUT");
            return 1;
        }
        Sleep(1);
    }
    snprintf(buf, sizeof buf, "%lld", MicrosecondsSince(&start));
    AppendLine(r, "OPENED", buf);
    return 0;
}

static int ReportMenu(void)
{
    static Report r;
    char tmp[MAX_PATH + 8], buf[96];
    HWND popup = VisiblePopupOf(GetCurrentProcessId());
    RECT rect;
    int i;
    if (!popup || !GetWindowRect(popup, &rect))
        return 0;
    r.len = 0;
    r.text[0] = '\0';
    snprintf(buf, sizeof buf, "%ld\t%ld\t%ld\t%ld", (long)rect.left, (long)rect.top,
             (long)rect.right, (long)rect.bottom);
    AppendLine(&r, "POPUP", buf);
    for (i = 0; i < Shown.items; ++i) {
        if (!GetMenuItemRect(NULL, Shown.menu, (UINT)i, &rect))
            memset(&rect, 0, sizeof rect);
        snprintf(buf, sizeof buf, "%d\t%ld\t%ld\t%ld\t%ld", i, (long)rect.left, (long)rect.top,
                 (long)rect.right, (long)rect.bottom);
        AppendLine(&r, "ITEM", buf);
    }
    snprintf(tmp, sizeof tmp, "%s.tmp", Shown.reportPath);
    if (WriteReport(tmp, &r) != 0 || !MoveFileExA(tmp, Shown.reportPath, MOVEFILE_REPLACE_EXISTING))
        Shown.failed = 1;
    return 1;
}

static LRESULT CALLBACK MenuOwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg != WM_TIMER)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (!Shown.reported)
        Shown.reported = ReportMenu();
    if (Shown.failed || GetFileAttributesA(Shown.closePath) != INVALID_FILE_ATTRIBUTES) {
        EndMenu();
    } else if (GetTickCount() - Shown.start >= Shown.timeoutMs) {
        Shown.timedOut = 1;
        EndMenu();
    }
    return 0;
}

/* Fills the menu from items-file; returns the number of top-level items. */
static int BuildMenu(HMENU menu, char *text)
{
    char *line = text, *next;
    int items = 0;
    for (; *line && items < MENU_ITEMS_MAX; line = next) {
        next = strchr(line, '\n');
        if (next)
            *next++ = '\0';
        else
            next = line + strlen(line);
        if (strcmp(line, "-") == 0)
            AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
        else if (line[0] == '>')
            AppendMenuA(menu, MF_POPUP, (UINT_PTR)CreateMenu(), line + 1);
        else if (line[0] == '*')
            AppendMenuA(menu, MF_STRING | MF_CHECKED, (UINT_PTR)(100 + items), line + 1);
        else
            AppendMenuA(menu, MF_STRING, (UINT_PTR)(100 + items), line);
        ++items;
    }
    return items;
}

static int VerbMenu(int argc, char **argv)
{
    WNDCLASSA wc;
    HWND owner;
    size_t len = 0;
    char *text;
    long x, y;
    memset(&Shown, 0, sizeof Shown);
    Shown.timeoutMs = MENU_TIMEOUT_MS;
    if (!ParsePoint(argv[3], argv[4], &x, &y))
        return Usage();
    if (argc > 7 && !ParseNumber(argv[7], &Shown.timeoutMs))
        return Usage();
    Shown.reportPath = argv[5];
    Shown.closePath = argv[6];
    text = ReadAll(argv[2], &len);
    if (!text)
        return 3;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = MenuOwnerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "qlaunch menu owner";
    RegisterClassA(&wc);
    owner = CreateWindowExA(0, wc.lpszClassName, NULL, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL,
                            wc.hInstance, NULL);
    Shown.menu = CreatePopupMenu();
    if (!owner || !Shown.menu) {
        free(text);
        return 3;
    }
    Shown.items = BuildMenu(Shown.menu, text);
    free(text);
    Shown.start = GetTickCount();
    SetTimer(owner, 1, POLL_MS, NULL);
    SetForegroundWindow(owner);
    TrackPopupMenu(Shown.menu, 0, (int)x, (int)y, 0, owner, NULL);
    DestroyMenu(Shown.menu);
    DestroyWindow(owner);
    if (Shown.failed || !Shown.reported)
        return 3;
    return Shown.timedOut ? 1 : 0;
}

static int Usage(void)
{
    fprintf(stderr,
            "usage: qlaunch run <exe> <cmdline-file> <report-file> [timeout-ms]\n"
            "       qlaunch spawn <exe> <cmdline-file> <report-file>\n"
            "       qlaunch wait <pid> <report-file> <timeout-ms> [ready-file]\n"
            "       qlaunch mode <report-file>\n"
            "       qlaunch set <W>x<H>x<B>[@<F>] <report-file>\n"
            "       qlaunch modes <report-file>\n"
            "       qlaunch window <class> <report-file>\n"
            "       qlaunch windows <class> <report-file>\n"
            "       qlaunch close <pid> <class> <report-file>\n"
            "       qlaunch spawnw <exe-file> <report-file>\n"
            "       qlaunch command <pid> <class> <id> <report-file>\n"
            "       qlaunch untray <pid> <class> <report-file>\n"
            "       qlaunch notify <pid> <class> <report-file>\n"
            "       qlaunch monitors <report-file>\n"
            "       qlaunch autostart <timeout-ms> <report-file>\n"
            "       qlaunch noshell <ready-file> <close-file> <report-file>\n"
            "       qlaunch holdmutex <name> <sddl> <ready-file> <close-file> <report-file>\n"
            "       qlaunch popups <report-file>\n"
            "       qlaunch press <pid> <x> <y> <report-file> [timeout-ms]\n"
            "       qlaunch menu <items-file> <x> <y> <report-file> <close-file> [timeout-ms]\n"
            "       qlaunch loadlib <name> <report-file>\n"
            "       qlaunch hold\n");
    return 2;
}

/* A mistyped number must not turn into 0 (an instant TIMEOUT, a bogus pid). */
static int ParseNumber(const char *s, DWORD *value)
{
    char *end;
    unsigned long v = strtoul(s, &end, 10);
    if (*s < '0' || *s > '9' || *end != '\0')
        return 0;
    *value = (DWORD)v;
    return 1;
}

static int VerbRun(int argc, char **argv, Report *r)
{
    PROCESS_INFORMATION pi;
    DWORD timeout = DEFAULT_TIMEOUT_MS;
    int rc;
    if (argc > 5 && !ParseNumber(argv[5], &timeout))
        return Usage();
    rc = StartChild(argv[2], argv[3], &pi);
    if (rc != 0)
        return rc;
    CloseHandle(pi.hThread);
    rc = Supervise(pi.hProcess, pi.dwProcessId, timeout, r);
    CloseHandle(pi.hProcess);
    return rc;
}

static int VerbSpawn(char **argv, Report *r)
{
    PROCESS_INFORMATION pi;
    int rc = StartChild(argv[2], argv[3], &pi);
    if (rc != 0)
        return rc;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    AppendNumber(r, "PID", (long)pi.dwProcessId);
    return 0;
}

static int VerbWait(int argc, char **argv, Report *r)
{
    DWORD pid, timeout;
    HANDLE proc;
    int rc;
    if (!ParseNumber(argv[2], &pid) || !ParseNumber(argv[4], &timeout))
        return Usage();
    proc = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    if (!proc) {
        AppendLine(r, "EXIT", "GONE");
        AppendFreshMode(r);
        return 0;
    }
    if (argc > 5) {
        HANDLE ready = CreateFileA(argv[5], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (ready == INVALID_HANDLE_VALUE) {
            CloseHandle(proc);
            return 3;
        }
        CloseHandle(ready);
    }
    rc = Supervise(proc, pid, timeout, r);
    CloseHandle(proc);
    return rc;
}

static int VerbSet(const char *spec, Report *r)
{
    DEVMODEA dm;
    memset(&dm, 0, sizeof dm);
    dm.dmSize = sizeof dm;
    if (!ParseMode(spec, &dm))
        return Usage();
    AppendNumber(r, "RESULT", ChangeDisplaySettingsA(&dm, 0));
    AppendMode(r);
    return 0;
}

int main(int argc, char **argv)
{
    static Report report;
    const char *verb = argc > 1 ? argv[1] : "";
    const char *path;
    int rc;
    SetProcessDPIAware();
    if (strcmp(verb, "run") == 0 && (argc == 5 || argc == 6)) {
        path = argv[4];
        rc = VerbRun(argc, argv, &report);
    } else if (strcmp(verb, "spawn") == 0 && argc == 5) {
        path = argv[4];
        rc = VerbSpawn(argv, &report);
    } else if (strcmp(verb, "wait") == 0 && (argc == 5 || argc == 6)) {
        path = argv[3];
        rc = VerbWait(argc, argv, &report);
    } else if (strcmp(verb, "mode") == 0 && argc == 3) {
        path = argv[2];
        AppendMode(&report);
        rc = 0;
    } else if (strcmp(verb, "modes") == 0 && argc == 3) {
        path = argv[2];
        rc = VerbModes(&report);
    } else if (strcmp(verb, "set") == 0 && argc == 4) {
        path = argv[3];
        rc = VerbSet(argv[2], &report);
    } else if (strcmp(verb, "window") == 0 && argc == 4) {
        path = argv[3];
        AppendLine(&report, "WINDOW", FindWindowA(argv[2], NULL) ? "1" : "0");
        rc = 0;
    } else if (strcmp(verb, "windows") == 0 && argc == 4) {
        path = argv[3];
        rc = VerbScan(SCAN_WINDOWS, argv[2], 0, 0, &report);
    } else if (strcmp(verb, "close") == 0 && argc == 5) {
        DWORD pid;
        if (!ParseNumber(argv[2], &pid) || pid == 0)
            return Usage();
        path = argv[4];
        rc = VerbScan(SCAN_CLOSE, argv[3], pid, 0, &report);
    } else if (strcmp(verb, "command") == 0 && argc == 6) {
        DWORD pid, id;
        if (!ParseNumber(argv[2], &pid) || pid == 0 || !ParseNumber(argv[4], &id))
            return Usage();
        path = argv[5];
        rc = VerbScan(SCAN_COMMAND, argv[3], pid, id, &report);
    } else if (strcmp(verb, "untray") == 0 && argc == 5) {
        DWORD pid;
        if (!ParseNumber(argv[2], &pid) || pid == 0)
            return Usage();
        path = argv[4];
        rc = VerbScan(SCAN_UNTRAY, argv[3], pid, 0, &report);
    } else if (strcmp(verb, "notify") == 0 && argc == 5) {
        DWORD pid;
        if (!ParseNumber(argv[2], &pid) || pid == 0)
            return Usage();
        path = argv[4];
        rc = VerbScan(SCAN_NOTIFY, argv[3], pid, 0, &report);
    } else if (strcmp(verb, "monitors") == 0 && argc == 3) {
        path = argv[2];
        rc = EnumDisplayMonitors(NULL, NULL, ListMonitor, (LPARAM)&report) ? 0 : 3;
    } else if (strcmp(verb, "spawnw") == 0 && argc == 4) {
        path = argv[3];
        rc = VerbSpawnWide(argv[2], &report);
    } else if (strcmp(verb, "autostart") == 0 && argc == 4) {
        DWORD timeout;
        if (!ParseNumber(argv[2], &timeout))
            return Usage();
        path = argv[3];
        rc = VerbAutostart(timeout, &report);
    } else if (strcmp(verb, "noshell") == 0 && argc == 5) {
        path = argv[4];
        rc = VerbNoShell(argv, &report);
    } else if (strcmp(verb, "holdmutex") == 0 && argc == 7) {
        path = argv[6];
        rc = VerbHoldMutex(argv, &report);
    } else if (strcmp(verb, "popups") == 0 && argc == 3) {
        path = argv[2];
        rc = VerbScan(SCAN_POPUPS, "#32768", 0, 0, &report);
    } else if (strcmp(verb, "press") == 0 && (argc == 6 || argc == 7)) {
        path = argv[5];
        rc = VerbPress(argc, argv, &report);
    } else if (strcmp(verb, "menu") == 0 && (argc == 7 || argc == 8)) {
        return VerbMenu(argc, argv);
    } else if (strcmp(verb, "loadlib") == 0 && argc == 4) {
        path = argv[3];
        AppendLine(&report, "LOADED", LoadLibraryA(argv[2]) ? "1" : "0");
        rc = 0;
    } else if (strcmp(verb, "hold") == 0 && argc == 2) {
        GetDesktopWindow();
        Sleep(INFINITE);
        return 0;
    } else {
        return Usage();
    }
    if (rc > 1)
        return rc;
    return WriteReport(path, &report) ? 3 : rc;
}
