#include "settings/settings.h"

#include "app/app.h"

#include <windows.h>

#include <cstring>

SettingsRecord Settings = {640, false, false};

static const char SettingsKeyPath[] = "Software\\Quorin";
static const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char RunValueName[] = "Quorin";
// Task Manager and Settings switch a Run entry off here, under the entry's
// own name, without touching it.
static const char ApprovedRunKeyPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
static const char ApprovedRun32KeyPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
// The first byte of an approval: odd is off. Task Manager writes 12 bytes, a
// FILETIME after the flags; zero there is as good as any time.
static const BYTE ApprovedOn[12] = {2};

// A REG_DWORD of exactly 4 bytes, or nothing.
static bool QueryFlag(HKEY key, const char* name, bool& flag)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return false;
    }
    flag = value != 0;
    return true;
}

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, BOOL*);

// The 32-bit program on 64-bit Windows: its Run value lands in the 32-bit
// view, and the approvals of that view are "Run32" of the 64-bit one.
static bool RunsUnderWow64()
{
    const auto isWow64 =
        FindSystemFunction<IsWow64ProcessFunction>("kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

static const char* ApprovedKeyPath(bool wow64)
{
    return wow64 ? ApprovedRun32KeyPath : ApprovedRunKeyPath;
}

static REGSAM ApprovedKeyView(bool wow64)
{
    return wow64 ? KEY_WOW64_64KEY : 0;
}

// An approval that is absent, unreadable or of another kind counts for
// nothing: the entry is on.
static bool SwitchedOffInTaskManager()
{
    const bool wow64 = RunsUnderWow64();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ApprovedKeyPath(wow64), 0,
                      KEY_READ | ApprovedKeyView(wow64), &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    BYTE approval[sizeof ApprovedOn];
    DWORD size = sizeof approval;
    const bool off = RegQueryValueExA(key, RunValueName, nullptr, &type, approval, &size) ==
                         ERROR_SUCCESS &&
                     type == REG_BINARY && size > 0 && (approval[0] & 1) != 0;
    RegCloseKey(key);
    return off;
}

void LoadSettings()
{
    Settings.minWidth = 640;
    Settings.showNonStdRatio = false;
    Settings.autostart = false;

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        bool lowRes = false;
        if (QueryFlag(key, "DisplayLoRes", lowRes)) {
            Settings.minWidth = lowRes ? 0 : 640;
        }
        bool nonStdRatio = false;
        if (QueryFlag(key, "DisplayNonStdRatio", nonStdRatio)) {
            Settings.showNonStdRatio = nonStdRatio;
        }
        RegCloseKey(key);
    }

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    // Read as it is written, wide: room for the longest path, its quotes and
    // the terminator, whatever the ANSI code page would make of it.
    DWORD type = 0;
    WCHAR value[MAX_PATH + 3];
    DWORD size = sizeof value;
    const bool registered = RegQueryValueExW(key, L"Quorin", nullptr, &type,
                                             reinterpret_cast<LPBYTE>(value), &size) ==
                                ERROR_SUCCESS &&
                            type == REG_SZ;
    RegCloseKey(key);
    Settings.autostart = registered && !SwitchedOffInTaskManager();
}

static void WriteFlag(HKEY key, const char* name, bool flag)
{
    const DWORD value = flag ? 1 : 0;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The Run value holds the path in double quotes: unquoted, a path with a blank
// would start the wrong program. It is taken and written wide, since the
// ANSI path loses every letter outside the code page. A failed or cut path
// writes nothing.
static bool WriteRunValue(HKEY runKey)
{
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    if (length == 0 || length >= MAX_PATH - 1) {
        return false;
    }
    WCHAR quoted[MAX_PATH + 2];
    quoted[0] = L'"';
    std::memcpy(quoted + 1, path, length * sizeof(WCHAR));
    quoted[length + 1] = L'"';
    quoted[length + 2] = L'\0';
    return RegSetValueExW(runKey, L"Quorin", 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted),
                          (length + 3) * sizeof(WCHAR)) == ERROR_SUCCESS;
}

// An entry switched off in Task Manager starts again. True when the entry is
// now approved: written, or left as it was and not switched off.
static bool ApproveRunValue()
{
    const bool wow64 = RunsUnderWow64();
    char emptyClass[] = "";
    DWORD disposition = 0;
    HKEY key = nullptr;
    bool written = false;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ApprovedKeyPath(wow64), 0, emptyClass,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE | ApprovedKeyView(wow64), nullptr, &key,
                        &disposition) == ERROR_SUCCESS) {
        written = RegSetValueExA(key, RunValueName, 0, REG_BINARY, ApprovedOn, sizeof ApprovedOn) ==
                  ERROR_SUCCESS;
        RegCloseKey(key);
    }
    return written || !SwitchedOffInTaskManager();
}

// As for an entry never approved; without its Run value the entry is off
// whatever the approval says, so the result does not count.
static void RemoveApproval()
{
    const bool wow64 = RunsUnderWow64();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ApprovedKeyPath(wow64), 0,
                      KEY_SET_VALUE | ApprovedKeyView(wow64), &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, RunValueName);
        RegCloseKey(key);
    }
}

bool SaveSettings(bool writeDisplayValues)
{
    char emptyClass[] = "";
    DWORD disposition = 0;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, &disposition) == ERROR_SUCCESS) {
        if (writeDisplayValues) {
            WriteFlag(key, "DisplayNonStdRatio", Settings.showNonStdRatio);
            WriteFlag(key, "DisplayLoRes", Settings.minWidth == 0);
        }
        RegCloseKey(key);
    }

    HKEY runKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &runKey, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    bool agrees = true;
    if (Settings.autostart) {
        agrees = WriteRunValue(runKey);
    } else {
        // A value that was not there is removed as well as one that was.
        const LONG deleted = RegDeleteValueA(runKey, RunValueName);
        agrees = deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    }
    RegCloseKey(runKey);
    if (!agrees) {
        return false;
    }
    if (!Settings.autostart) {
        RemoveApproval();
        return true;
    }
    return ApproveRunValue();
}
