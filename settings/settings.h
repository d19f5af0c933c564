#ifndef QUORIN_SETTINGS_SETTINGS_H
#define QUORIN_SETTINGS_SETTINGS_H

#include <cstdint>

struct SettingsRecord {
    std::uint32_t minWidth;
    bool showNonStdRatio;
    bool autostart;
};

extern SettingsRecord Settings;

void LoadSettings();
// Returns true when the autostart entry now agrees with Settings.autostart
// (written, or removed, as wanted). Changes no field of Settings.
bool SaveSettings(bool writeDisplayValues);

#endif
