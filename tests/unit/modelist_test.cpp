#include "describe.h"
#include "display/display.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class ModeListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub::Reset();
        stub::SeedCurrentMode({1024, 768, 32, 60});
        Settings = SettingsRecord{640, false, false};
        std::vector<DisplayMode>().swap(ModeList);
    }
    void TearDown() override
    {
        Settings = SettingsRecord{640, false, false};
        std::vector<DisplayMode>().swap(ModeList);
    }
};

// Four modes that each differ from A in one field only, so that a relation
// that skips a field shows up.
DisplayMode A(std::uint32_t frequency) { return DisplayMode{1024, 768, frequency, 32}; }
DisplayMode B(std::uint32_t frequency) { return DisplayMode{1024, 768, frequency, 16}; }
DisplayMode C(std::uint32_t frequency) { return DisplayMode{1024, 600, frequency, 32}; }
DisplayMode D(std::uint32_t frequency) { return DisplayMode{800, 768, frequency, 32}; }

const std::uint32_t MaxRate = 0xFFFFFFFFu;

const std::vector<stub::Mode> ExampleDisplay = {
    {640, 480, 32, 60},   {640, 480, 32, 75},  {800, 600, 32, 60},
    {800, 600, 32, 75},   {1280, 1024, 32, 60}, {1024, 768, 32, 60},
    {1024, 768, 32, 70},  {1024, 768, 32, 75},  {640, 480, 16, 85},
};

std::vector<std::string> EnumerationArgs()
{
    std::vector<std::string> args;
    for (const stub::Call& call : stub::Calls()) {
        if (call.name == "EnumDisplaySettingsA" && call.args != "(null) 4294967295") {
            args.push_back(call.args);
        }
    }
    return args;
}

struct RelationCase {
    DisplayMode a;
    DisplayMode b;
    bool expected;
};

const RelationCase RelationCases[] = {
    {A(60), A(75), true},       {A(75), A(60), false},     {A(60), A(60), false},
    {B(60), A(75), false},      {A(60), B(75), false},     {C(60), A(75), false},
    {A(60), C(75), false},      {D(60), A(75), false},     {A(60), D(75), false},
    {A(0), A(1), true},         {A(1), A(MaxRate), true},  {A(MaxRate), A(1), false},
};

struct SettingsCase {
    const char* name;
    std::uint32_t minWidth;
    bool showNonStdRatio;
};

const SettingsCase SettingsCases[] = {
    {"defaults", 640, false},
    {"low resolutions", 0, false},
    {"non-4:3 shown", 640, true},
};

struct FilterCase {
    std::uint32_t width;
    std::uint32_t height;
    bool kept[3]; // under SettingsCases, in order
};

const FilterCase FilterCases[] = {
    {640, 480, {true, true, true}},
    {1024, 768, {true, true, true}},
    {1280, 960, {true, true, true}},
    {1600, 1200, {true, true, true}},
    {320, 240, {false, true, false}},
    {512, 384, {false, true, false}},
    {1280, 1024, {false, false, true}},
    {720, 480, {false, false, true}},
    {1280, 720, {false, false, true}},
    {1920, 1080, {false, false, true}},
    {320, 200, {false, false, false}},
    // 4:3 just under the minimum width.
    {636, 477, {false, true, false}},
    // Products taken modulo 2^32: 640*3 and 1073742304*4 are both 1920 there,
    // and 2863311532*3 wraps to 4.
    {640, 1073742304u, {true, true, true}},
    {2863311532u, 1, {true, true, true}},
    // A width above 2^31 is wide, not negative.
    {0x80000000u, 1000, {false, false, true}},
};

struct FoldCase {
    std::vector<DisplayMode> added;
    std::vector<DisplayMode> expected;
};

const FoldCase FoldCases[] = {
    {{A(60), A(75), A(85)}, {A(85)}},
    {{A(85), A(75), A(60)}, {A(85), A(75), A(60)}},
    {{A(60), A(85), A(75)}, {A(85), A(75)}},
    // A mode listed again, as drivers list each scaling variant, is one entry.
    {{A(60), A(60)}, {A(60)}},
    {{A(60), A(60), A(75), A(75)}, {A(75)}},
    {{A(85), A(60), A(85)}, {A(85), A(60)}},
    {{A(85), A(60), A(60), A(75), A(85)}, {A(85), A(75)}},
    {{A(60), B(60), A(60), B(60)}, {A(60), B(60)}},
    {{A(75), A(60), A(100)}, {A(100), A(60)}},
    {{A(85), A(60), A(75)}, {A(85), A(75)}},
    // Other modes in between neither take the rate nor stop the walk.
    {{A(60), B(75), A(85)}, {A(85), B(75)}},
    {{B(60), A(60), A(75)}, {B(60), A(75)}},
    {{C(60), D(60), A(75)}, {C(60), D(60), A(75)}},
    {{A(0), A(60)}, {A(60)}},
    {{A(1), A(MaxRate)}, {A(MaxRate)}},
    {{A(MaxRate), A(1)}, {A(MaxRate), A(1)}},
};

struct SortCase {
    std::vector<DisplayMode> before;
    std::vector<DisplayMode> after;
};

const SortCase SortCases[] = {
    {{A(85), A(75), A(60)}, {A(60), A(75), A(85)}},
    {{A(75), A(85), A(60)}, {A(60), A(75), A(85)}},
    {{A(85), B(60), A(75)}, {A(75), A(85), B(60)}},
    {{B(60), A(85), A(75)}, {B(60), A(75), A(85)}},
    {{B(60), A(85), A(60), A(75)}, {B(60), A(60), A(75), A(85)}},
    {{C(50), A(85), B(60), A(75)}, {C(50), A(85), B(60), A(75)}},
    {{A(60), B(75), A(85), B(60)}, {A(60), B(75), A(85), B(60)}},
    {{A(60), A(60)}, {A(60), A(60)}},
    {{}, {}},
    {{A(60)}, {A(60)}},
    {{A(85), D(60), A(75)}, {A(75), A(85), D(60)}},
    {{A(85), B(60), C(70), A(60)}, {A(60), A(85), B(60), C(70)}},
    {{B(60), A(85), A(75), B(50), A(70)}, {B(50), B(60), A(70), A(75), A(85)}},
    {{A(60), B(70), A(85), A(75)}, {A(60), B(70), A(75), A(85)}},
    {{A(60), A(85), A(85), A(75)}, {A(60), A(75), A(85), A(85)}},
    {{A(MaxRate), A(1)}, {A(1), A(MaxRate)}},
    {{A(75), A(0)}, {A(0), A(75)}},
};

} // namespace

TEST_F(ModeListTest, LowerRefreshNeedsTheSameModeAndALowerRate)
{
    for (std::size_t i = 0; i < sizeof RelationCases / sizeof RelationCases[0]; ++i) {
        const RelationCase& c = RelationCases[i];
        EXPECT_EQ(c.expected, LowerRefresh(c.a, c.b))
            << "case " << i << ": " << Describe(c.a) << " against " << Describe(c.b);
    }
}

TEST_F(ModeListTest, FiltersKeepWhatEachSettingAdmits)
{
    for (std::size_t s = 0; s < 3; ++s) {
        for (std::size_t i = 0; i < sizeof FilterCases / sizeof FilterCases[0]; ++i) {
            const FilterCase& c = FilterCases[i];
            SCOPED_TRACE("settings " + std::string(SettingsCases[s].name) + ", case " + std::to_string(i) +
                         ": " + std::to_string(c.width) + "x" + std::to_string(c.height));
            stub::Reset();
            stub::SeedCurrentMode({1024, 768, 32, 60});
            stub::SeedModes({{c.width, c.height, 32, 60}});
            Settings.minWidth = SettingsCases[s].minWidth;
            Settings.showNonStdRatio = SettingsCases[s].showNonStdRatio;
            RebuildModeList();
            const std::vector<DisplayMode> expected =
                c.kept[s] ? std::vector<DisplayMode>{{c.width, c.height, 60, 32}} : std::vector<DisplayMode>{};
            EXPECT_EQ(Describe(expected), Describe(ModeList));
        }
    }
}

TEST_F(ModeListTest, ModesAtAnotherDepthAreDroppedWhateverTheSettings)
{
    const DWORD depths[] = {8, 16, 24, 32};
    for (std::size_t s = 0; s < 3; ++s) {
        for (DWORD current : depths) {
            SCOPED_TRACE("settings " + std::string(SettingsCases[s].name) + ", current depth " +
                         std::to_string(current));
            stub::Reset();
            stub::SeedCurrentMode({1024, 768, current, 60});
            std::vector<stub::Mode> modes;
            for (DWORD depth : depths) {
                if (depth != current) {
                    modes.push_back({640, 480, depth, 60});
                    modes.push_back({1024, 768, depth, 75});
                }
            }
            stub::SeedModes(modes);
            Settings.minWidth = SettingsCases[s].minWidth;
            Settings.showNonStdRatio = SettingsCases[s].showNonStdRatio;
            ModeList = {A(60)}; // stale: a rebuild that keeps it fails
            RebuildModeList();
            EXPECT_EQ("[]", Describe(ModeList));
        }
    }
}

TEST_F(ModeListTest, FoldingRaisesTheFirstLowerRateEntryOrAppends)
{
    for (std::size_t i = 0; i < sizeof FoldCases / sizeof FoldCases[0]; ++i) {
        const FoldCase& c = FoldCases[i];
        ModeList.clear();
        for (const DisplayMode& mode : c.added) {
            AddOrReplaceMode(mode);
        }
        EXPECT_EQ(Describe(c.expected), Describe(ModeList)) << "case " << i << ": added " << Describe(c.added);
    }
}

TEST_F(ModeListTest, SortIsTheInsertionPassUnderLowerRefresh)
{
    for (std::size_t i = 0; i < sizeof SortCases / sizeof SortCases[0]; ++i) {
        const SortCase& c = SortCases[i];
        ModeList = c.before;
        SortModeList();
        EXPECT_EQ(Describe(c.after), Describe(ModeList)) << "case " << i << ": before " << Describe(c.before);
    }
}

TEST_F(ModeListTest, DefaultsOnTheExampleDisplayOfferEachModeAtItsTopRate)
{
    stub::SeedModes(ExampleDisplay);
    RebuildModeList();
    EXPECT_EQ("[640x480x32@75, 800x600x32@75, 1024x768x32@75]", Describe(ModeList));
}

TEST_F(ModeListTest, NonStandardRatioTakesItsPlaceInEnumerationOrder)
{
    stub::SeedModes(ExampleDisplay);
    Settings.showNonStdRatio = true;
    RebuildModeList();
    EXPECT_EQ("[640x480x32@75, 800x600x32@75, 1280x1024x32@60, 1024x768x32@75]", Describe(ModeList));
}

TEST_F(ModeListTest, RateOrderOfTheEnumerationDecidesHowManyEntriesRemain)
{
    stub::SeedModes({{1024, 768, 32, 85}, {1024, 768, 32, 75}, {1024, 768, 32, 60}});
    RebuildModeList();
    EXPECT_EQ("[1024x768x32@60, 1024x768x32@75, 1024x768x32@85]", Describe(ModeList)) << "descending rates";

    stub::SeedModes({{1024, 768, 32, 60}, {1024, 768, 32, 75}, {1024, 768, 32, 85}});
    RebuildModeList();
    EXPECT_EQ("[1024x768x32@85]", Describe(ModeList)) << "ascending rates";

    stub::SeedModes({{1024, 768, 32, 75}, {1024, 768, 32, 75}});
    RebuildModeList();
    EXPECT_EQ("[1024x768x32@75]", Describe(ModeList)) << "one rate twice";

    // A TV: 1280x960 interlaced only at 30 Hz, 1024x768 at 30 Hz both ways,
    // 1152x864 only interlaced.
    stub::SeedModes({{1280, 960, 32, 60}, {1280, 960, 32, 30, DM_INTERLACED}, {1024, 768, 32, 30, DM_INTERLACED},
                     {1024, 768, 32, 30}, {1152, 864, 32, 60, DM_INTERLACED}});
    RebuildModeList();
    EXPECT_EQ("[1280x960x32@60, 1024x768x32@30]", Describe(ModeList)) << "interlaced modes";

    // Default, stretched and centred: the driver's whole list three times,
    // each size's rates three times, each mode three times in a row. Each is
    // the list the driver gives listing its modes once.
    std::vector<stub::Mode> wholeList;
    std::vector<stub::Mode> sizeRates;
    std::vector<stub::Mode> eachMode;
    for (int variant = 0; variant < 3; ++variant) {
        wholeList.insert(wholeList.end(), ExampleDisplay.begin(), ExampleDisplay.end());
    }
    for (std::size_t first = 0; first < ExampleDisplay.size();) {
        std::size_t end = first + 1;
        while (end < ExampleDisplay.size() && ExampleDisplay[end].width == ExampleDisplay[first].width &&
               ExampleDisplay[end].bitsPerPel == ExampleDisplay[first].bitsPerPel) {
            ++end;
        }
        for (int variant = 0; variant < 3; ++variant) {
            sizeRates.insert(sizeRates.end(), ExampleDisplay.begin() + first, ExampleDisplay.begin() + end);
        }
        first = end;
    }
    for (const stub::Mode& mode : ExampleDisplay) {
        eachMode.insert(eachMode.end(), 3, mode);
    }
    const std::pair<const char*, std::vector<stub::Mode>> repeated[] = {
        {"the whole list three times", wholeList},
        {"each size's rates three times", sizeRates},
        {"each mode three times in a row", eachMode},
    };
    for (const auto& enumeration : repeated) {
        stub::SeedModes(enumeration.second);
        RebuildModeList();
        EXPECT_EQ("[640x480x32@75, 800x600x32@75, 1024x768x32@75]", Describe(ModeList)) << enumeration.first;
    }
}

TEST_F(ModeListTest, FailedFirstEnumerationLeavesTheListEmpty)
{
    ModeList = {A(60), A(75)};
    RebuildModeList();
    EXPECT_EQ("[]", Describe(ModeList));
    EXPECT_EQ(std::vector<std::string>{"(null) 0"}, EnumerationArgs());
}

TEST_F(ModeListTest, EnumerationVisitsEveryIndexFromZeroUntilTheFirstFailure)
{
    stub::SeedModes({{640, 480, 32, 60}, {320, 200, 32, 70}, {800, 600, 16, 60}, {1280, 1024, 32, 60},
                     {800, 600, 32, 85}});
    RebuildModeList();
    const std::vector<std::string> expected = {"(null) 0", "(null) 1", "(null) 2", "(null) 3", "(null) 4",
                                               "(null) 5"};
    EXPECT_EQ(expected, EnumerationArgs());
    EXPECT_EQ("[640x480x32@60, 800x600x32@85]", Describe(ModeList));
}

TEST_F(ModeListTest, SecondRebuildGivesTheSameList)
{
    std::vector<stub::Mode> modes = ExampleDisplay;
    modes.push_back({1024, 768, 32, 60});
    modes.push_back({1600, 1200, 32, 85});
    modes.push_back({1600, 1200, 32, 60});
    stub::SeedModes(modes);
    Settings.showNonStdRatio = true;
    RebuildModeList();
    const std::string first = Describe(ModeList);
    EXPECT_EQ("[640x480x32@75, 800x600x32@75, 1280x1024x32@60, 1024x768x32@75, 1600x1200x32@60, "
              "1600x1200x32@85]",
              first);
    RebuildModeList();
    EXPECT_EQ(first, Describe(ModeList));
}

TEST_F(ModeListTest, DepthIsReadAfreshAtEachRebuild)
{
    stub::SeedModes({{640, 480, 16, 60}, {640, 480, 32, 75}, {800, 600, 16, 70}, {800, 600, 8, 72}});
    stub::SeedCurrentMode({800, 600, 32, 75});
    RebuildModeList();
    EXPECT_EQ("[640x480x32@75]", Describe(ModeList));

    // The depth is known before the first mode is looked at.
    const std::vector<stub::Call>& calls = stub::Calls();
    std::size_t depthQuery = calls.size();
    std::size_t firstEnumeration = calls.size();
    for (std::size_t i = calls.size(); i-- > 0;) {
        if (calls[i].name == "EnumDisplaySettingsA" && calls[i].args == "(null) 4294967295") {
            depthQuery = i;
        }
        if (calls[i].name == "EnumDisplaySettingsA" && calls[i].args == "(null) 0") {
            firstEnumeration = i;
        }
    }
    EXPECT_LT(depthQuery, firstEnumeration);
    EXPECT_EQ(0, stub::OpenDeviceContexts());

    stub::SeedCurrentMode({800, 600, 16, 75});
    RebuildModeList();
    EXPECT_EQ("[640x480x16@60, 800x600x16@70]", Describe(ModeList));
}

TEST_F(ModeListTest, DepthThatNoModeHasLeavesTheListEmpty)
{
    stub::SeedModes(ExampleDisplay);
    stub::SeedCurrentMode({1024, 768, 24, 60});
    ModeList = {A(60), C(75)};
    RebuildModeList();
    EXPECT_EQ("[]", Describe(ModeList));
}

TEST_F(ModeListTest, RebuildReleasesTheOldStorage)
{
    ModeList.reserve(4096);
    ModeList.assign(100, A(60));
    RebuildModeList();
    EXPECT_EQ(0u, ModeList.size());
    EXPECT_EQ(0u, ModeList.capacity()) << "an empty enumeration must leave no storage behind";

    ModeList.reserve(4096);
    stub::SeedModes(ExampleDisplay);
    RebuildModeList();
    EXPECT_EQ(3u, ModeList.size());
    EXPECT_LT(ModeList.capacity(), 4096u);
}

TEST_F(ModeListTest, ApplyingAnEntryCompletesItInPlaceUntilTheNextRebuild)
{
    stub::SeedModes({{800, 600, 32, 75}, {800, 600, 32, 0}});
    RebuildModeList();
    ASSERT_EQ("[800x600x32@0, 800x600x32@75]", Describe(ModeList));

    EXPECT_EQ(DISP_CHANGE_SUCCESSFUL, ApplyDisplayMode(ModeList[0]));
    EXPECT_EQ("[800x600x32@75, 800x600x32@75]", Describe(ModeList));

    RebuildModeList();
    EXPECT_EQ("[800x600x32@0, 800x600x32@75]", Describe(ModeList));
}
