#include "tray/menu.h"

#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdio>

static const std::size_t MaxModeItems = 0xFFFF - CMD_MODE_BASE + 1;

static void AppendItem(HMENU menu, UINT id, const char* label, bool checked)
{
    AppendMenuA(menu, MF_STRING, id, label);
    if (checked) {
        CheckMenuItem(menu, id, MF_BYCOMMAND | MF_CHECKED);
    }
}

static void AppendSeparator(HMENU menu)
{
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
}

HMENU BuildTrayMenu(const DisplayMode& current)
{
    HMENU menu = CreatePopupMenu();
    HMENU settingsMenu = CreateMenu();
    AppendItem(settingsMenu, CMD_LOW_RES, "Display low resolutions", Settings.minWidth < 640);
    AppendItem(settingsMenu, CMD_NONSTD_RATIO, "Display not 4/3 resolutions", Settings.showNonStdRatio);
    AppendItem(settingsMenu, CMD_AUTOSTART, "Autostart", Settings.autostart);
    AppendSeparator(settingsMenu);
    AppendItem(settingsMenu, CMD_SAVE, "Save settings", false);
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(settingsMenu), "Settings");
    AppendSeparator(menu);

    // A command carries its identifier in 16 bits: an item past that would
    // arrive as the identifier of another one.
    const std::size_t items = ModeList.size() < MaxModeItems ? ModeList.size() : MaxModeItems;
    for (std::size_t i = 0; i < items; ++i) { // cppcheck-suppress knownConditionTrueFalse
        const DisplayMode& entry = ModeList[i];
        char label[32];
        (void)std::snprintf(label, sizeof label, "%dx%d %d Hz", static_cast<int>(entry.width),
                      static_cast<int>(entry.height), static_cast<int>(entry.frequency));
        AppendItem(menu, static_cast<UINT>(CMD_MODE_BASE + i), label, false);
    }

    // The item of the rate the display runs at; a size listed once, at its
    // highest rate, stays checked whichever of its rates runs.
    std::size_t checked = items;
    for (std::size_t i = 0; i < items; ++i) { // cppcheck-suppress knownConditionTrueFalse
        const DisplayMode& entry = ModeList[i];
        if (entry.width != current.width || entry.height != current.height ||
            entry.bitsPerPixel != current.bitsPerPixel) {
            continue;
        }
        if (checked == items) {
            checked = i;
        }
        if (entry.frequency == current.frequency) {
            checked = i;
            break;
        }
    }
    if (checked < items) { // cppcheck-suppress knownConditionTrueFalse
        CheckMenuItem(menu, static_cast<UINT>(CMD_MODE_BASE + checked), MF_BYCOMMAND | MF_CHECKED);
    }

    AppendSeparator(menu);
    AppendItem(menu, CMD_EXIT, "Exit", false);
    return menu;
}
