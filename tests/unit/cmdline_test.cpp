#include "app/app.h"
#include "describe.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"
#include "stub_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char UsageText[] =
    "quorin -safe\n"
    "      sets the display mode to 640x480x(32 bits/pixel) at 60 Hz\n"
    "quorin <width>x<height>[x<bpp>][@<freq>]\n"
    "      sets a custom display mode\n";

std::vector<std::string> Split(const std::string& text, int& count)
{
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    const std::vector<char*> list = SplitArguments(copy.data(), count);
    std::vector<std::string> tokens;
    EXPECT_EQ(static_cast<std::size_t>(count) + 1, list.size()) << "list length for \"" << text << "\"";
    EXPECT_EQ(nullptr, list.back()) << "no null entry for \"" << text << "\"";
    EXPECT_STREQ("", list.front()) << "placeholder for \"" << text << "\"";
    for (std::size_t i = 1; i + 1 < list.size(); ++i) {
        tokens.push_back(list[i]);
    }
    return tokens;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub::Reset();
        Settings = SettingsRecord{640, false, false};
        ModeList.clear();
        InstanceMutex = nullptr;
    }
};

} // namespace

TEST(SplitArguments, Tokens)
{
    struct {
        const char* text;
        std::vector<std::string> tokens;
    } const cases[] = {
        {"", {}},
        {"     ", {}},
        {"800x600", {"800x600"}},
        {"  800x600  ", {"800x600"}},
        {"800x600 16", {"800x600", "16"}},
        {"a   b    c", {"a", "b", "c"}},
        {"\"800x600\"", {"800x600"}},
        {"\"800x600 x16\"", {"800x600 x16"}},
        {"800x600\t16", {"800x600\t16"}},
        {"\t", {"\t"}},
        {"\"\"", {""}},
        {"\"", {""}},
        {"a\"b c\"d e", {"a\"b c\"d", "e"}},
        {"\"a b\" c", {"a b", "c"}},
        {"x\"y\"", {"x\"y"}},
        {"\"\"\"", {"\""}},
        {"\"a", {"a"}},
        {"a\"", {"a"}},
        {"\" \"", {" "}},
        {"\"\" \"\"", {"", ""}},
        {"\"open quote goes on", {"open quote goes on"}},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": [" + cases[i].text + "]");
        int count = -1;
        const std::vector<std::string> tokens = Split(cases[i].text, count);
        EXPECT_EQ(cases[i].tokens, tokens);
        EXPECT_EQ(static_cast<int>(cases[i].tokens.size()) + 1, count);
    }
}

TEST(SplitArguments, CutsTheTextInPlace)
{
    char text[] = "ab \"c d\" e";
    int count = 0;
    const std::vector<char*> list = SplitArguments(text, count);
    ASSERT_EQ(4, count);
    EXPECT_EQ(text, list[1]);
    EXPECT_EQ(text + 4, list[2]);
    EXPECT_EQ(text + 9, list[3]);
    EXPECT_EQ('\0', text[2]);
    EXPECT_EQ('\0', text[7]);
}

TEST_F(CommandLine, Outcomes)
{
    struct {
        const char* text;
        int result;
        const char* caption; // null: no message box
        std::string message;
    } const cases[] = {
        {"", CMDLINE_RESIDENT, nullptr, ""},
        {"    ", CMDLINE_RESIDENT, nullptr, ""},
        {"-?", CMDLINE_EXIT, "Usage", UsageText},
        {"/?", CMDLINE_EXIT, "Usage", UsageText},
        {"  -?  ", CMDLINE_EXIT, "Usage", UsageText},
        {"\"-?\"", CMDLINE_EXIT, "Usage", UsageText},
        {"-?x", CMDLINE_EXIT, "Error", "Invalid parameter: -?x"},
        {"/?/", CMDLINE_EXIT, "Error", "Invalid parameter: /?/"},
        {"-h", CMDLINE_EXIT, "Error", "Invalid parameter: -h"},
        {"800x600 16", CMDLINE_EXIT, "Error", "Too many parameters"},
        {"-? -?", CMDLINE_EXIT, "Error", "Too many parameters"},
        {"a b c", CMDLINE_EXIT, "Error", "Too many parameters"},
        {"800x600", CMDLINE_APPLY, nullptr, ""},
        {"\"800x600\"", CMDLINE_APPLY, nullptr, ""},
        {"\"800x600 x16\"", CMDLINE_EXIT, "Error", "Invalid parameter: 800x600 x16"},
        {"800x600\t16", CMDLINE_EXIT, "Error", "Invalid parameter: 800x600\t16"},
        {"\"\"", CMDLINE_EXIT, "Error", "Invalid parameter: "},
        {"\"", CMDLINE_EXIT, "Error", "Invalid parameter: "},
        {"-safe1", CMDLINE_EXIT, "Error", "Invalid parameter: -safe1"},
        {"4000x3000", CMDLINE_EXIT, "Error", "Range error in parameter: 4000x3000"},
        {"-640x480", CMDLINE_EXIT, "Error", "Range error in parameter: -640x480"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": [" + cases[i].text + "]");
        stub::Reset();
        DisplayMode mode = {0, 0, 0, 0};
        EXPECT_EQ(cases[i].result, HandleCommandLine(cases[i].text, mode));
        if (cases[i].caption == nullptr) {
            EXPECT_TRUE(stub::MessageBoxes().empty());
        } else {
            ASSERT_EQ(1u, stub::MessageBoxes().size());
            const stub::MessageBox& box = stub::MessageBoxes()[0];
            EXPECT_EQ(cases[i].caption, box.caption);
            EXPECT_EQ(cases[i].message, box.text);
            EXPECT_EQ(nullptr, box.owner);
            EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
        }
        // Handling the command line never touches the display, the mutex or the registry.
        for (const stub::Call& call : stub::Calls()) {
            EXPECT_EQ("MessageBoxA", call.name);
        }
    }
}

TEST_F(CommandLine, SafeInAnyCaseFillsTheSafeMode)
{
    const char* const texts[] = {"-safe", "-SAFE", "-Safe", "-sAfE", "\"-safe\""};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        DisplayMode mode = {1, 2, 3, 4};
        EXPECT_EQ(CMDLINE_APPLY, HandleCommandLine(text, mode));
        EXPECT_EQ(640u, mode.width);
        EXPECT_EQ(480u, mode.height);
        EXPECT_EQ(32u, mode.bitsPerPixel);
        EXPECT_EQ(60u, mode.frequency);
    }
    // Only ASCII letters fold: a text that differs elsewhere is a specification.
    DisplayMode mode = {0, 0, 0, 0};
    EXPECT_EQ(CMDLINE_EXIT, HandleCommandLine("-saf", mode));
    EXPECT_EQ(CMDLINE_EXIT, HandleCommandLine("_safe", mode));
    EXPECT_EQ(2u, stub::MessageBoxes().size());
}

TEST_F(CommandLine, ApplyFillsAllFourFields)
{
    DisplayMode mode = {9, 9, 9, 9};
    ASSERT_EQ(CMDLINE_APPLY, HandleCommandLine("1024x768", mode));
    EXPECT_EQ(1024u, mode.width);
    EXPECT_EQ(768u, mode.height);
    EXPECT_EQ(0u, mode.bitsPerPixel);
    EXPECT_EQ(0u, mode.frequency);
}

TEST_F(CommandLine, LongArgumentIsCutToTheMessageBuffer)
{
    const std::string lengths[] = {std::string(280, 'a'), std::string(281, 'a'), std::string(1000, 'a')};
    for (const std::string& argument : lengths) {
        SCOPED_TRACE("length " + std::to_string(argument.size()));
        stub::Reset();
        DisplayMode mode = {0, 0, 0, 0};
        EXPECT_EQ(CMDLINE_EXIT, HandleCommandLine(argument.c_str(), mode));
        ASSERT_EQ(1u, stub::MessageBoxes().size());
        const std::string expected = ("Invalid parameter: " + argument).substr(0, 299);
        EXPECT_EQ(expected, stub::MessageBoxes()[0].text);
    }
    // A range error with a long argument: the quoted text is cut, never overrun.
    const std::string longRange = "4000x3000x32@60" + std::string(500, 'z');
    stub::Reset();
    DisplayMode mode = {0, 0, 0, 0};
    EXPECT_EQ(CMDLINE_EXIT, HandleCommandLine(longRange.c_str(), mode));
    ASSERT_EQ(1u, stub::MessageBoxes().size());
    EXPECT_EQ(("Range error in parameter: " + longRange).substr(0, 299), stub::MessageBoxes()[0].text);
}

TEST_F(CommandLine, WinMainOneShotExitCodes)
{
    // A TV's sizes: 1280x960 interlaced only at 30 Hz, 1024x768 at 30 Hz both
    // ways, the interlaced one listed first, 1152x864 only interlaced.
    const std::vector<stub::Mode> modes = {
        {800, 600, 32, 60},  {800, 600, 32, 75},  {1280, 960, 32, 25}, {1280, 960, 32, 30, DM_INTERLACED},
        {1024, 768, 32, 30, DM_INTERLACED},       {1024, 768, 32, 30}, {1152, 864, 32, 60, DM_INTERLACED},
    };
    struct {
        const char* text;
        std::vector<LONG> results;
        int changes;
        bool failureShown;
        const char* after = nullptr; // the display's mode afterwards
        std::vector<std::string> missing = {}; // functions an older Windows lacks
        const char* librarySearch = "SetDefaultDllDirectories 0x800";
        bool restrictionFails = false;
    } const cases[] = {
        {"800x600", {DISP_CHANGE_SUCCESSFUL}, 1, false},
        {"800x600", {DISP_CHANGE_RESTART}, 1, false},
        {"800x600", {DISP_CHANGE_BADMODE}, 1, true},
        {"800x600", {DISP_CHANGE_NOTUPDATED, DISP_CHANGE_SUCCESSFUL}, 2, false},
        {"800x600", {DISP_CHANGE_NOTUPDATED, DISP_CHANGE_NOTUPDATED}, 2, true},
        {"-safe", {DISP_CHANGE_FAILED}, 1, true},
        {"-?", {}, 0, false},
        {"a b", {}, 0, false},
        {"bad", {}, 0, false},
        {"800x600", {DISP_CHANGE_SUCCESSFUL}, 1, false, nullptr, {"SetProcessDPIAware"}},
        // Windows 7 without KB2533623: the current directory at least leaves the search.
        {"800x600", {DISP_CHANGE_SUCCESSFUL}, 1, false, nullptr, {"SetDefaultDllDirectories"}, "SetDllDirectoryW \"\""},
        {"800x600", {DISP_CHANGE_SUCCESSFUL}, 1, false, nullptr, {}, "SetDefaultDllDirectories 0x800, SetDllDirectoryW \"\"",
         true},
        {"800x600", {DISP_CHANGE_SUCCESSFUL}, 1, false, nullptr, {"SetDefaultDllDirectories", "SetDllDirectoryW"}, ""},
        {"1280x960", {}, 1, false, "1280x960x32@25"},
        {"1024x768@30", {}, 1, false, "1024x768x32@30"},
        {"1152x864@60", {}, 1, true, "1024x768x32@60"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": [" + cases[i].text + "]");
        stub::Reset();
        stub::SeedCurrentMode({1024, 768, 32, 60});
        stub::SeedModes(modes);
        stub::ScriptChangeResults(cases[i].results);
        for (const std::string& missing : cases[i].missing) {
            stub::RemoveSystemFunction(missing);
        }
        if (cases[i].restrictionFails) {
            stub::FailDefaultDllDirectories();
        }
        std::vector<char> text(cases[i].text, cases[i].text + std::string(cases[i].text).size() + 1);
        EXPECT_EQ(0, WinMain(nullptr, nullptr, text.data(), 0));
        EXPECT_EQ(static_cast<std::size_t>(cases[i].changes), stub::ModeChanges().size());
        bool failureShown = false;
        for (const stub::MessageBox& box : stub::MessageBoxes()) {
            failureShown = failureShown || (box.text == "Display mode change failed" && box.caption == "Error");
        }
        EXPECT_EQ(cases[i].failureShown, failureShown);
        if (cases[i].after != nullptr) {
            DEVMODEA now;
            now.dmSize = sizeof now;
            ASSERT_NE(FALSE, EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &now));
            EXPECT_EQ(std::string(cases[i].after) + " progressive",
                      std::to_string(now.dmPelsWidth) + "x" + std::to_string(now.dmPelsHeight) + "x" +
                          std::to_string(now.dmBitsPerPel) + "@" + std::to_string(now.dmDisplayFrequency) +
                          ((now.dmDisplayFlags & DM_INTERLACED) != 0 ? " interlaced" : " progressive"));
        }
        EXPECT_EQ(cases[i].librarySearch, LibrarySearchCalls()) << "the DLL search, first of all";
        if (cases[i].missing.empty() || cases[i].missing[0] != "SetProcessDPIAware") {
            EXPECT_LT(stub::FirstCall("SetProcessDPIAware"), stub::FirstCall("EnumDisplaySettingsA"))
                << "the display was read before the process declared itself DPI-aware";
        }
        // A one-shot run never takes the mutex and never reads settings.
        EXPECT_EQ(0, stub::CountCalls("CreateMutexA"));
        EXPECT_EQ(0, stub::CountCalls("RegOpenKeyExA"));
        EXPECT_EQ(nullptr, InstanceMutex);
    }
}

TEST_F(CommandLine, WinMainTakesACommandLineOfNull)
{
    // No argument at all: resident, so the mutex is asked for first.
    stub::SeedExistingMutex("Quorin");
    EXPECT_EQ(1, WinMain(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(1, stub::CountCalls("CreateMutexA"));
}

TEST_F(CommandLine, SecondResidentStartEndsWithOneAndNothingElse)
{
    struct {
        const char* what;
        bool elevatedFirst;
    } const cases[] = {
        {"a resident instance runs", false},
        // Its mutex lets a standard process neither open nor create one.
        {"an elevated resident instance runs", true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].what);
        stub::Reset();
        InstanceMutex = nullptr;
        if (cases[i].elevatedFirst) {
            stub::FailNextMutexCreate(ERROR_ACCESS_DENIED);
        } else {
            stub::SeedExistingMutex("Quorin");
        }
        // Were it to stay resident after all, this would end it.
        stub::WhenIdle([] { stub::Post(stub::FindWindowOfClass("Quorin Tray"), WM_CLOSE, 0, 0); });
        char text[] = "";
        EXPECT_EQ(1, WinMain(nullptr, nullptr, text, 0));
        EXPECT_EQ(1u, stub::IdleActionsLeft()) << "it stayed resident";
        // With no instance window to find, nothing is posted.
        const std::vector<std::string> expected = {"GetModuleHandleA",   "GetProcAddress", "SetDefaultDllDirectories",
                                                   "GetModuleHandleA",   "GetProcAddress", "SetProcessDPIAware",
                                                   "CreateMutexA",       "GetLastError",   "FindWindowA"};
        EXPECT_EQ(expected, stub::CallNames());
        ASSERT_EQ(expected.size(), stub::Calls().size());
        EXPECT_EQ("0x0 1 \"Quorin\"", stub::Calls()[6].args);
        EXPECT_EQ("\"Quorin Tray\" (null)", stub::Calls()[8].args);
        EXPECT_EQ(cases[i].elevatedFirst, InstanceMutex == nullptr) << "the handle is kept, not closed";
        EXPECT_TRUE(stub::MessageBoxes().empty());
    }
}
