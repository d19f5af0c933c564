#include "app/app.h"
#include "display/display.h"
#include "settings/settings.h"
#include "tray/tray.h"

#include <windows.h>

HANDLE InstanceMutex = nullptr;

typedef BOOL(WINAPI* SetProcessDPIAwareFunction)();

// Windows 8.1 and later scale the display size that an unaware process reads,
// and the current mode would then not be the one the display is in.
static void DeclareDpiAware()
{
    const auto setDpiAware = FindUser32Function<SetProcessDPIAwareFunction>("SetProcessDPIAware");
    if (setDpiAware != nullptr) {
        setDpiAware();
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int /*show*/)
{
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
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        AskRunningTrayForItsIcon();
        return 1;
    }
    LoadSettings();
    return RunTrayWindow(instance);
}
