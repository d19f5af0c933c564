#include "settings/settings.h"

#include <windows.h>

#include <cstring>

SettingsRecord Settings = {640, false, false};

static const char SettingsKeyPath[] = "Software\\Quorin";
static const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char RunValueName[] = "Quorin";

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
    DWORD type = 0;
    BYTE data[256];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, RunValueName, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        Settings.autostart = true;
    }
    RegCloseKey(key);
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
    return agrees;
}
