#ifndef QUORIN_DISPLAY_MODELIST_H
#define QUORIN_DISPLAY_MODELIST_H

#include "display/display.h"

#include <cstdint>
#include <vector>

// The modes the tray menu offers; entry i is the menu item CMD_MODE_BASE + i.
extern std::vector<DisplayMode> ModeList;

// Same width, height and depth, and a lower frequency. Not a strict weak
// ordering: never hand it to a library sort.
bool LowerRefresh(const DisplayMode& a, const DisplayMode& b);

void RebuildModeList();
// At a depth read already, so that a menu's items and its check mark come
// from one reading of the display.
void RebuildModeList(std::uint32_t depth);
void AddOrReplaceMode(const DisplayMode& mode);
void SortModeList();

#endif
