// Runs the settings code against the real registry of the system it runs on
// (Wine in the tests), one verb per run:
//   settings_probe save <lowres 0|1> <nonstd 0|1> <autostart 0|1> [display-values 0|1]
//     prints "agrees=<0|1> unchanged=<0|1>": what SaveSettings returned, and
//     whether the record came back untouched
//   settings_probe load
//     prints "minWidth=<n> showNonStdRatio=<0|1> autostart=<0|1>"
#include "settings/settings.h"

#include <cstdio>
#include <cstring>

static bool Flag(const char* text, bool& flag)
{
    if (std::strcmp(text, "0") != 0 && std::strcmp(text, "1") != 0) {
        return false;
    }
    flag = text[0] == '1';
    return true;
}

static int Usage()
{
    std::fprintf(stderr, "usage: settings_probe save <lowres 0|1> <nonstd 0|1> <autostart 0|1> "
                         "[display-values 0|1]\n       settings_probe load\n");
    return 2;
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "load") == 0) {
        // Anything LoadSettings leaves alone shows as impossible values.
        Settings = SettingsRecord{123, true, true};
        LoadSettings();
        std::printf("minWidth=%u showNonStdRatio=%d autostart=%d\n",
                    static_cast<unsigned>(Settings.minWidth), Settings.showNonStdRatio ? 1 : 0,
                    Settings.autostart ? 1 : 0);
        return 0;
    }
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "save") == 0) {
        bool lowRes = false;
        bool displayValues = true;
        if (!Flag(argv[2], lowRes) || !Flag(argv[3], Settings.showNonStdRatio) ||
            !Flag(argv[4], Settings.autostart) || (argc == 6 && !Flag(argv[5], displayValues))) {
            return Usage();
        }
        Settings.minWidth = lowRes ? 0 : 640;
        const SettingsRecord before = Settings;
        const bool agrees = SaveSettings(displayValues);
        const bool unchanged = before.minWidth == Settings.minWidth &&
                               before.showNonStdRatio == Settings.showNonStdRatio &&
                               before.autostart == Settings.autostart;
        std::printf("agrees=%d unchanged=%d\n", agrees ? 1 : 0, unchanged ? 1 : 0);
        return 0;
    }
    return Usage();
}
