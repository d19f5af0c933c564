#include "app/app.h"
#include "display/display.h"
#include "stub.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

class Display : public ::testing::Test {
protected:
    void SetUp() override { stub::Reset(); }
};

// Every byte of the record except the members the switch sets must be zero.
void ExpectOnlySwitchMembersSet(const DEVMODEA& devmode)
{
    DEVMODEA cleared = devmode;
    cleared.dmSize = 0;
    cleared.dmFields = 0;
    cleared.dmBitsPerPel = 0;
    cleared.dmPelsWidth = 0;
    cleared.dmPelsHeight = 0;
    cleared.dmDisplayFrequency = 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&cleared);
    for (std::size_t i = 0; i < sizeof cleared; ++i) {
        EXPECT_EQ(0, bytes[i]) << "byte " << i << " of DEVMODEA";
    }
}

void ExpectSwitch(const stub::ModeChange& change, DWORD width, DWORD height, DWORD bpp, DWORD frequency,
                  DWORD flags)
{
    EXPECT_EQ(156, change.devmode.dmSize);
    // DM_DISPLAYFLAGS with dmDisplayFlags 0: progressive, never an interlaced twin.
    EXPECT_EQ(0x7C0000u, change.devmode.dmFields);
    EXPECT_EQ(width, change.devmode.dmPelsWidth);
    EXPECT_EQ(height, change.devmode.dmPelsHeight);
    EXPECT_EQ(bpp, change.devmode.dmBitsPerPel);
    EXPECT_EQ(frequency, change.devmode.dmDisplayFrequency);
    EXPECT_EQ(flags, change.flags);
    ExpectOnlySwitchMembersSet(change.devmode);
}

} // namespace

TEST_F(Display, QueryCurrentModeReadsTheDisplaysSettingsOrElseItsContext)
{
    const std::string current = "EnumDisplaySettingsA (null) 4294967295";
    const std::vector<std::string> context = {"CreateDCA \"DISPLAY\" (null) (null) 0x0", "GetDeviceCaps 8",
                                              "GetDeviceCaps 10", "GetDeviceCaps 116",
                                              "GetDeviceCaps 12", "DeleteDC "};
    std::vector<std::string> fallback = {current};
    fallback.insert(fallback.end(), context.begin(), context.end());
    struct {
        const char* what;
        bool settingsFail;
        unsigned signInScale; // the display is at 150 %
        const char* mode;
        std::vector<std::string> calls;
    } const cases[] = {
        {"the current settings", false, 0, "1920x1080x16@75", {current}},
        {"scaled at sign-in to 100 %, unscaled all the same", false, 100, "1920x1080x16@75", {current}},
        {"no current settings: the display context", true, 0, "1920x1080x16@75", fallback},
        // All a context can tell once the scale changed after sign-in.
        {"no current settings, scaled at sign-in", true, 100, "1280x720x16@75", fallback},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        FindSystemFunction<BOOL(WINAPI*)()>("user32.dll", "SetProcessDPIAware")();
        stub::SeedCurrentMode({1920, 1080, 16, 75});
        stub::SeedDisplayScale(150);
        stub::SeedSignInScale(c.signInScale);
        if (c.settingsFail) {
            stub::FailCurrentSettings();
        }
        const std::size_t mark = stub::Calls().size();
        const DisplayMode mode = QueryCurrentMode();
        EXPECT_EQ(c.mode, std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
                              std::to_string(mode.bitsPerPixel) + "@" + std::to_string(mode.frequency));
        std::vector<std::string> calls;
        for (std::size_t k = mark; k < stub::Calls().size(); ++k) {
            calls.push_back(stub::Calls()[k].name + " " + stub::Calls()[k].args);
        }
        EXPECT_EQ(c.calls, calls);
        EXPECT_EQ(0, stub::OpenDeviceContexts());
    }
}

TEST_F(Display, CompleteRecordIsAppliedWithoutQueryOrEnumeration)
{
    stub::SeedModes({{1024, 768, 32, 85}});
    DisplayMode mode = {1024, 768, 85, 32};
    EXPECT_EQ(DISP_CHANGE_SUCCESSFUL, ApplyDisplayMode(mode));
    const std::vector<std::string> names = {"ChangeDisplaySettingsA"};
    EXPECT_EQ(names, stub::CallNames());
    ASSERT_EQ(1u, stub::ModeChanges().size());
    ExpectSwitch(stub::ModeChanges()[0], 1024, 768, 32, 85, CDS_UPDATEREGISTRY);
    EXPECT_EQ(1024u, mode.width);
    EXPECT_EQ(768u, mode.height);
    EXPECT_EQ(85u, mode.frequency);
    EXPECT_EQ(32u, mode.bitsPerPixel);
}

TEST_F(Display, SafeModeReachesThePlatformAsGiven)
{
    DisplayMode mode = {640, 480, 60, 32};
    ApplyDisplayMode(mode);
    ASSERT_EQ(1u, stub::ModeChanges().size());
    ExpectSwitch(stub::ModeChanges()[0], 640, 480, 32, 60, CDS_UPDATEREGISTRY);
}

TEST_F(Display, DepthIsCompletedBeforeTheRate)
{
    stub::SeedCurrentMode({800, 600, 16, 60});
    stub::SeedModes({{1024, 768, 16, 60}, {1024, 768, 16, 75}, {1024, 768, 16, 70}, {1024, 768, 32, 85}});
    DisplayMode mode = {1024, 768, 0, 0};
    ApplyDisplayMode(mode);
    EXPECT_EQ(16u, mode.bitsPerPixel);
    EXPECT_EQ(75u, mode.frequency);
    // One query, then the whole enumeration from index 0 up to the first failure.
    std::vector<std::string> expected = {"EnumDisplaySettingsA (null) 4294967295"};
    for (int i = 0; i < 5; ++i) {
        expected.push_back("EnumDisplaySettingsA (null) " + std::to_string(i));
    }
    expected.push_back("ChangeDisplaySettingsA 1024x768x16@75 1");
    std::vector<std::string> calls;
    for (const stub::Call& call : stub::Calls()) {
        calls.push_back(call.name + " " + call.args);
    }
    EXPECT_EQ(expected, calls);
    ASSERT_EQ(1u, stub::ModeChanges().size());
    ExpectSwitch(stub::ModeChanges()[0], 1024, 768, 16, 75, CDS_UPDATEREGISTRY);
}

TEST_F(Display, BestFrequencyCases)
{
    struct {
        std::vector<stub::Mode> modes;
        DisplayMode wanted; // frequency ignored on the way in
        DWORD expected;
    } const cases[] = {
        {{{800, 600, 32, 60}, {800, 600, 32, 85}, {800, 600, 32, 75}}, {800, 600, 7, 32}, 85},
        {{{800, 600, 32, 60}, {800, 600, 32, 60}}, {800, 600, 0, 32}, 60},
        {{{800, 600, 16, 85}, {800, 600, 32, 60}}, {800, 600, 0, 32}, 60},
        {{{800, 600, 16, 85}}, {800, 600, 99, 32}, 0},
        {{{1024, 600, 32, 85}, {800, 768, 32, 85}}, {800, 600, 0, 32}, 0},
        {{}, {800, 600, 0, 32}, 0},
        // Rates of 0 or 1 mean the hardware default; they are ordinary values here.
        {{{800, 600, 32, 1}, {800, 600, 32, 0}}, {800, 600, 0, 32}, 1},
        {{{800, 600, 32, 0}}, {800, 600, 0, 32}, 0},
        // Unsigned comparison: a huge rate wins over a small one.
        {{{800, 600, 32, 60}, {800, 600, 32, 0x80000000u}}, {800, 600, 0, 32}, 0x80000000u},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        stub::Reset();
        stub::SeedModes(cases[i].modes);
        DisplayMode mode = cases[i].wanted;
        FindBestFrequency(mode);
        EXPECT_EQ(cases[i].expected, mode.frequency);
        EXPECT_EQ(cases[i].wanted.width, mode.width);
        EXPECT_EQ(cases[i].wanted.height, mode.height);
        EXPECT_EQ(cases[i].wanted.bitsPerPixel, mode.bitsPerPixel);
        EXPECT_EQ(static_cast<int>(cases[i].modes.size()) + 1, stub::CountCalls("EnumDisplaySettingsA"));
    }
}

TEST_F(Display, UnofferedRateIsRequestedAsZeroWithTheFrequencyBitSet)
{
    stub::SeedModes({{800, 600, 16, 60}});
    DisplayMode mode = {1024, 768, 0, 32};
    ApplyDisplayMode(mode);
    EXPECT_EQ(0u, mode.frequency);
    ASSERT_EQ(1u, stub::ModeChanges().size());
    ExpectSwitch(stub::ModeChanges()[0], 1024, 768, 32, 0, CDS_UPDATEREGISTRY);
}

TEST_F(Display, RetryWithoutRegistryOnlyAfterNotUpdatedAndOnlyOnce)
{
    struct {
        std::vector<LONG> results;
        LONG expected;
        std::vector<DWORD> flags;
    } const cases[] = {
        {{DISP_CHANGE_SUCCESSFUL}, DISP_CHANGE_SUCCESSFUL, {1}},
        {{DISP_CHANGE_RESTART}, DISP_CHANGE_RESTART, {1}},
        {{DISP_CHANGE_BADMODE}, DISP_CHANGE_BADMODE, {1}},
        {{DISP_CHANGE_FAILED}, DISP_CHANGE_FAILED, {1}},
        {{DISP_CHANGE_NOTUPDATED, DISP_CHANGE_SUCCESSFUL}, DISP_CHANGE_SUCCESSFUL, {1, 0}},
        {{DISP_CHANGE_NOTUPDATED, DISP_CHANGE_NOTUPDATED, DISP_CHANGE_SUCCESSFUL}, DISP_CHANGE_NOTUPDATED, {1, 0}},
        {{DISP_CHANGE_NOTUPDATED, DISP_CHANGE_BADMODE}, DISP_CHANGE_BADMODE, {1, 0}},
        {{DISP_CHANGE_NOTUPDATED, DISP_CHANGE_RESTART}, DISP_CHANGE_RESTART, {1, 0}},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        stub::Reset();
        stub::ScriptChangeResults(cases[i].results);
        DisplayMode mode = {800, 600, 75, 16};
        EXPECT_EQ(cases[i].expected, ApplyDisplayMode(mode));
        ASSERT_EQ(cases[i].flags.size(), stub::ModeChanges().size());
        for (std::size_t k = 0; k < cases[i].flags.size(); ++k) {
            ExpectSwitch(stub::ModeChanges()[k], 800, 600, 16, 75, cases[i].flags[k]);
        }
    }
}

TEST_F(Display, FilledValuesStayAfterAFailedSwitch)
{
    stub::SeedCurrentMode({640, 480, 16, 60});
    stub::SeedModes({{800, 600, 16, 72}});
    stub::ScriptChangeResults({DISP_CHANGE_BADMODE});
    DisplayMode mode = {800, 600, 0, 0};
    EXPECT_EQ(DISP_CHANGE_BADMODE, ApplyDisplayMode(mode));
    EXPECT_EQ(16u, mode.bitsPerPixel);
    EXPECT_EQ(72u, mode.frequency);
    stub::Reset();
    ApplyDisplayMode(mode);
    const std::vector<std::string> names = {"ChangeDisplaySettingsA"};
    EXPECT_EQ(names, stub::CallNames());
}
