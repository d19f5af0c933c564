#include "display/modelist.h"

#include "settings/settings.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <set>

std::vector<DisplayMode> ModeList;

bool LowerRefresh(const DisplayMode& a, const DisplayMode& b)
{
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel &&
           a.frequency < b.frequency;
}

// The entries of one mode stand in falling order of rate, so the first whose
// rate is not above the new one's decides: an equal one means the mode is
// listed already, a lower one takes the new rate.
void AddOrReplaceMode(const DisplayMode& mode)
{
    for (DisplayMode& entry : ModeList) {
        if (entry.width != mode.width || entry.height != mode.height ||
            entry.bitsPerPixel != mode.bitsPerPixel || entry.frequency > mode.frequency) {
            continue;
        }
        entry.frequency = mode.frequency;
        return;
    }
    ModeList.push_back(mode);
}

static void MoveEntry(std::size_t from, std::size_t to)
{
    const DisplayMode moving = ModeList[from];
    for (std::size_t i = from; i > to; --i) {
        ModeList[i] = ModeList[i - 1];
    }
    ModeList[to] = moving;
}

void SortModeList()
{
    for (std::size_t k = 1; k < ModeList.size(); ++k) {
        const DisplayMode v = ModeList[k];
        if (LowerRefresh(v, ModeList[0])) {
            MoveEntry(k, 0);
            continue;
        }
        std::size_t j = k;
        while (LowerRefresh(v, ModeList[j - 1])) {
            --j;
        }
        if (j < k) {
            MoveEntry(k, j);
        }
    }
}

void RebuildModeList()
{
    RebuildModeList(QueryCurrentMode().bitsPerPixel);
}

void RebuildModeList(std::uint32_t depth)
{
    std::vector<DisplayMode>().swap(ModeList);
    // Drivers list a mode once per scaling variant: a repeat that came after
    // its size's rate was raised would otherwise be an item of its own.
    std::set<std::array<std::uint32_t, 3>> seen;
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &devmode) != 0; ++i) {
        // An interlaced twin would add a rate the program cannot ask for.
        if ((devmode.dmDisplayFlags & DM_INTERLACED) != 0 || devmode.dmBitsPerPel != depth ||
            devmode.dmPelsWidth < Settings.minWidth) {
            continue;
        }
        const bool standardRatio = devmode.dmPelsWidth * 3u == devmode.dmPelsHeight * 4u;
        if (!standardRatio && !Settings.showNonStdRatio) {
            continue;
        }
        if (!seen.insert({devmode.dmPelsWidth, devmode.dmPelsHeight, devmode.dmDisplayFrequency}).second) {
            continue;
        }
        AddOrReplaceMode(DisplayMode{devmode.dmPelsWidth, devmode.dmPelsHeight,
                                     devmode.dmDisplayFrequency, devmode.dmBitsPerPel});
    }
    SortModeList();
}
