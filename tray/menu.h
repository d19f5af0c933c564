#ifndef QUORIN_TRAY_MENU_H
#define QUORIN_TRAY_MENU_H

#include "display/display.h"

#include <windows.h>

enum {
    CMD_EXIT = 1,
    CMD_AUTOSTART = 2,
    CMD_NONSTD_RATIO = 3,
    CMD_LOW_RES = 4,
    CMD_SAVE = 5,
    CMD_MODE_BASE = 6,
};

// A new popup menu, the item of the current mode checked; destroying it
// frees its "Settings" submenu too.
HMENU BuildTrayMenu(const DisplayMode& current);

#endif
