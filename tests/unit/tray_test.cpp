#include "describe.h"
#include "app/app.h"
#include "display/modelist.h"
#include "settings/settings.h"
#include "stub.h"
#include "stub_registry.h"
#include "stub_window.h"
#include "tray/menu.h"
#include "tray/tray.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
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

HINSTANCE const Instance = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));
const char SettingsKey[] = "Software\\Quorin";
const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Beside the stand-in's exe, C:\Program Files\Quorin\quorin.exe.
const char IconFile[] = "C:\\Program Files\\Quorin\\Quorin.ico";
const char VirtualStoreRunKey[] =
    "Software\\Classes\\VirtualStore\\MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Listed by default: 640x480, 800x600 and 1024x768 at 32 bits, in that order.
const std::vector<stub::Mode> DisplayModes = {
    {640, 480, 32, 60},   {800, 600, 32, 75},  {1024, 768, 32, 85},
    {1280, 1024, 32, 60}, {320, 240, 32, 60},  {1024, 768, 16, 60},
};

HWND Tray()
{
    return stub::FindWindowOfClass("Quorin Tray");
}

void Then(const std::function<void()>& action)
{
    stub::WhenIdle(action);
}

void PostToTray(UINT message, WPARAM wParam, LPARAM lParam)
{
    ASSERT_TRUE(stub::Post(Tray(), message, wParam, lParam)) << "no live tray window";
}

int RunResident()
{
    char none[] = "";
    return WinMain(Instance, nullptr, none, 0);
}

std::string Handle(const void* handle)
{
    return Hex(reinterpret_cast<std::uintptr_t>(handle));
}

std::string Messages(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Handle(window) + " " + std::to_string(message) + " " + Hex(wParam) + " " +
           Hex(static_cast<std::uintptr_t>(lParam));
}

int CountSince(std::size_t mark, const std::string& name, const std::string& args)
{
    int count = 0;
    for (std::size_t i = mark; i < stub::Calls().size(); ++i) {
        count += stub::Calls()[i].name == name && stub::Calls()[i].args == args ? 1 : 0;
    }
    return count;
}

// RebuildModeList, and only it, enumerates from index 0 when every listed
// mode has its rate.
int RebuildsSince(std::size_t mark)
{
    return CountSince(mark, "EnumDisplaySettingsA", "(null) 0");
}

using stub::FirstCall;

std::string Describe(const SettingsRecord& settings)
{
    return "{" + std::to_string(settings.minWidth) + ", " +
           std::to_string(settings.showNonStdRatio) + ", " + std::to_string(settings.autostart) +
           "}";
}

const stub::MenuItem* FindItem(const stub::Menu& menu, UINT_PTR id)
{
    for (const stub::MenuItem& item : menu.items) {
        if ((item.flags & MF_POPUP) != 0) {
            const stub::MenuItem* inner = FindItem(item.submenu[0], id);
            if (inner != nullptr) {
                return inner;
            }
        } else if ((item.flags & MF_SEPARATOR) == 0 && item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

void Fresh(bool iconFile = true)
{
    stub::Reset();
    Settings = SettingsRecord{640, false, false};
    ModeList.clear();
    std::memset(&TrayIconData, 0, sizeof TrayIconData);
    InstanceMutex = nullptr;
    stub::SeedModes(DisplayModes);
    stub::SeedCurrentMode(stub::Mode{1024, 768, 32, 60});
    if (iconFile) {
        stub::SeedIconFile(IconFile, 1);
    }
}

class TrayWindow : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
};

TEST_F(TrayWindow, CreationRegistersTheClassAndMakesTheWindowAndTheIcon)
{
    std::vector<DisplayMode> listed;
    Then([&] {
        listed = ModeList;
        PostToTray(WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, RunResident());

    ASSERT_EQ(1u, stub::WindowClasses().size());
    const WNDCLASSEXA& c = stub::WindowClasses()[0].members;
    EXPECT_EQ(sizeof(WNDCLASSEXA), c.cbSize);
    EXPECT_EQ(3u, c.style);
    EXPECT_EQ(&TrayWindowProc, c.lpfnWndProc);
    EXPECT_EQ(0, c.cbClsExtra);
    EXPECT_EQ(0, c.cbWndExtra);
    EXPECT_EQ(Instance, c.hInstance);
    EXPECT_EQ(stub::ApplicationIcon(), c.hIcon);
    EXPECT_EQ(stub::ArrowCursor(), c.hCursor);
    EXPECT_EQ(stub::StockObject(WHITE_BRUSH), static_cast<HGDIOBJ>(c.hbrBackground));
    EXPECT_EQ(nullptr, c.lpszMenuName);
    EXPECT_EQ("Quorin Tray", stub::WindowClasses()[0].className);
    EXPECT_EQ(stub::ApplicationIcon(), c.hIconSm);

    const std::vector<stub::Window> windows = stub::Windows();
    ASSERT_EQ(1u, windows.size());
    const stub::Window& w = windows[0];
    EXPECT_EQ(0u, w.exStyle);
    EXPECT_EQ("Quorin Tray", w.className);
    EXPECT_FALSE(w.named);
    EXPECT_EQ(static_cast<DWORD>(WS_OVERLAPPEDWINDOW), w.style);
    EXPECT_EQ(0, w.x);
    EXPECT_EQ(0, w.y);
    EXPECT_EQ(0, w.width);
    EXPECT_EQ(0, w.height);
    EXPECT_EQ(nullptr, w.parent);
    EXPECT_EQ(nullptr, w.menu);
    EXPECT_EQ(Instance, w.instance);
    EXPECT_EQ(nullptr, w.param);

    EXPECT_EQ("[640x480x32@60, 800x600x32@75, 1024x768x32@85]", Describe(listed));
    // The list is built before anything else that WM_CREATE does.
    const std::size_t create = FirstCall("CreateWindowExA");
    ASSERT_LT(create + 1, stub::Calls().size());
    EXPECT_EQ("EnumDisplaySettingsA (null) 4294967295",
              stub::Calls()[create + 1].name + " " + stub::Calls()[create + 1].args);
    EXPECT_LT(FirstCall("EnumDisplaySettingsA", create), FirstCall("ExtractIconExW", create));

    const std::size_t extract = FirstCall("ExtractIconExW");
    ASSERT_LT(extract, stub::Calls().size());
    EXPECT_EQ("\"" + std::string(IconFile) + "\" 0 0x0 " + Handle(&TrayIconData.hIcon) + " 1",
              stub::Calls()[extract].args);

    ASSERT_EQ(2u, stub::NotifyCalls().size());
    const stub::NotifyCall& add = stub::NotifyCalls()[0];
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), add.message);
    EXPECT_EQ(NOTIFYICONDATAA_V1_SIZE, add.data.cbSize);
    EXPECT_EQ(w.handle, add.data.hWnd);
    EXPECT_EQ(1u, add.data.uID);
    EXPECT_EQ(7u, add.data.uFlags);
    EXPECT_EQ(1124u, add.data.uCallbackMessage);
    EXPECT_STREQ("Quorin Tray", add.data.szTip);
    EXPECT_TRUE(add.liveImage) << "the image was destroyed before the shell took it";
    EXPECT_EQ(TRUE, add.result);

    // Freed right after the add; the shell keeps its own copy.
    const std::size_t added = FirstCall("Shell_NotifyIconA");
    ASSERT_LT(added + 1, stub::Calls().size());
    EXPECT_EQ("DestroyIcon", stub::Calls()[added + 1].name);
    EXPECT_EQ(Handle(add.data.hIcon), stub::Calls()[added + 1].args);
    EXPECT_TRUE(stub::LiveIcons().empty());
}

// Started at logon, in C:\Windows\System32: only the file beside the exe
// counts, and a missing or unusable one still adds the icon, without an image.
TEST_F(TrayWindow, TheImageComesFromBesideTheExe)
{
    const std::string longFolder = "C:\\" + std::string(241, 'a'); // quorin.exe at 255 characters
    struct Case {
        const char* what;
        std::string exe;  // empty: the path cannot be had
        std::string icon; // empty: no file
        UINT icons;
        bool image;
    };
    const std::vector<Case> cases = {
        {"beside the exe", "C:\\Program Files\\Quorin\\quorin.exe", IconFile, 1, true},
        {"no file", "C:\\Program Files\\Quorin\\quorin.exe", "", 0, false},
        {"file without an icon", "C:\\Program Files\\Quorin\\quorin.exe", IconFile, 0, false},
        {"only in the current directory", "C:\\Program Files\\Quorin\\quorin.exe",
         "C:\\Windows\\System32\\Quorin.ico", 1, false},
        {"a folder in Cyrillic letters", "C:\\Программы\\quorin.exe", "C:\\Программы\\Quorin.ico", 1, true},
        {"a folder in Japanese letters", "C:\\ツール\\quorin.exe", "C:\\ツール\\Quorin.ico", 1, true},
        {"255 characters", longFolder + "\\quorin.exe", longFolder + "\\Quorin.ico", 1, true},
        {"the icon's path does not fit", longFolder + std::string(9, 'a') + "\\q.exe", "", 0, false},
        {"the exe's path is cut", longFolder + "\\aaaaaaa\\quorin.exe", "", 0, false},
        {"the exe's path cannot be had", "", "", 0, false},
        {"a path without a folder: never in the current directory", "quorin.exe",
         "C:\\Windows\\System32\\Quorin.ico", 1, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh(false);
        if (c.exe.empty()) {
            stub::FailModulePath(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            stub::SeedModulePath(c.exe);
        }
        if (!c.icon.empty()) {
            stub::SeedIconFile(c.icon, c.icons);
        }
        std::vector<stub::TrayIcon> shown;
        Then([&] {
            shown = stub::TrayIcons();
            PostToTray(WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(0, RunResident());
        ASSERT_EQ(1u, shown.size());
        EXPECT_EQ(c.image, shown[0].hasImage);
        EXPECT_EQ(c.image, shown[0].data.hIcon != nullptr);
        EXPECT_STREQ("Quorin Tray", shown[0].data.szTip);
        ASSERT_FALSE(stub::NotifyCalls().empty());
        EXPECT_EQ(TRUE, stub::NotifyCalls()[0].result);
    }
}

TEST_F(TrayWindow, ExitOrAnOutsideCloseRemovesTheIconAndReleasesTheMutex)
{
    struct Case {
        const char* what;
        std::function<void()> close;
    };
    const std::vector<Case> cases = {
        {"Exit command", [] { PostToTray(WM_COMMAND, CMD_EXIT, 0); }},
        {"WM_CLOSE from outside", [] { PostToTray(WM_CLOSE, 0, 0); }},
        {"Exit chosen in the menu",
         [] {
             stub::ScriptMenuChoices({CMD_EXIT});
             ASSERT_TRUE(stub::ClickTrayIcon(WM_LBUTTONDOWN));
         }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].what);
        Fresh();
        std::size_t iconsBefore = 0;
        bool ownedBefore = false;
        Then([&] {
            iconsBefore = stub::TrayIcons().size();
            ownedBefore = stub::CreatedMutexes().at(0).owned;
            cases[i].close();
        });
        EXPECT_EQ(0, RunResident());
        EXPECT_EQ(1u, iconsBefore);
        EXPECT_TRUE(ownedBefore);

        EXPECT_TRUE(stub::TrayIcons().empty());
        ASSERT_EQ(1u, stub::CreatedMutexes().size());
        EXPECT_FALSE(stub::CreatedMutexes()[0].owned);
        EXPECT_EQ(1, stub::CreatedMutexes()[0].releases);
        EXPECT_FALSE(stub::Windows().at(0).alive);
        ASSERT_FALSE(stub::NotifyCalls().empty());
        const stub::NotifyCall& removed = stub::NotifyCalls().back();
        EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), removed.message);
        EXPECT_EQ(TRUE, removed.result);
        EXPECT_EQ(1, stub::CountCalls("PostQuitMessage"));
        EXPECT_EQ(0u, stub::IdleActionsLeft());
        const std::size_t release = FirstCall("ReleaseMutex");
        std::size_t remove = stub::Calls().size();
        for (std::size_t k = 0; k < stub::Calls().size() && remove == stub::Calls().size(); ++k) {
            const stub::Call& call = stub::Calls()[k];
            remove = call.name == "Shell_NotifyIconA" && call.args.compare(0, 2, "2 ") == 0 ? k : remove;
        }
        const std::size_t quit = FirstCall("PostQuitMessage");
        EXPECT_LT(release, remove);
        EXPECT_LT(remove, quit);
        EXPECT_LT(quit, stub::Calls().size());
    }
}

TEST_F(TrayWindow, ExitSendsCloseWithBothParametersZero)
{
    Then([] { PostToTray(WM_COMMAND, CMD_EXIT, 0); });
    EXPECT_EQ(0, RunResident());
    const std::size_t send = FirstCall("SendMessageA");
    ASSERT_LT(send, stub::Calls().size());
    EXPECT_EQ(Messages(stub::Windows().at(0).handle, WM_CLOSE, 0, 0), stub::Calls()[send].args);
    EXPECT_EQ(1, stub::CountCalls("SendMessageA"));
}

TEST_F(TrayWindow, WithoutAMutexOrAWindow)
{
    struct Case {
        const char* what;
        bool mutexFails;
        bool windowFails;
        int exitCode;
        int releases;
        bool iconAdded;
        bool loopRan;
    };
    const std::vector<Case> cases = {
        // Another kind of object has the name.
        {"no mutex: the release is skipped", true, false, 0, 0, true, true},
        {"no window: the instance gives up", false, true, 1, 1, false, false},
        {"neither: nothing to release", true, true, 1, 0, false, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        if (c.mutexFails) {
            stub::FailNextMutexCreate(ERROR_INVALID_HANDLE);
        }
        if (c.windowFails) {
            stub::FailNextWindowCreate(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            Then([] { PostToTray(WM_CLOSE, 0, 0); });
        }
        EXPECT_EQ(c.exitCode, RunResident());
        EXPECT_EQ(c.mutexFails, InstanceMutex == nullptr);
        EXPECT_EQ(c.releases, stub::CountCalls("ReleaseMutex"));
        if (!c.mutexFails) {
            ASSERT_EQ(1u, stub::CreatedMutexes().size());
            EXPECT_EQ(c.releases, stub::CreatedMutexes()[0].releases);
            EXPECT_FALSE(stub::CreatedMutexes()[0].owned) << "a later start would end at once";
        }
        EXPECT_EQ(c.iconAdded ? 1 : 0, stub::CountCalls("Shell_NotifyIconA") / 2);
        EXPECT_TRUE(stub::TrayIcons().empty());
        EXPECT_EQ(c.loopRan, stub::CountCalls("GetMessageA") > 0);
    }
}

TEST_F(TrayWindow, ASecondResidentStartEndsWithOneAndNoWindow)
{
    stub::SeedExistingMutex("Quorin");
    EXPECT_EQ(1, RunResident());
    EXPECT_TRUE(stub::WindowClasses().empty());
    EXPECT_TRUE(stub::Windows().empty());
    EXPECT_TRUE(stub::NotifyCalls().empty());
    EXPECT_TRUE(stub::MessageBoxes().empty());
    EXPECT_EQ(0, stub::CountCalls("RegOpenKeyExA")) << "settings were read";
    EXPECT_EQ(0, stub::CountCalls("ReleaseMutex"));
}

TEST_F(TrayWindow, ASecondStartBringsTheRunningInstancesIconBack)
{
    struct Case {
        const char* what;
        bool iconLost;
    };
    const std::vector<Case> cases = {
        {"icon removed from outside", true},
        {"icon still there", false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].what);
        Fresh();
        int secondExit = -1;
        int settingsReads = -1;
        std::vector<stub::TrayIcon> shown;
        Then([&] {
            if (cases[i].iconLost) {
                NOTIFYICONDATAA gone;
                std::memset(&gone, 0, sizeof gone);
                gone.cbSize = NOTIFYICONDATAA_V1_SIZE;
                gone.hWnd = Tray();
                gone.uID = TRAY_ICON_ID;
                ASSERT_EQ(TRUE, Shell_NotifyIconA(NIM_DELETE, &gone));
            }
            // The second start, as another process would make it.
            HANDLE const first = InstanceMutex;
            const int reads = stub::CountCalls("RegOpenKeyExA");
            secondExit = RunResident();
            settingsReads = stub::CountCalls("RegOpenKeyExA") - reads;
            InstanceMutex = first;
        });
        Then([&] {
            shown = stub::TrayIcons();
            PostToTray(WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(0, RunResident());

        EXPECT_EQ(1, secondExit);
        EXPECT_EQ(0, settingsReads);
        ASSERT_EQ(1u, shown.size());
        EXPECT_TRUE(shown[0].hasImage);
        EXPECT_EQ(1u, stub::Windows().size());
        EXPECT_TRUE(stub::MessageBoxes().empty());
        ASSERT_EQ(2u, stub::CreatedMutexes().size());
        EXPECT_EQ(1, stub::CreatedMutexes()[0].releases);
        EXPECT_EQ(0, stub::CreatedMutexes()[1].releases) << "the second start released the mutex";
    }
}

TEST_F(TrayWindow, ResidentStartTakesTheMutexThenLoadsSettingsThenRegistersTheClass)
{
    // Windows XP SP1 has neither call that narrows the DLL search.
    stub::RemoveSystemFunction("SetDefaultDllDirectories");
    stub::RemoveSystemFunction("SetDllDirectoryW");
    Then([] { PostToTray(WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, RunResident());
    EXPECT_EQ("", LibrarySearchCalls());
    EXPECT_EQ(1u, stub::Windows().size());

    Fresh();
    Then([] { PostToTray(WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, RunResident());
    EXPECT_EQ("SetDefaultDllDirectories 0x800", LibrarySearchCalls()) << "the DLL search, first of all";
    const std::size_t mutex = FirstCall("CreateMutexA");
    ASSERT_LT(mutex + 1, stub::Calls().size());
    EXPECT_EQ("0x0 1 \"Quorin\"", stub::Calls()[mutex].args);
    EXPECT_EQ("GetLastError", stub::Calls()[mutex + 1].name);
    EXPECT_LT(mutex, FirstCall("RegOpenKeyExA"));
    EXPECT_LT(FirstCall("RegOpenKeyExA"), FirstCall("RegisterClassExA"));
    EXPECT_LT(FirstCall("RegisterClassExA"), FirstCall("CreateWindowExA"));
    EXPECT_LT(FirstCall("CreateWindowExA"), FirstCall("GetMessageA"));
}

TEST_F(TrayWindow, CommandDispatch)
{
    struct Case {
        const char* what;
        WPARAM wParam;
        LPARAM lParam;
        bool emptyList;
        SettingsRecord after;
        int rebuilds;
        int saves;
        bool displayValuesSaved;
        int applied; // index of the entry applied, -1 for none
        bool closes;
        std::size_t listSize;
        SettingsRecord before = {640, false, false};
    };
    const SettingsRecord unchanged = {640, false, false};
    const std::vector<Case> cases = {
        {"0", 0, 0, false, unchanged, 0, 0, false, -1, false, 3},
        {"Exit", CMD_EXIT, 0, false, unchanged, 0, 0, false, -1, true, 3},
        {"Autostart", CMD_AUTOSTART, 0, false, {640, false, true}, 0, 1, false, -1, false, 3},
        {"not 4/3", CMD_NONSTD_RATIO, 0, false, {640, true, false}, 1, 0, false, -1, false, 4},
        {"low res", CMD_LOW_RES, 0, false, {0, false, false}, 1, 0, false, -1, false, 4},
        {"Save", CMD_SAVE, 0, false, unchanged, 0, 1, true, -1, false, 3},
        {"first mode", 6, 0, false, unchanged, 0, 0, false, 0, false, 3},
        {"last mode (n + 5)", 8, 0, false, unchanged, 0, 0, false, 2, false, 3},
        {"n + 6", 9, 0, false, unchanged, 0, 0, false, -1, false, 3},
        {"0xFFFF", 0xFFFF, 0, false, unchanged, 0, 0, false, -1, false, 3},
        {"low res, high bits set", MAKEWPARAM(CMD_LOW_RES, 1), 0, false, {0, false, false},
         1, 0, false, -1, false, 4},
        {"second mode, high bits set", MAKEWPARAM(7, 0xFFFF), 0, false, unchanged, 0, 0,
         false, 1, false, 3},
        {"0 in the low bits, high bits set", MAKEWPARAM(0, CMD_SAVE), 0, false, unchanged, 0,
         0, false, -1, false, 3},
        {"not 4/3, lParam set", CMD_NONSTD_RATIO, 0x12345, false, {640, true, false}, 1, 0,
         false, -1, false, 4},
        {"6, empty list", 6, 0, true, unchanged, 0, 0, false, -1, false, 0},
        {"7, empty list", 7, 0, true, unchanged, 0, 0, false, -1, false, 0},
        {"not 4/3 off again", CMD_NONSTD_RATIO, 0, false, unchanged, 1, 0, false, -1, false, 3,
         {640, true, false}},
        {"low res back to 640", CMD_LOW_RES, 0, false, unchanged, 1, 0, false, -1, false, 3,
         {0, false, false}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        if (c.emptyList) {
            stub::SeedModes({});
        }
        std::vector<DisplayMode> listed;
        std::size_t mark = 0;
        LRESULT result = -7;
        Then([&] {
            Settings = c.before;
            listed = ModeList;
            mark = stub::Calls().size();
            result = TrayWindowProc(Tray(), WM_COMMAND, c.wParam, c.lParam);
        });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());

        EXPECT_EQ(0, result);
        EXPECT_EQ(Describe(c.after), Describe(Settings));
        EXPECT_EQ(c.rebuilds, RebuildsSince(mark));
        EXPECT_EQ(c.listSize, ModeList.size()) << Describe(ModeList);
        EXPECT_EQ(c.saves, CountSince(0, "RegCreateKeyExA", "HKEY_CURRENT_USER \"Software\\Quorin\" 0 \"\" 0 0x20006 0x0"));
        EXPECT_EQ(c.displayValuesSaved,
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").found);
        EXPECT_EQ(c.after.autostart,
                  stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin").found);
        if (c.applied < 0) {
            EXPECT_TRUE(stub::ModeChanges().empty());
        } else {
            ASSERT_EQ(1u, stub::ModeChanges().size());
            const DEVMODEA& applied = stub::ModeChanges()[0].devmode;
            EXPECT_EQ(Describe(listed.at(static_cast<std::size_t>(c.applied))),
                      Describe(DisplayMode{applied.dmPelsWidth, applied.dmPelsHeight,
                                           applied.dmDisplayFrequency, applied.dmBitsPerPel}));
            EXPECT_EQ(Describe(listed), Describe(ModeList)) << "a mode command changed the list";
        }
        EXPECT_EQ(c.closes ? 1u : 0u, stub::IdleActionsLeft()) << "closed by the command";
        EXPECT_TRUE(stub::TrayIcons().empty());
    }
}

TEST_F(TrayWindow, FiltersRebuildAtOnceButReachTheRegistryOnlyBySave)
{
    stub::SeedRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes", REG_DWORD,
                            stub::RegistryDword(0));
    stub::SeedRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio", REG_DWORD,
                            stub::RegistryDword(0));
    std::string afterToggles;
    std::string afterBack;
    int rebuilds = 0;
    int registryCallsBeforeSave = -1;
    Then([&] {
        const std::size_t mark = stub::Calls().size();
        PostToTray(WM_COMMAND, CMD_NONSTD_RATIO, 0);
        PostToTray(WM_COMMAND, CMD_LOW_RES, 0);
        Then([&, mark] {
            afterToggles = Describe(ModeList);
            PostToTray(WM_COMMAND, CMD_NONSTD_RATIO, 0);
            PostToTray(WM_COMMAND, CMD_NONSTD_RATIO, 0);
            Then([&, mark] {
                afterBack = Describe(ModeList);
                rebuilds = RebuildsSince(mark);
                registryCallsBeforeSave = stub::CountCalls("RegCreateKeyExA") +
                                          stub::CountCalls("RegSetValueExA") +
                                          stub::CountCalls("RegDeleteValueA");
                PostToTray(WM_COMMAND, CMD_SAVE, 0);
                Then([] { PostToTray(WM_CLOSE, 0, 0); });
            });
        });
    });
    EXPECT_EQ(0, RunResident());

    EXPECT_EQ("[640x480x32@60, 800x600x32@75, 1024x768x32@85, 1280x1024x32@60, 320x240x32@60]",
              afterToggles);
    EXPECT_EQ(afterToggles, afterBack) << "two toggles of one filter restore the list";
    EXPECT_EQ(4, rebuilds);
    EXPECT_EQ(0, registryCallsBeforeSave);
    const stub::RegistryValue lowRes =
        stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes");
    const stub::RegistryValue nonStd =
        stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio");
    EXPECT_EQ(stub::RegistryDword(1), lowRes.data);
    EXPECT_EQ(stub::RegistryDword(1), nonStd.data);
}

TEST_F(TrayWindow, AFilterToggledWithoutSaveLeavesTheRegistryAsItWas)
{
    stub::SeedRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes", REG_DWORD,
                            stub::RegistryDword(0));
    Then([] { PostToTray(WM_COMMAND, CMD_LOW_RES, 0); });
    Then([] { PostToTray(WM_COMMAND, CMD_EXIT, 0); });
    EXPECT_EQ(0, RunResident());
    EXPECT_EQ(0u, Settings.minWidth);
    EXPECT_EQ(stub::RegistryDword(0),
              stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").data);
    EXPECT_EQ(std::vector<std::string>{"DisplayLoRes"},
              stub::RegistryValueNames(HKEY_CURRENT_USER, SettingsKey));
    EXPECT_FALSE(stub::RegistryKeyExists(HKEY_LOCAL_MACHINE, RunKey));
}

TEST_F(TrayWindow, AutostartCheckMarkFollowsWhatTheRegistryHolds)
{
    struct Case {
        const char* what;
        bool runValue;
        bool denied;
        bool checked;
        bool virtualized = false; // a 32-bit program without a manifest
        bool olderWindows = false; // no SetTokenInformation
        bool virtualEntry = false; // a Run value a virtualized write left in the VirtualStore
    };
    const std::vector<Case> cases = {
        {"switch on", false, false, true},
        {"switch off", true, false, false},
        {"switch on, machine part denied", false, true, false},
        {"switch off, machine part denied", true, true, true},
        // Windows would have the write land in the VirtualStore and call it done.
        {"switch on, machine part denied, writes virtualized", false, true, false, true},
        {"switch on, machine part denied, on a Windows without the token call", false, true, false, false, true},
        // A virtualized reader sees the VirtualStore's copy first; logon never does.
        {"an entry only in the VirtualStore, machine part denied", false, true, false, true, false, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        stub::SeedRegistryKey(HKEY_LOCAL_MACHINE, RunKey);
        if (c.runValue || c.virtualEntry) {
            stub::SeedRegistryValue(c.runValue ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                    c.runValue ? RunKey : VirtualStoreRunKey, "Quorin", REG_SZ,
                                    stub::RegistryText("\"C:\\Quorin\\quorin.exe\""));
        }
        if (c.denied) {
            stub::DenyRegistryAccess(HKEY_LOCAL_MACHINE, stub::RegDenyWrite);
        }
        stub::SeedRegistryVirtualization(c.virtualized);
        if (c.olderWindows) {
            stub::RemoveSystemFunction("SetTokenInformation");
        }
        bool loaded = !c.runValue;
        Then([&] {
            loaded = Settings.autostart;
            stub::ScriptMenuChoices({CMD_AUTOSTART});
            ASSERT_TRUE(stub::ClickTrayIcon(WM_RBUTTONDOWN));
        });
        Then([] { ASSERT_TRUE(stub::ClickTrayIcon(WM_RBUTTONDOWN)); });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());

        EXPECT_EQ(c.runValue, loaded);
        EXPECT_EQ(c.checked, Settings.autostart);
        EXPECT_EQ(c.checked, stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin").found);
        ASSERT_EQ(2u, stub::TrackedMenus().size());
        const stub::MenuItem* item = FindItem(stub::TrackedMenus()[1].tree, CMD_AUTOSTART);
        ASSERT_NE(nullptr, item);
        EXPECT_EQ(c.checked, item->checked) << "check mark in the next menu";
        EXPECT_FALSE(stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").found)
            << "the autostart command saved the filters";
        EXPECT_FALSE(stub::RegistryVirtualized()) << "virtualization left on";
        EXPECT_EQ(0, stub::OpenTokenHandles()) << "the token was left open";
    }
}

TEST_F(TrayWindow, OnlyButtonPressesOpenTheMenu)
{
    struct Case {
        UINT mouseMessage;
        bool opens;
        WPARAM icon = TRAY_ICON_ID; // not looked at
    };
    const std::vector<Case> cases = {
        {WM_LBUTTONDOWN, true},    {WM_RBUTTONDOWN, true},     {WM_LBUTTONUP, false},
        {WM_RBUTTONUP, false},     {WM_LBUTTONDBLCLK, false},  {WM_RBUTTONDBLCLK, false},
        {WM_MOUSEMOVE, false},     {0x0207, false} /* middle button */, {0, false},
        {0x007B, false} /* WM_CONTEXTMENU */,
        {WM_LBUTTONDOWN, true, 2}, {WM_RBUTTONDOWN, true, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": mouse message " +
                     std::to_string(cases[i].mouseMessage) + ", wParam " +
                     std::to_string(cases[i].icon));
        Fresh();
        LRESULT result = -7;
        std::size_t mark = 0;
        Then([&] {
            mark = stub::Calls().size();
            result = TrayWindowProc(Tray(), WM_TRAYNOTIFY, cases[i].icon,
                                    static_cast<LPARAM>(cases[i].mouseMessage));
        });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());
        EXPECT_EQ(0, result);
        const int opened = cases[i].opens ? 1 : 0;
        EXPECT_EQ(opened, static_cast<int>(stub::TrackedMenus().size()));
        EXPECT_EQ(opened, RebuildsSince(mark)) << "the list is read afresh for each menu";
        EXPECT_EQ(opened, stub::CountCalls("GetCursorPos"));
        EXPECT_EQ(opened, stub::CountCalls("CreatePopupMenu"));
        EXPECT_EQ(0, stub::LiveMenus());
    }
}

TEST_F(TrayWindow, APressShowsTheMenuAtTheCursorAndDestroysIt)
{
    stub::SeedCursorPos(POINT{1234, 567});
    std::size_t mark = 0;
    Then([&] {
        mark = stub::Calls().size();
        ASSERT_TRUE(stub::ClickTrayIcon(WM_RBUTTONDOWN));
    });
    Then([] { PostToTray(WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, RunResident());
    HWND window = stub::Windows().at(0).handle;

    ASSERT_EQ(1u, stub::TrackedMenus().size());
    const stub::TrackedMenu& shown = stub::TrackedMenus()[0];
    EXPECT_EQ(0u, shown.flags);
    EXPECT_EQ(1234, shown.x);
    EXPECT_EQ(567, shown.y);
    EXPECT_EQ(0, shown.reserved);
    EXPECT_EQ(window, shown.owner);
    EXPECT_FALSE(shown.hasRect);
    EXPECT_EQ(0u, shown.choice);
    // What BuildTrayMenu made: Settings, separator, three modes, separator, Exit.
    ASSERT_EQ(7u, shown.tree.items.size());
    EXPECT_EQ("1024x768 85 Hz", shown.tree.items[4].text);
    EXPECT_TRUE(shown.tree.items[4].checked);
    EXPECT_EQ(0, stub::LiveMenus());

    const std::string menu = Handle(shown.menu);
    const std::size_t foreground = FirstCall("SetForegroundWindow", mark);
    const std::size_t track = FirstCall("TrackPopupMenu", mark);
    ASSERT_LT(track, stub::Calls().size());
    EXPECT_EQ("TrackPopupMenu " + menu + " 0x0 1234 567 0 " + Handle(window) + " 0x0",
              "TrackPopupMenu " + stub::Calls()[track].args);
    EXPECT_EQ(Handle(window), stub::Calls()[foreground].args);
    EXPECT_LT(foreground, track) << "the window must be in front for the menu to close on a click beside it";
    EXPECT_LT(FirstCall("AppendMenuA", mark), foreground) << "menu built before it is shown";
    EXPECT_EQ(1, CountSince(track, "DestroyMenu", menu));
    EXPECT_EQ(1, CountSince(track, "PostMessageA", Messages(window, WM_NULL, 0, 0)));
    EXPECT_EQ(1, CountSince(mark, "DefWindowProcA", Messages(window, WM_NULL, 0, 0)))
        << "the posted WM_NULL goes the default way";
    const std::size_t focus = FirstCall("Shell_NotifyIconA", track);
    ASSERT_LT(focus, stub::Calls().size());
    const std::string setFocus = std::to_string(NIM_SETFOCUS) + " " + std::to_string(NOTIFYICONDATAA_V1_SIZE) +
                                 " " + Handle(window) + " " + std::to_string(TRAY_ICON_ID) + " ";
    EXPECT_EQ(setFocus, stub::Calls()[focus].args.substr(0, setFocus.size()))
        << "the focus goes back to the notification area once the menu closed";
    EXPECT_LT(FirstCall("GetCursorPos", mark), FirstCall("EnumDisplaySettingsA", mark));
    EXPECT_LT(FirstCall("EnumDisplaySettingsA", mark), FirstCall("CreatePopupMenu", mark))
        << "the list is rebuilt before the menu is built from it";
    EXPECT_EQ(1, CountSince(mark, "EnumDisplaySettingsA", "(null) 4294967295"))
        << "one look at the display serves the list and the check mark";
    EXPECT_EQ(0, CountSince(mark, "CreateDCA", "\"DISPLAY\" (null) (null) 0x0"));
}

TEST_F(TrayWindow, AModeItemAppliesTheListedEntryItself)
{
    std::vector<DisplayMode> before;
    Then([] { ASSERT_TRUE(stub::ClickTrayIcon(WM_LBUTTONDOWN)); });
    Then([&] {
        // After the press, whose rebuild would replace it: an entry whose
        // rate and depth are still to be chosen, then its command.
        ModeList[1] = DisplayMode{800, 600, 0, 0};
        before = ModeList;
        PostToTray(WM_COMMAND, CMD_MODE_BASE + 1, 0);
    });
    Then([] { PostToTray(WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, RunResident());

    ASSERT_EQ(1u, stub::TrackedMenus().size());
    ASSERT_EQ(1u, stub::ModeChanges().size());
    const DEVMODEA& applied = stub::ModeChanges()[0].devmode;
    EXPECT_EQ("800x600x32@75", Describe(DisplayMode{applied.dmPelsWidth, applied.dmPelsHeight,
                                                    applied.dmDisplayFrequency,
                                                    applied.dmBitsPerPel}));
    EXPECT_EQ(static_cast<DWORD>(CDS_UPDATEREGISTRY), stub::ModeChanges()[0].flags);
    before[1] = DisplayMode{800, 600, 75, 32};
    EXPECT_EQ(Describe(before), Describe(ModeList)) << "the entry is completed in the list";
    EXPECT_TRUE(stub::MessageBoxes().empty());
}

TEST_F(TrayWindow, AFailedSwitchFromTheMenuIsSilent)
{
    stub::ScriptChangeResults({DISP_CHANGE_BADMODE});
    Then([] {
        stub::ScriptMenuChoices({CMD_MODE_BASE});
        ASSERT_TRUE(stub::ClickTrayIcon(WM_LBUTTONDOWN));
    });
    Then([] { PostToTray(WM_CLOSE, 0, 0); });
    EXPECT_EQ(0, RunResident());
    EXPECT_EQ(1u, stub::ModeChanges().size());
    EXPECT_TRUE(stub::MessageBoxes().empty());
}

TEST_F(TrayWindow, TaskbarCreatedAddsTheIconAgainWithAFreshImage)
{
    struct Case {
        const char* what;
        std::function<void()> shell;
        bool elevated = false;
        const char* filter = "ChangeWindowMessageFilterEx"; // the one that lets it through
    };
    const std::vector<Case> cases = {
        {"after a shell restart", [] { stub::RestartShell(); }},
        {"while the icon is still there", [] { stub::BroadcastTaskbarCreated(); }},
        {"elevated, after a shell restart", [] { stub::RestartShell(); }, true},
        {"elevated, Vista's filter only", [] { stub::RestartShell(); }, true,
         "ChangeWindowMessageFilter"},
        {"Windows XP: no filter at all", [] { stub::RestartShell(); }, false, ""},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        stub::SeedElevated(c.elevated);
        if (std::string(c.filter) != "ChangeWindowMessageFilterEx") {
            stub::RemoveSystemFunction("ChangeWindowMessageFilterEx");
        }
        if (*c.filter == '\0') {
            stub::RemoveSystemFunction("ChangeWindowMessageFilter");
        }
        HICON first = nullptr;
        std::vector<stub::TrayIcon> shown;
        Then([&] {
            first = stub::TrayIcons().at(0).data.hIcon;
            cases[i].shell();
        });
        Then([&] {
            shown = stub::TrayIcons();
            PostToTray(WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(0, RunResident());

        ASSERT_EQ(1u, shown.size());
        EXPECT_TRUE(shown[0].hasImage);
        EXPECT_NE(first, shown[0].data.hIcon);
        EXPECT_EQ(1u, shown[0].data.uID);
        EXPECT_EQ(7u, shown[0].data.uFlags);
        EXPECT_EQ(1124u, shown[0].data.uCallbackMessage);
        EXPECT_STREQ("Quorin Tray", shown[0].data.szTip);
        EXPECT_EQ(2, stub::CountCalls("ExtractIconExW"));
        EXPECT_TRUE(stub::LiveIcons().empty()) << "an image was not freed";
        EXPECT_TRUE(stub::TrayIcons().empty()) << "the icon outlived the window";
        int added = 0;
        for (const stub::NotifyCall& call : stub::NotifyCalls()) {
            added += call.message == NIM_ADD && call.result == TRUE && call.liveImage ? 1 : 0;
        }
        EXPECT_EQ(2, added);

        if (*c.filter == '\0') {
            EXPECT_EQ(0, stub::CountCalls("ChangeWindowMessageFilterEx") +
                             stub::CountCalls("ChangeWindowMessageFilter"));
            continue;
        }
        // Only the shell's broadcast is let through, and before the first icon.
        const std::string message = std::to_string(stub::RegisteredMessage("TaskbarCreated"));
        const std::size_t filtered = FirstCall(c.filter);
        ASSERT_LT(filtered, stub::Calls().size()) << "no " << c.filter;
        EXPECT_EQ(std::string(c.filter) == "ChangeWindowMessageFilter"
                      ? message + " 1"
                      : Handle(stub::Windows().at(0).handle) + " " + message + " 1 0x0",
                  stub::Calls()[filtered].args);
        EXPECT_EQ(1, stub::CountCalls("ChangeWindowMessageFilterEx") +
                         stub::CountCalls("ChangeWindowMessageFilter"));
        EXPECT_LT(filtered, FirstCall("Shell_NotifyIconA"));
    }
}

TEST_F(TrayWindow, AFailedAddIsTriedAgainOnATimerUntilTheIconIsThere)
{
    using stub::TrayRefused;
    using stub::TrayTimedOut;
    struct Case {
        const char* what;
        std::vector<stub::TrayAddOutcome> atStart;
        std::function<void()> shellLater; // after the retries, if any
        int adds;
        int probes; // NIM_MODIFY: is the icon there already?
        bool shownAfterRetries;
        std::function<void()> midway = nullptr; // 101 s into the retries
    };
    const std::vector<Case> cases = {
        {"refused once at logon", {TrayRefused}, nullptr, 2, 1, true},
        {"refused three times", {TrayRefused, TrayRefused, TrayRefused}, nullptr, 4, 3, true},
        {"timed out, yet added", {TrayTimedOut}, nullptr, 1, 1, true},
        {"refused for ever, then the shell starts",
         std::vector<stub::TrayAddOutcome>(1000, TrayRefused),
         [] {
             stub::ScriptTrayAdds({});
             stub::RestartShell();
         },
         152, 150, false},
        {"refused for ever, a shell restart midway starts the 5 minutes over",
         std::vector<stub::TrayAddOutcome>(1000, TrayRefused),
         [] {
             stub::ScriptTrayAdds({});
             stub::RestartShell();
         },
         1 + 50 + 1 + 150 + 1, 50 + 150, false, [] { stub::RestartShell(); }},
        {"TaskbarCreated refused once", {},
         [] {
             stub::ScriptTrayAdds({TrayRefused});
             stub::RestartShell();
         },
         3, 1, true},
        {"TaskbarCreated timed out, yet added", {},
         [] {
             stub::ScriptTrayAdds({TrayTimedOut});
             stub::BroadcastTaskbarCreated();
         },
         2, 1, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        stub::ScriptTrayAdds(c.atStart);
        if (c.midway) {
            stub::AtTick(101000, c.midway);
        }
        std::size_t afterRetries = 0;
        DWORD retriesTook = 0;
        std::size_t timersLeft = 99;
        std::vector<stub::TrayIcon> shown;
        Then([&] {
            afterRetries = stub::TrayIcons().size();
            retriesTook = stub::TickCount();
            if (c.shellLater) {
                c.shellLater();
            }
        });
        Then([&] {
            shown = stub::TrayIcons();
            timersLeft = stub::LiveTimers().size();
            PostToTray(WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(0, RunResident());

        EXPECT_EQ(c.shownAfterRetries ? 1u : 0u, afterRetries);
        ASSERT_EQ(1u, shown.size()) << "icons at the end";
        EXPECT_TRUE(shown[0].hasImage);
        EXPECT_EQ(0u, timersLeft) << "a retry timer outlived its use";
        int adds = 0;
        int probes = 0;
        for (const stub::NotifyCall& call : stub::NotifyCalls()) {
            adds += call.message == NIM_ADD ? 1 : 0;
            probes += call.message == NIM_MODIFY ? 1 : 0;
            if (call.message == NIM_ADD) {
                EXPECT_TRUE(call.liveImage) << "an add without a fresh image";
            }
            if (call.message == NIM_MODIFY) {
                EXPECT_EQ(static_cast<UINT>(NIF_TIP), call.data.uFlags) << "a probe changed the icon";
            }
        }
        EXPECT_EQ(c.adds, adds);
        EXPECT_EQ(c.probes, probes);
        EXPECT_TRUE(stub::LiveIcons().empty()) << "an image was not freed";
        // Not a busy loop: about every 2 seconds, and for a few minutes at most.
        for (const stub::Call& call : stub::Calls()) {
            if (call.name == "SetTimer") {
                const std::string period = call.args.substr(call.args.find(' ', call.args.find(' ') + 1) + 1);
                EXPECT_EQ("2000 0x0", period);
            }
        }
        if (!c.shownAfterRetries) {
            EXPECT_GE(retriesTook, 180000u) << "gave up too soon";
            EXPECT_LE(retriesTook, 600000u) << "kept trying too long";
        }
    }
}

TEST_F(TrayWindow, OnAScaledDisplayTheMenuChecksTheModeTheDisplayIsIn)
{
    struct Case {
        const char* what;
        unsigned scale;
        bool olderWindows;    // no SetProcessDPIAware
        unsigned signInScale; // 0: the display's, unchanged since sign-in
    };
    const std::vector<Case> cases = {
        {"100 %", 100, false, 0},
        {"125 %", 125, false, 0},
        {"150 %", 150, false, 0},
        {"older Windows", 100, true, 0},
        // A display context shows 1067x800, then 2400x1800.
        {"raised from 100 % to 150 % after sign-in", 150, false, 100},
        {"lowered from 150 % to 100 % after sign-in", 100, false, 150},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        stub::SeedModes({{1280, 960, 32, 60}, {1600, 1200, 32, 75}, {1600, 1200, 32, 60}, {1600, 1200, 16, 60}});
        stub::SeedCurrentMode(stub::Mode{1600, 1200, 32, 75});
        stub::SeedDisplayScale(c.scale);
        stub::SeedSignInScale(c.signInScale);
        if (c.olderWindows) {
            stub::RemoveSystemFunction("SetProcessDPIAware");
        }
        Then([] { ASSERT_TRUE(stub::ClickTrayIcon(WM_RBUTTONDOWN)); });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());

        ASSERT_EQ(1u, stub::TrackedMenus().size());
        std::string items;
        for (const stub::MenuItem& item : stub::TrackedMenus()[0].tree.items) {
            items += item.checked ? "[" + item.text + "]" : item.text.empty() ? "" : item.text + ", ";
        }
        EXPECT_EQ("Settings, 1280x960 60 Hz, 1600x1200 60 Hz, [1600x1200 75 Hz]Exit, ", items);
        EXPECT_EQ(c.olderWindows ? 0 : 1, stub::CountCalls("SetProcessDPIAware"));
        if (!c.olderWindows) {
            EXPECT_LT(FirstCall("SetProcessDPIAware"), FirstCall("EnumDisplaySettingsA"))
                << "the display was read before the process declared itself DPI-aware";
        }
    }
}

TEST_F(TrayWindow, TaskbarCreatedWithTheImageGoneAddsAnEmptyIcon)
{
    std::vector<stub::TrayIcon> shown;
    Then([] {
        stub::SeedIconFile(IconFile, 0);
        stub::RestartShell();
    });
    Then([&] {
        shown = stub::TrayIcons();
        PostToTray(WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(0, RunResident());
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(nullptr, shown[0].data.hIcon) << "the stale handle of the first image was reused";
}

TEST_F(TrayWindow, OtherMessagesGoToTheDefaultUnchangedAndDoNotRebuild)
{
    struct Case {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool taskbarCreatedUnregistered = false; // its registration failed: no message is it
    };
    const std::vector<Case> cases = {
        {WM_DISPLAYCHANGE, 16, 0x02580320},
        {WM_NULL, 0, 0},
        {WM_USER + 1, 0xFFFFFFFF, -1},
        {WM_TRAYNOTIFY + 1, TRAY_ICON_ID, WM_RBUTTONDOWN},
        {WM_NULL, 0, 0, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": message " + std::to_string(c.message));
        Fresh();
        if (c.taskbarCreatedUnregistered) {
            stub::FailMessageRegistration("TaskbarCreated");
        }
        std::size_t mark = 0;
        Then([&] {
            mark = stub::Calls().size();
            TrayWindowProc(Tray(), c.message, c.wParam, c.lParam);
        });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());
        HWND window = stub::Windows().at(0).handle;
        ASSERT_LT(mark, stub::Calls().size());
        EXPECT_EQ("DefWindowProcA", stub::Calls()[mark].name);
        EXPECT_EQ(Messages(window, c.message, c.wParam, c.lParam), stub::Calls()[mark].args);
        EXPECT_EQ(0, RebuildsSince(mark));
        EXPECT_TRUE(stub::TrackedMenus().empty());
    }
}

// The modes of the item list, as "label|[checked label]|...".
std::string ModeItems(const stub::Menu& menu)
{
    std::string items;
    for (std::size_t i = 2; i + 2 < menu.items.size(); ++i) {
        const stub::MenuItem& item = menu.items[i];
        items += (items.empty() ? "" : "|") + (item.checked ? "[" + item.text + "]" : item.text);
    }
    return items;
}

TEST_F(TrayWindow, EachMenuListsWhatTheDisplayOffersAsItOpens)
{
    std::vector<stub::Mode> gained = DisplayModes;
    gained.push_back({1600, 1200, 32, 60});
    std::vector<stub::Mode> lost = DisplayModes;
    lost.erase(lost.begin() + 1); // 800x600
    std::vector<stub::Mode> lostFirst = DisplayModes;
    lostFirst.erase(lostFirst.begin()); // 640x480
    struct Case {
        const char* what;
        std::vector<stub::Mode> modes; // the display's, by the time of the press
        stub::Mode current;
        const char* items; // the mode items shown, the checked one in brackets
        UINT choice;       // 0: the menu is closed without one
        const char* applied;
        std::vector<stub::Mode> asChosen = {}; // the display's modes by the time of the choice
    };
    const std::vector<Case> cases = {
        {"another program switched to 800x600", DisplayModes, {800, 600, 32, 75},
         "640x480 60 Hz|[800x600 75 Hz]|1024x768 85 Hz", 0, ""},
        {"a mode gained, as when a laptop is docked", gained, {1024, 768, 32, 60},
         "640x480 60 Hz|800x600 75 Hz|[1024x768 85 Hz]|1600x1200 60 Hz", CMD_MODE_BASE + 3,
         "1600x1200x32@60"},
        {"a mode lost, as when a monitor is swapped", lost, {1024, 768, 32, 60},
         "640x480 60 Hz|[1024x768 85 Hz]", CMD_MODE_BASE + 1, "1024x768x32@85"},
        {"another program changed the depth", DisplayModes, {1024, 768, 16, 60},
         "[1024x768 60 Hz]", 0, ""},
        {"rates listed falling, the display at a middle one",
         {{800, 600, 32, 85}, {800, 600, 32, 75}, {800, 600, 32, 60}}, {800, 600, 32, 75},
         "800x600 60 Hz|[800x600 75 Hz]|800x600 85 Hz", CMD_MODE_BASE + 2, "800x600x32@85"},
        {"the display changes while the menu is open: the item shown is applied", DisplayModes,
         {1024, 768, 32, 60}, "640x480 60 Hz|800x600 75 Hz|[1024x768 85 Hz]", CMD_MODE_BASE + 1,
         "800x600x32@75", lostFirst},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        Fresh();
        std::size_t mark = 0;
        Then([&] {
            stub::SeedModes(c.modes);
            stub::SeedCurrentMode(c.current);
            mark = stub::Calls().size();
            ASSERT_TRUE(stub::ClickTrayIcon(WM_LBUTTONDOWN));
        });
        // The command that the menu posts as it closes, checked against the
        // items above rather than scripted into a menu that may lack it.
        Then([&] {
            if (!c.asChosen.empty()) {
                stub::SeedModes(c.asChosen);
            }
            if (c.choice != 0) {
                PostToTray(WM_COMMAND, c.choice, 0);
            }
        });
        Then([] { PostToTray(WM_CLOSE, 0, 0); });
        EXPECT_EQ(0, RunResident());

        ASSERT_EQ(1u, stub::TrackedMenus().size());
        EXPECT_EQ(c.items, ModeItems(stub::TrackedMenus()[0].tree));
        EXPECT_EQ(1, RebuildsSince(mark)) << "one rebuild as the menu opens, none for the choice";
        std::string applied;
        for (const stub::ModeChange& change : stub::ModeChanges()) {
            applied += Describe(DisplayMode{change.devmode.dmPelsWidth, change.devmode.dmPelsHeight,
                                            change.devmode.dmDisplayFrequency,
                                            change.devmode.dmBitsPerPel});
        }
        EXPECT_EQ(c.applied, applied);
    }
}

// The window code relies on these Windows behaviours of the stand-in.
TEST_F(TrayWindow, StandInShellKeepsOneIconPerWindowAndIdentifier)
{
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    data.uID = 1;
    EXPECT_EQ(FALSE, Shell_NotifyIconA(NIM_DELETE, &data)) << "delete of a missing icon";
    EXPECT_EQ(TRUE, Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_EQ(FALSE, Shell_NotifyIconA(NIM_ADD, &data)) << "second add of the same icon";
    data.uID = 2;
    EXPECT_EQ(TRUE, Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_EQ(2u, stub::TrayIcons().size());
    stub::RestartShell();
    EXPECT_TRUE(stub::TrayIcons().empty());
    EXPECT_EQ(FALSE, Shell_NotifyIconA(NIM_DELETE, &data));
}

TEST_F(TrayWindow, StandInAbortsALoopThatWouldWaitForEver)
{
    MSG msg;
    EXPECT_DEATH(GetMessageA(&msg, nullptr, 0, 0), "would wait for ever");
}

} // namespace
