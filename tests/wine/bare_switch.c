/*
 * bare_switch: the least a program can do to set a mode like "quorin.exe
 * 800x600": the same current-depth query, frequency search and
 * ChangeDisplaySettingsA calls, and nothing else.  timing.sh compares the
 * two, both started by qlaunch run.  Exit code: the DISP_CHANGE result.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show)
{
    DEVMODEA dm, probe;
    DWORD i;
    unsigned long width = 0, height = 0;
    HDC dc;
    LONG result;
    (void)instance;
    (void)previous;
    (void)show;
    if (sscanf(cmdLine, "%lux%lu", &width, &height) != 2)
        return 2;
    memset(&dm, 0, sizeof dm);
    dm.dmSize = sizeof dm;
    dm.dmPelsWidth = width;
    dm.dmPelsHeight = height;
    dc = CreateDCA("DISPLAY", NULL, NULL, NULL);
    dm.dmBitsPerPel = (DWORD)GetDeviceCaps(dc, BITSPIXEL);
    DeleteDC(dc);
    for (i = 0;; ++i) {
        memset(&probe, 0, sizeof probe);
        probe.dmSize = sizeof probe;
        if (!EnumDisplaySettingsA(NULL, i, &probe))
            break;
        if (probe.dmPelsWidth == dm.dmPelsWidth && probe.dmPelsHeight == dm.dmPelsHeight &&
            probe.dmBitsPerPel == dm.dmBitsPerPel && probe.dmDisplayFrequency > dm.dmDisplayFrequency)
            dm.dmDisplayFrequency = probe.dmDisplayFrequency;
    }
    dm.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    result = ChangeDisplaySettingsA(&dm, CDS_UPDATEREGISTRY);
    if (result == DISP_CHANGE_NOTUPDATED)
        result = ChangeDisplaySettingsA(&dm, 0);
    return (int)result;
}
