#include "app/app.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"
#include "stub_window.h"
#include "tray/menu.h"
#include "tray/tray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// As the stand-in writes numbers and handles into its call log.
std::string Hex(std::uintptr_t value)
{
    char text[32];
    (void)std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

struct Expected {
    UINT flags;
    UINT_PTR id;
    const char* text;
    bool checked;
};

const Expected Separator = {MF_SEPARATOR, 0, "", false};

const std::vector<Expected> SettingsItems = {
    {MF_STRING, CMD_LOW_RES, "Display low resolutions", false},
    {MF_STRING, CMD_NONSTD_RATIO, "Display not 4/3 resolutions", false},
    {MF_STRING, CMD_AUTOSTART, "Autostart", false},
    Separator,
    {MF_STRING, CMD_SAVE, "Save settings", false},
};

void ExpectItems(const std::vector<Expected>& expected, const stub::Menu& menu)
{
    ASSERT_EQ(expected.size(), menu.items.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("position " + std::to_string(i + 1) + " \"" + expected[i].text + "\"");
        const stub::MenuItem& item = menu.items[i];
        EXPECT_EQ(expected[i].flags, item.flags);
        EXPECT_EQ(expected[i].id, item.id);
        EXPECT_EQ(expected[i].text, item.text);
        EXPECT_EQ(expected[i].checked, item.checked);
        EXPECT_TRUE(item.submenu.empty());
    }
}

// The top level around the mode items, and the "Settings" submenu.
void ExpectFrame(const stub::Menu& menu, const std::vector<Expected>& modeItems,
                 const std::vector<Expected>& settingsItems)
{
    EXPECT_TRUE(menu.popup) << "the top level comes from CreatePopupMenu";
    ASSERT_EQ(modeItems.size() + 4, menu.items.size());
    const stub::MenuItem& settings = menu.items[0];
    EXPECT_EQ(static_cast<UINT>(MF_POPUP), settings.flags);
    EXPECT_EQ("Settings", settings.text);
    EXPECT_FALSE(settings.checked);
    ASSERT_EQ(1u, settings.submenu.size());
    const stub::Menu& submenu = settings.submenu[0];
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(submenu.handle), settings.id);
    EXPECT_FALSE(submenu.popup) << "the submenu comes from CreateMenu";
    {
        SCOPED_TRACE("Settings submenu");
        ExpectItems(settingsItems, submenu);
    }

    std::vector<Expected> rest = {Separator};
    rest.insert(rest.end(), modeItems.begin(), modeItems.end());
    rest.push_back(Separator);
    rest.push_back(Expected{MF_STRING, CMD_EXIT, "Exit", false});
    stub::Menu below = menu;
    below.items.erase(below.items.begin());
    SCOPED_TRACE("top level below Settings");
    ExpectItems(rest, below);
}

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub::Reset();
        Settings = SettingsRecord{640, false, false};
        ModeList.clear();
        std::memset(&TrayIconData, 0, sizeof TrayIconData);
        InstanceMutex = nullptr;
        stub::SeedCurrentMode(stub::Mode{1600, 1200, 32, 60});
    }

    // Builds a menu for the mode the stand-in's display is in, reads it and
    // destroys it, which must free the submenu too.
    static stub::Menu Build()
    {
        HMENU menu = BuildTrayMenu(QueryCurrentMode());
        stub::Menu tree = stub::ReadMenu(menu);
        EXPECT_EQ(menu, tree.handle);
        EXPECT_EQ(TRUE, DestroyMenu(menu));
        EXPECT_EQ(0, stub::LiveMenus()) << "a menu outlived DestroyMenu of the top level";
        return tree;
    }
};

TEST_F(TrayMenu, EmptyListGivesTwoSeparatorsInARow)
{
    const stub::Menu menu = Build();
    ExpectFrame(menu, {}, SettingsItems);
}

TEST_F(TrayMenu, ThreeEntriesInListOrder)
{
    ModeList = {{1280, 960, 85, 32}, {1024, 768, 75, 32}, {800, 600, 60, 32}};
    const stub::Menu menu = Build();
    ExpectFrame(menu,
                {{MF_STRING, 6, "1280x960 85 Hz", false},
                 {MF_STRING, 7, "1024x768 75 Hz", false},
                 {MF_STRING, 8, "800x600 60 Hz", false}},
                SettingsItems);
}

TEST_F(TrayMenu, LabelsAreSignedDecimalsAndFitTheirBuffer)
{
    struct Case {
        DisplayMode mode;
        const char* label;
    };
    const std::vector<Case> cases = {
        {{1024, 768, 75, 32}, "1024x768 75 Hz"},
        {{640, 480, 0, 32}, "640x480 0 Hz"},
        {{99999, 99999, 999, 32}, "99999x99999 999 Hz"},
        {{0xFFFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 32}, "-1x-2147483648 -2 Hz"},
    };
    for (const Case& c : cases) {
        ModeList.push_back(c.mode);
    }
    const stub::Menu menu = Build();
    ASSERT_EQ(cases.size() + 4, menu.items.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].label, menu.items[i + 2].text) << "case " << i;
    }
}

TEST_F(TrayMenu, PlatformCallsInOrderWithoutALookAtTheDisplay)
{
    ModeList = {{1024, 768, 75, 32}, {800, 600, 60, 32}};
    HMENU built = BuildTrayMenu(DisplayMode{800, 600, 60, 32});
    const stub::Menu menu = stub::ReadMenu(built);
    DestroyMenu(built);
    const std::vector<std::string> names = stub::CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ("CreatePopupMenu", names[0]);
    EXPECT_EQ("CreateMenu", names[1]);
    EXPECT_EQ(0, stub::CountCalls("CreateDCA")) << "the menu checks the mode it is given";

    const std::string topLevel = Hex(reinterpret_cast<std::uintptr_t>(menu.handle));
    const std::string lastModeItem = topLevel + " 0x0 0x7 \"800x600 60 Hz\"";
    const std::string secondSeparator = topLevel + " 0x800 0x0 (null)";
    std::size_t check = 0;
    std::size_t lastMode = 0;
    std::size_t separatorAfter = 0;
    for (std::size_t i = 0; i < stub::Calls().size(); ++i) {
        const stub::Call& call = stub::Calls()[i];
        if (call.name == "CheckMenuItem" && call.args == topLevel + " 7 0x8") {
            check = i;
        } else if (call.name == "AppendMenuA" && call.args == lastModeItem) {
            lastMode = i;
        } else if (call.name == "AppendMenuA" && call.args == secondSeparator) {
            separatorAfter = i; // the last separator of the top level
        }
    }
    ASSERT_NE(0u, lastMode) << "no AppendMenuA " << lastModeItem;
    EXPECT_LT(lastMode, check) << "the mode item checked once every mode item is there";
    EXPECT_LT(check, separatorAfter);
}

TEST_F(TrayMenu, CurrentModeIsMatchedOnSizeAndDepthThenOnRate)
{
    const std::vector<DisplayMode> list = {
        {800, 600, 75, 32}, {1024, 768, 60, 32}, {1024, 768, 85, 32}, {1280, 1024, 60, 32}};
    // As a display lists a size's rates highest first, every rate kept.
    const std::vector<DisplayMode> falling = {
        {800, 600, 56, 32}, {800, 600, 60, 32}, {800, 600, 72, 32}, {800, 600, 75, 32}, {800, 600, 85, 32}};
    struct Case {
        const char* what;
        std::vector<DisplayMode> list;
        stub::Mode current; // width, height, depth, frequency
        int checked;        // index into the list, -1 for none
    };
    const std::vector<Case> cases = {
        {"same mode", list, {800, 600, 32, 75}, 0},
        {"only entry of its size, another refresh rate", list, {1280, 1024, 32, 75}, 3},
        {"second of two of a size, at the current rate", list, {1024, 768, 32, 85}, 2},
        {"first of two of a size, at the current rate", list, {1024, 768, 32, 60}, 1},
        {"two of a size, neither at the current rate: the first", list, {1024, 768, 32, 70}, 1},
        {"one item per rate, the display at a middle one", falling, {800, 600, 32, 72}, 2},
        {"one item per rate, at the highest", falling, {800, 600, 32, 85}, 4},
        {"equal rates on two entries: the first of them",
         {{800, 600, 60, 32}, {800, 600, 75, 32}, {800, 600, 75, 32}}, {800, 600, 32, 75}, 1},
        {"the current rate at another size only", list, {800, 600, 32, 85}, 0},
        {"the hardware default rate 0: the first of its size", list, {1024, 768, 32, 0}, 1},
        {"the hardware default rate 1: the first of its size", list, {1024, 768, 32, 1}, 1},
        {"another depth", list, {800, 600, 16, 75}, -1},
        {"same width, other height", list, {1024, 600, 32, 60}, -1},
        {"same height, other width", list, {800, 768, 32, 60}, -1},
        {"not listed", list, {1600, 1200, 32, 60}, -1},
        {"empty list", {}, {800, 600, 32, 75}, -1},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        SetUp();
        ModeList = c.list;
        stub::SeedCurrentMode(c.current);
        const stub::Menu menu = Build();
        ASSERT_EQ(c.list.size() + 4, menu.items.size());
        const std::string byCommand =
            Hex(reinterpret_cast<std::uintptr_t>(menu.handle)) + " " +
            std::to_string(CMD_MODE_BASE + c.checked) + " " + Hex(MF_BYCOMMAND | MF_CHECKED);
        int checks = 0;
        for (const stub::Call& call : stub::Calls()) {
            checks += call.name == "CheckMenuItem" && call.args == byCommand ? 1 : 0;
        }
        EXPECT_EQ(c.checked >= 0 ? 1 : 0, checks) << "CheckMenuItem " << byCommand;
        for (std::size_t item = 1; item < menu.items.size(); ++item) {
            const bool expected = c.checked >= 0 && item == static_cast<std::size_t>(c.checked) + 2;
            EXPECT_EQ(expected, menu.items[item].checked) << "top-level position " << item + 1;
        }
        EXPECT_FALSE(menu.items[0].submenu[0].items[0].checked) << "minWidth 640";
    }
}

TEST_F(TrayMenu, SettingsCheckMarks)
{
    struct Case {
        SettingsRecord settings;
        bool lowRes;
        bool nonStd;
        bool autostart;
    };
    const std::vector<Case> cases = {
        {{640, false, false}, false, false, false},
        {{0, false, false}, true, false, false},
        {{640, true, false}, false, true, false},
        {{640, false, true}, false, false, true},
        {{0, true, true}, true, true, true},
        {{639, false, false}, true, false, false},
        {{641, false, false}, false, false, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": minWidth " +
                     std::to_string(c.settings.minWidth));
        SetUp();
        Settings = c.settings;
        ModeList = {{1024, 768, 75, 32}};
        const stub::Menu menu = Build();
        ExpectFrame(menu, {{MF_STRING, 6, "1024x768 75 Hz", false}},
                    {{MF_STRING, CMD_LOW_RES, "Display low resolutions", c.lowRes},
                     {MF_STRING, CMD_NONSTD_RATIO, "Display not 4/3 resolutions", c.nonStd},
                     {MF_STRING, CMD_AUTOSTART, "Autostart", c.autostart},
                     Separator,
                     {MF_STRING, CMD_SAVE, "Save settings", false}});
        EXPECT_EQ(c.settings.minWidth, Settings.minWidth) << "the menu changed Settings";
    }
}

TEST_F(TrayMenu, ModeItemsStopWhereIdentifiersLeaveSixteenBits)
{
    stub::SeedCurrentMode(stub::Mode{1024, 768, 32, 60});
    ModeList.assign(0x10000 - CMD_MODE_BASE + 1, DisplayMode{1024, 768, 75, 32});
    const stub::Menu menu = Build();
    const std::size_t modeItems = 0x10000 - CMD_MODE_BASE;
    ASSERT_EQ(modeItems + 4, menu.items.size());
    EXPECT_EQ(static_cast<UINT_PTR>(0xFFFF), menu.items[modeItems + 1].id);
    EXPECT_TRUE(menu.items[2].checked) << "the first matching entry";
    EXPECT_EQ(static_cast<UINT_PTR>(CMD_EXIT), menu.items.back().id);
}

// The menu code relies on these Windows behaviours of the stand-in.
TEST_F(TrayMenu, StandInMenusFindCommandsInSubmenusAndFreeThemWithTheirParent)
{
    HMENU top = CreatePopupMenu();
    HMENU sub = CreateMenu();
    ASSERT_EQ(TRUE, AppendMenuA(sub, MF_STRING, 4, "inner"));
    ASSERT_EQ(TRUE, AppendMenuA(top, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sub"));
    ASSERT_EQ(TRUE, AppendMenuA(top, MF_STRING, 6, "outer"));
    EXPECT_EQ(static_cast<DWORD>(MF_UNCHECKED), CheckMenuItem(top, 4, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(static_cast<DWORD>(MF_CHECKED), CheckMenuItem(sub, 4, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(0xFFFFFFFFu, CheckMenuItem(top, 5, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_TRUE(stub::ReadMenu(top).items[0].submenu.at(0).items.at(0).checked);
    EXPECT_FALSE(stub::ReadMenu(top).items[1].checked);

    EXPECT_EQ(2, stub::LiveMenus());
    EXPECT_EQ(TRUE, DestroyMenu(top));
    EXPECT_EQ(0, stub::LiveMenus());
    EXPECT_EQ(FALSE, AppendMenuA(sub, MF_STRING, 7, "late"));
    EXPECT_EQ(FALSE, DestroyMenu(sub));
    EXPECT_EQ(nullptr, stub::ReadMenu(top).handle);
}

// A display's modes as a program printed them on a real machine, entry by
// entry in enumeration order, with the mode it ran in: tests/recorded.
struct Recording {
    std::vector<stub::Mode> modes;
    stub::Mode current;
};

Recording ReadRecording(const std::filesystem::path& file)
{
    Recording recording = {{}, {0, 0, 0, 0}};
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const bool current = line.rfind("# current:", 0) == 0;
        if (line[0] == '#' && !current) {
            continue;
        }
        std::istringstream fields(current ? line.substr(10) : line);
        stub::Mode mode = {0, 0, 0, 0};
        fields >> mode.width >> mode.height >> mode.bitsPerPel >> mode.frequency;
        EXPECT_FALSE(fields.fail()) << file << ": " << line;
        std::string mark;
        fields >> mark;
        mode.displayFlags = mark == "i" ? DM_INTERLACED : 0;
        if (current) {
            recording.current = mode;
        } else {
            recording.modes.push_back(mode);
        }
    }
    return recording;
}

// The mode items of a menu built for the recording's current mode, the
// checked one in brackets.
std::vector<std::string> RecordedItems(const std::vector<stub::Mode>& modes, const stub::Mode& current)
{
    stub::SeedModes(modes);
    stub::SeedCurrentMode(current);
    RebuildModeList();
    HMENU menu = BuildTrayMenu(QueryCurrentMode());
    const stub::Menu tree = stub::ReadMenu(menu);
    DestroyMenu(menu);
    std::vector<std::string> items;
    for (const stub::MenuItem& item : tree.items) {
        if (item.id >= CMD_MODE_BASE && (item.flags & (MF_POPUP | MF_SEPARATOR)) == 0) {
            items.push_back(item.checked ? "[" + item.text + "]" : item.text);
        }
    }
    return items;
}

std::string Label(const stub::Mode& mode)
{
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + " " + std::to_string(mode.frequency) +
           " Hz";
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

} // namespace

TEST_F(TrayMenu, RecordedDisplaysListEachModeOnce)
{
    // Worked out by hand, every mode shown.
    const std::pair<const char*, const char*> handWorked[] = {
        {"intel-hd3000-win10.txt", "720x480 60 Hz, [720x576 60 Hz], 768x480 59 Hz"},
        {"intel-hd4600-three-monitors.txt", "320x200 60 Hz, 320x240 60 Hz, [400x300 60 Hz]"},
        {"nvidia-gtx750ti-acer-e202hl.txt", "[1600x900 60 Hz], 640x480 75 Hz, 720x480 60 Hz"},
        {"unknown-pyglet-caffeinepills.txt", "1280x600 48 Hz, 1280x600 60 Hz, 1152x864 48 Hz, [1152x864 60 Hz], "
                                             "1024x768 48 Hz, 1024x768 60 Hz, 800x600 60 Hz"},
    };
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(QUORIN_RECORDED_DIR)) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_GE(files.size(), sizeof handWorked / sizeof handWorked[0]);
    int worked = 0;
    for (const std::string& file : files) {
        const Recording recorded = ReadRecording(std::filesystem::path(QUORIN_RECORDED_DIR) / file);
        ASSERT_FALSE(recorded.modes.empty()) << file;
        std::vector<stub::Mode> once;
        std::set<std::string> progressive;
        for (const stub::Mode& mode : recorded.modes) {
            const bool repeat = std::any_of(once.begin(), once.end(), [&](const stub::Mode& m) {
                return m.width == mode.width && m.height == mode.height && m.bitsPerPel == mode.bitsPerPel &&
                       m.frequency == mode.frequency && m.displayFlags == mode.displayFlags;
            });
            if (!repeat) {
                once.push_back(mode);
            }
            if (mode.displayFlags == 0 && mode.bitsPerPel == recorded.current.bitsPerPel) {
                progressive.insert(Label(mode));
            }
        }
        const std::string current = Label(recorded.current);
        for (const SettingsRecord& settings : {SettingsRecord{640, false, false}, SettingsRecord{0, true, false}}) {
            SCOPED_TRACE(file + (settings.minWidth == 0 ? ", every mode shown" : ", the defaults"));
            Settings = settings;
            const std::vector<std::string> items = RecordedItems(recorded.modes, recorded.current);
            EXPECT_EQ(Joined(items), Joined(RecordedItems(once, recorded.current))) << "every repeat removed";
            std::set<std::string> labels;
            bool sizeListed = false;
            for (const std::string& item : items) {
                const std::string label = item[0] == '[' ? item.substr(1, item.size() - 2) : item;
                EXPECT_TRUE(labels.insert(label).second) << label << " twice in " << Joined(items);
                EXPECT_EQ(1u, progressive.count(label)) << label << " only interlaced, or never listed";
                sizeListed = sizeListed || label.rfind(current.substr(0, current.find(' ') + 1), 0) == 0;
            }
            if (sizeListed) {
                EXPECT_NE(items.end(), std::find(items.begin(), items.end(), "[" + current + "]")) << Joined(items);
            }
            for (const auto& expected : handWorked) {
                if (settings.minWidth == 0 && file == expected.first) {
                    EXPECT_EQ(expected.second, Joined(items));
                    ++worked;
                }
            }
        }
    }
    EXPECT_EQ(static_cast<int>(sizeof handWorked / sizeof handWorked[0]), worked) << "a worked-out recording is missing";
}
