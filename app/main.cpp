#include "app/app.h"
#include "display/display.h"
#include "settings/settings.h"
#include "tray/tray.h"

#include <windows.h>

HANDLE InstanceMutex = nullptr;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR commandLine, int /*show*/)
{
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
        return 1;
    }
    LoadSettings();
    return RunTrayWindow(instance);
}
