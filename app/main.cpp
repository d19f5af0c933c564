#include "app/app.h"
#include "display/display.h"
#include "settings/settings.h"
#include "tray/tray.h"

#include <windows.h>

HANDLE InstanceMutex = nullptr;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryWFunction)(LPCWSTR);

// A system DLL that loads another by name at run time (uxtheme when a menu is
// themed, dwmapi, ...) would find it beside the exe first, and a portable
// exe lies where downloads land. Windows 7 without KB2533623 lacks the first
// call; the second at least takes the current directory out of the search.
static void LoadSystemLibrariesOnlyFromSystemFolder()
{
    const auto setDefaultDllDirectories =
        FindSystemFunction<SetDefaultDllDirectoriesFunction>("kernel32.dll", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) {
        return;
    }
    const auto setDllDirectory = FindSystemFunction<SetDllDirectoryWFunction>("kernel32.dll", "SetDllDirectoryW");
    if (setDllDirectory != nullptr) {
        setDllDirectory(L"");
    }
}

typedef BOOL(WINAPI* SetProcessDPIAwareFunction)();

// Windows 8.1 and later scale the display size that an unaware process reads,
// and the current mode would then not be the one the display is in.
static void DeclareDpiAware()
{
    const auto setDpiAware =
        FindSystemFunction<SetProcessDPIAwareFunction>("user32.dll", "SetProcessDPIAware");
    if (setDpiAware != nullptr) {
        setDpiAware();
    }
}

typedef BOOL(WINAPI* SetTokenInformationFunction)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD);

// Windows virtualizes the registry writes of a 32-bit program without a
// manifest: an Autostart written without the right would land in the
// user's VirtualStore, read back as done, and never start at logon.
static void TurnRegistryVirtualizationOff()
{
    const auto setTokenInformation =
        FindSystemFunction<SetTokenInformationFunction>("advapi32.dll", "SetTokenInformation");
    HANDLE token = nullptr;
    if (setTokenInformation == nullptr ||
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token) == FALSE) {
        return;
    }
    DWORD enabled = 0;
    setTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled);
    CloseHandle(token);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int /*show*/)
{
    LoadSystemLibrariesOnlyFromSystemFolder();
    DeclareDpiAware();
    DisplayMode mode = {0, 0, 0, 0};
    const int handled = HandleCommandLine(commandLine != nullptr ? commandLine : "", mode);
    if (handled == CMDLINE_APPLY) {
        const LONG result = ApplyDisplayMode(mode);
        if (result != DISP_CHANGE_SUCCESSFUL && result != DISP_CHANGE_RESTART) {
            MessageBoxA(nullptr, "Display mode change failed", "Error", MB_OK);
        }
        return 0;
    }
    if (handled != CMDLINE_RESIDENT) {
        return 0;
    }
    InstanceMutex = CreateMutexA(nullptr, TRUE, "Quorin");
    const DWORD mutexError = GetLastError();
    // An elevated instance's mutex denies a standard process even the look:
    // it is a running instance all the same.
    if (mutexError == ERROR_ALREADY_EXISTS ||
        (InstanceMutex == nullptr && mutexError == ERROR_ACCESS_DENIED)) {
        AskRunningTrayForItsIcon();
        return 1;
    }
    TurnRegistryVirtualizationOff();
    LoadSettings();
    return RunTrayWindow(instance);
}
