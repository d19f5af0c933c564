#include "internal.h"
#include "stub.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace stub {
namespace {

struct DisplayState {
    std::vector<Mode> modes;
    Mode current = {1024, 768, 32, 60};
    std::vector<LONG> scripted;
    std::size_t nextScripted = 0;
    std::vector<ModeChange> changes;
    int openDCs = 0;
    unsigned scalePercent = 100;
    unsigned signInPercent = 0; // 0: the display's scale
    bool dpiAware = false;
    bool currentSettingsFail = false;
};

DisplayState& Display()
{
    static DisplayState state;
    return state;
}

void ResetDisplay()
{
    Display() = DisplayState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetDisplay);

// The only device context the stand-in hands out.
HDC const DisplayDC = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0xdc01));

// What a display context shows a process of a size: an unaware one reads it
// at 96 DPI, a system-aware one at the DPI that Windows fixed at sign-in.
int Virtualized(DWORD size)
{
    const DisplayState& display = Display();
    const unsigned seen = !display.dpiAware             ? 100
                          : display.signInPercent != 0 ? display.signInPercent
                                                       : display.scalePercent;
    return static_cast<int>((std::uint64_t{size} * seen + display.scalePercent / 2) /
                            display.scalePercent);
}

void FillMode(DEVMODEA& devMode, const Mode& mode)
{
    FillJunk(devMode);
    devMode.dmSize = sizeof(DEVMODEA);
    devMode.dmDriverExtra = 0;
    devMode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
    devMode.dmDisplayFlags = mode.displayFlags;
    devMode.dmBitsPerPel = mode.bitsPerPel;
    devMode.dmPelsWidth = mode.width;
    devMode.dmPelsHeight = mode.height;
    devMode.dmDisplayFrequency = mode.frequency;
}

bool Requested(const DEVMODEA& request, DWORD field, DWORD wanted, DWORD offered)
{
    return (request.dmFields & field) == 0 || wanted == offered;
}

// Which of two listed twins a request without DM_DISPLAYFLAGS gets is not
// documented: the first one listed, here.
const Mode* FirstMatch(const DEVMODEA& request)
{
    const bool anyRate = request.dmDisplayFrequency <= 1;
    for (const Mode& mode : Display().modes) {
        if (request.dmPelsWidth == mode.width && request.dmPelsHeight == mode.height &&
            Requested(request, DM_BITSPERPEL, request.dmBitsPerPel, mode.bitsPerPel) &&
            (anyRate || Requested(request, DM_DISPLAYFREQUENCY, request.dmDisplayFrequency, mode.frequency)) &&
            Requested(request, DM_DISPLAYFLAGS, request.dmDisplayFlags, mode.displayFlags)) {
            return &mode;
        }
    }
    return nullptr;
}

} // namespace

void SeedModes(const std::vector<Mode>& modes)
{
    Display().modes = modes;
}

void SeedCurrentMode(const Mode& mode)
{
    Display().current = mode;
}

void ScriptChangeResults(const std::vector<LONG>& results)
{
    Display().scripted = results;
    Display().nextScripted = 0;
}

const std::vector<ModeChange>& ModeChanges()
{
    return Display().changes;
}

int OpenDeviceContexts()
{
    return Display().openDCs;
}

void SeedDisplayScale(unsigned percent)
{
    Display().scalePercent = percent;
}

void SeedSignInScale(unsigned percent)
{
    Display().signInPercent = percent;
}

void FailCurrentSettings()
{
    Display().currentSettingsFail = true;
}

BOOL WINAPI SetProcessDPIAware()
{
    Record("SetProcessDPIAware");
    Display().dpiAware = true;
    return TRUE;
}

} // namespace stub

BOOL WINAPI EnumDisplaySettingsA(LPCSTR deviceName, DWORD modeNum, DEVMODEA* devMode)
{
    stub::Record("EnumDisplaySettingsA", stub::Text(deviceName) + " " + std::to_string(modeNum));
    stub::DisplayState& display = stub::Display();
    if (deviceName != nullptr || devMode == nullptr || devMode->dmSize != sizeof(DEVMODEA)) {
        return FALSE;
    }
    // The current mode comes unscaled, whatever the process's DPI awareness.
    if (modeNum == ENUM_CURRENT_SETTINGS) {
        if (display.currentSettingsFail) {
            return FALSE;
        }
        stub::FillMode(*devMode, display.current);
        return TRUE;
    }
    if (modeNum >= display.modes.size()) {
        return FALSE;
    }
    stub::FillMode(*devMode, display.modes[modeNum]);
    return TRUE;
}

LONG WINAPI ChangeDisplaySettingsA(DEVMODEA* devMode, DWORD flags)
{
    stub::DisplayState& display = stub::Display();
    const stub::Mode* match = devMode != nullptr ? stub::FirstMatch(*devMode) : nullptr;
    LONG result = match != nullptr ? DISP_CHANGE_SUCCESSFUL : DISP_CHANGE_BADMODE;
    if (display.nextScripted < display.scripted.size()) {
        result = display.scripted[display.nextScripted++];
    }
    stub::ModeChange change;
    std::memset(&change.devmode, 0, sizeof change.devmode);
    if (devMode != nullptr) {
        change.devmode = *devMode;
    }
    change.flags = flags;
    change.result = result;
    display.changes.push_back(change);
    stub::Record("ChangeDisplaySettingsA",
                 devMode == nullptr ? "(null) " + std::to_string(flags)
                                    : std::to_string(devMode->dmPelsWidth) + "x" +
                                          std::to_string(devMode->dmPelsHeight) + "x" +
                                          std::to_string(devMode->dmBitsPerPel) + "@" +
                                          std::to_string(devMode->dmDisplayFrequency) + " " +
                                          std::to_string(flags));
    if (result == DISP_CHANGE_SUCCESSFUL && devMode != nullptr) {
        display.current = match != nullptr ? *match
                                           : stub::Mode{devMode->dmPelsWidth, devMode->dmPelsHeight,
                                                        devMode->dmBitsPerPel, devMode->dmDisplayFrequency};
    }
    return result;
}

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR port, const DEVMODEA* initData)
{
    stub::Record("CreateDCA", stub::Text(driver) + " " + stub::Text(device) + " " +
                                  stub::Text(port) + " " +
                                  stub::Hex(reinterpret_cast<std::uintptr_t>(initData)));
    if (driver == nullptr || std::strcmp(driver, "DISPLAY") != 0) {
        return nullptr;
    }
    ++stub::Display().openDCs;
    return stub::DisplayDC;
}

int WINAPI GetDeviceCaps(HDC dc, int index)
{
    stub::Record("GetDeviceCaps", std::to_string(index));
    if (dc != stub::DisplayDC) {
        return 0;
    }
    const stub::Mode& mode = stub::Display().current;
    switch (index) {
    case HORZRES:
        return stub::Virtualized(mode.width);
    case VERTRES:
        return stub::Virtualized(mode.height);
    case BITSPIXEL:
        return static_cast<int>(mode.bitsPerPel);
    case VREFRESH:
        return static_cast<int>(mode.frequency);
    default:
        return 0;
    }
}

BOOL WINAPI DeleteDC(HDC dc)
{
    stub::Record("DeleteDC");
    if (dc != stub::DisplayDC || stub::Display().openDCs == 0) {
        return FALSE;
    }
    --stub::Display().openDCs;
    return TRUE;
}
