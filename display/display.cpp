#include "display/display.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(DEVMODEA) == 156, "DEVMODEA without driver data is 156 bytes");

// The display's own settings, the source of the mode list too: a display
// context scales its size for a process whose sign-in DPI differs from the
// display's scale, and Windows changes that scale after sign-in.
DisplayMode QueryCurrentMode()
{
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &devmode) != 0) {
        return DisplayMode{devmode.dmPelsWidth, devmode.dmPelsHeight, devmode.dmDisplayFrequency,
                           devmode.dmBitsPerPel};
    }
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    DisplayMode mode;
    mode.width = static_cast<std::uint32_t>(GetDeviceCaps(dc, HORZRES));
    mode.height = static_cast<std::uint32_t>(GetDeviceCaps(dc, VERTRES));
    mode.frequency = static_cast<std::uint32_t>(GetDeviceCaps(dc, VREFRESH));
    mode.bitsPerPixel = static_cast<std::uint32_t>(GetDeviceCaps(dc, BITSPIXEL));
    DeleteDC(dc);
    return mode;
}

void FindBestFrequency(DisplayMode& mode)
{
    mode.frequency = 0;
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    // Index 0 first: it makes the driver refresh its mode cache.
    for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &devmode) != 0; ++i) {
        if ((devmode.dmDisplayFlags & DM_INTERLACED) == 0 && devmode.dmPelsWidth == mode.width &&
            devmode.dmPelsHeight == mode.height && devmode.dmBitsPerPel == mode.bitsPerPixel &&
            devmode.dmDisplayFrequency > mode.frequency) {
            mode.frequency = devmode.dmDisplayFrequency;
        }
    }
}

std::int32_t ApplyDisplayMode(DisplayMode& mode)
{
    if (mode.bitsPerPixel == 0) {
        mode.bitsPerPixel = QueryCurrentMode().bitsPerPixel;
    }
    if (mode.frequency == 0) {
        FindBestFrequency(mode);
    }
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    // Progressive, said outright: a mode that is listed interlaced too would
    // otherwise be whichever of the two Windows takes.
    devmode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
    devmode.dmDisplayFlags = 0;
    devmode.dmBitsPerPel = mode.bitsPerPixel;
    devmode.dmPelsWidth = mode.width;
    devmode.dmPelsHeight = mode.height;
    devmode.dmDisplayFrequency = mode.frequency;
    LONG result = ChangeDisplaySettingsA(&devmode, CDS_UPDATEREGISTRY);
    if (result == DISP_CHANGE_NOTUPDATED) {
        result = ChangeDisplaySettingsA(&devmode, 0);
    }
    return result;
}
