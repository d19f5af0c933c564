#include "settings/settings.h"
#include "stub.h"
#include "stub_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const char SettingsKey[] = "Software\\Quorin";
const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where the 32-bit program's writes land on 64-bit Windows.
const char Run32Key[] = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const char ApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const char Approved32Key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run32";
const char DefaultPath[] = "C:\\Program Files\\Quorin\\quorin.exe";

struct Seed {
    HKEY root;
    const char* path;
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
};

Seed LoRes(DWORD type, const std::vector<BYTE>& data)
{
    return Seed{HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes", type, data};
}

Seed NonStd(DWORD type, const std::vector<BYTE>& data)
{
    return Seed{HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio", type, data};
}

Seed RunValue(DWORD type, const std::vector<BYTE>& data, const char* key = RunKey)
{
    return Seed{HKEY_LOCAL_MACHINE, key, "Quorin", type, data};
}

// As Task Manager writes it: the flags, then a FILETIME.
std::vector<BYTE> Approval(BYTE flags)
{
    std::vector<BYTE> data = {flags, 0, 0, 0, 0x10, 0x2b, 0x6e, 0x1c, 0x93, 0x5a, 0xdb, 0x01};
    return data;
}

// 259 characters: GetModuleFileNameW cuts it, and no Run value is written.
const std::string PathTooLong = "C:\\" + std::string(256, 'a');

Seed Approved(BYTE flags, const char* key = ApprovedKey)
{
    return Seed{HKEY_LOCAL_MACHINE, key, "Quorin", REG_BINARY, Approval(flags)};
}

void Plant(const std::vector<Seed>& seeds)
{
    for (const Seed& seed : seeds) {
        if (seed.name == nullptr) {
            stub::SeedRegistryKey(seed.root, seed.path);
        } else {
            stub::SeedRegistryValue(seed.root, seed.path, seed.name, seed.type, seed.data);
        }
    }
}

std::string Describe(const SettingsRecord& settings)
{
    return "{minWidth " + std::to_string(settings.minWidth) + ", showNonStdRatio " +
           std::to_string(settings.showNonStdRatio) + ", autostart " +
           std::to_string(settings.autostart) + "}";
}

std::vector<std::string> CallLines()
{
    std::vector<std::string> lines;
    for (const stub::Call& call : stub::Calls()) {
        lines.push_back(call.name + " " + call.args);
    }
    return lines;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

std::string Repeat(const std::string& text, std::size_t times)
{
    std::string repeated;
    for (std::size_t i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        stub::Reset();
        Settings = SettingsRecord{640, false, false};
    }
};

} // namespace

TEST_F(SettingsStore, LoadCases)
{
    const std::string otherProgram = "C:\\Tools\\other.exe";
    struct {
        const char* what;
        std::vector<Seed> seeds;
        int denyUser;
        int denyMachine;
        std::uint32_t minWidth;
        bool showNonStdRatio;
        bool autostart;
        bool wow64 = false; // the 32-bit program on 64-bit Windows
        bool olderWindows = false; // no IsWow64Process
    } const cases[] = {
        {"nothing stored", {}, 0, 0, 640, false, false},
        {"empty keys",
         {Seed{HKEY_CURRENT_USER, SettingsKey, nullptr, REG_NONE, {}},
          Seed{HKEY_LOCAL_MACHINE, RunKey, nullptr, REG_NONE, {}}}, 0, 0, 640, false, false},
        {"DisplayLoRes REG_DWORD 7", {LoRes(REG_DWORD, stub::RegistryDword(7))}, 0, 0, 0, false, false},
        {"DisplayLoRes REG_DWORD 0", {LoRes(REG_DWORD, stub::RegistryDword(0))}, 0, 0, 640, false, false},
        {"DisplayLoRes REG_DWORD 0xffffffff", {LoRes(REG_DWORD, stub::RegistryDword(0xffffffffu))}, 0, 0, 0, false, false},
        {"DisplayLoRes REG_SZ", {LoRes(REG_SZ, stub::RegistryText("1"))}, 0, 0, 640, false, false},
        {"DisplayLoRes 4-byte REG_BINARY", {LoRes(REG_BINARY, stub::RegistryDword(1))}, 0, 0, 640, false, false},
        {"DisplayLoRes 8-byte REG_QWORD", {LoRes(REG_QWORD, stub::RegistryQword(1))}, 0, 0, 640, false, false},
        {"DisplayLoRes 3-byte REG_DWORD", {LoRes(REG_DWORD, {1, 0, 0})}, 0, 0, 640, false, false},
        {"DisplayLoRes 8-byte REG_DWORD", {LoRes(REG_DWORD, stub::RegistryQword(1))}, 0, 0, 640, false, false},
        {"DisplayNonStdRatio 1 alone", {NonStd(REG_DWORD, stub::RegistryDword(1))}, 0, 0, 640, true, false},
        {"DisplayNonStdRatio 0, DisplayLoRes 1",
         {NonStd(REG_DWORD, stub::RegistryDword(0)), LoRes(REG_DWORD, stub::RegistryDword(1))}, 0, 0, 0, false, false},
        {"DisplayNonStdRatio read after an oversized DisplayLoRes",
         {LoRes(REG_QWORD, stub::RegistryQword(1)), NonStd(REG_DWORD, stub::RegistryDword(1))}, 0, 0, 640, true, false},
        {"DisplayNonStdRatio REG_BINARY", {NonStd(REG_BINARY, stub::RegistryDword(1))}, 0, 0, 640, false, false},
        {"Run value of this program", {RunValue(REG_SZ, stub::RegistryText(Quoted(DefaultPath)))}, 0, 0, 640, false, true},
        {"Run value of another program", {RunValue(REG_SZ, stub::RegistryText(otherProgram))}, 0, 0, 640, false, true},
        {"Run value empty", {RunValue(REG_SZ, stub::RegistryText(""))}, 0, 0, 640, false, true},
        {"Run value REG_EXPAND_SZ", {RunValue(REG_EXPAND_SZ, stub::RegistryText(otherProgram))}, 0, 0, 640, false, false},
        {"Run value REG_DWORD", {RunValue(REG_DWORD, stub::RegistryDword(1))}, 0, 0, 640, false, false},
        // Room for the longest path saving writes, its quotes and the NUL.
        {"Run value of 262 characters", {RunValue(REG_SZ, stub::RegistryText(std::string(262, 'x')))}, 0, 0, 640, false, true},
        {"Run value one character too long", {RunValue(REG_SZ, stub::RegistryText(std::string(263, 'x')))}, 0, 0, 640, false, false},
        {"Run value switched off in Task Manager",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(3)}, 0, 0, 640, false, false},
        {"Run value switched off, 07", {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(7)}, 0, 0, 640, false, false},
        {"Run value switched on again, 02", {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(2)}, 0, 0, 640, false, true},
        {"Run value switched on, 06", {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(6)}, 0, 0, 640, false, true},
        {"an approval that is no REG_BINARY counts for nothing",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram)),
          Seed{HKEY_LOCAL_MACHINE, ApprovedKey, "Quorin", REG_DWORD, stub::RegistryDword(3)}}, 0, 0, 640, false, true},
        {"an approval without its Run value", {Approved(2)}, 0, 0, 640, false, false},
        {"an empty approval counts for nothing",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram)),
          Seed{HKEY_LOCAL_MACHINE, ApprovedKey, "Quorin", REG_BINARY, {}}}, 0, 0, 640, false, true},
        {"an approval of the 32-bit view's entry",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(3, Approved32Key)}, 0, 0, 640, false, true},
        {"32-bit on 64-bit: switched off",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram), Run32Key), Approved(3, Approved32Key)}, 0, 0, 640, false, false, true},
        {"32-bit on 64-bit: an approval of the 64-bit view's entry",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram), Run32Key), Approved(3)}, 0, 0, 640, false, true, true},
        {"32-bit on 64-bit: a Run value in the 64-bit view only",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram))}, 0, 0, 640, false, false, true},
        // Windows XP before SP2: no IsWow64Process, and no 64-bit Windows.
        {"no IsWow64Process: switched off in the only view",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram)), Approved(3)}, 0, 0, 640, false, false, false, true},
        {"all three",
         {LoRes(REG_DWORD, stub::RegistryDword(1)), NonStd(REG_DWORD, stub::RegistryDword(1)),
          RunValue(REG_SZ, stub::RegistryText(otherProgram))}, 0, 0, 0, true, true},
        {"user part unreadable",
         {LoRes(REG_DWORD, stub::RegistryDword(1)), NonStd(REG_DWORD, stub::RegistryDword(1)),
          RunValue(REG_SZ, stub::RegistryText(otherProgram))}, stub::RegDenyRead, 0, 640, false, true},
        {"machine part unreadable",
         {LoRes(REG_DWORD, stub::RegistryDword(1)), RunValue(REG_SZ, stub::RegistryText(otherProgram))},
         0, stub::RegDenyRead, 0, false, false},
        {"machine part not writable",
         {RunValue(REG_SZ, stub::RegistryText(otherProgram))}, 0, stub::RegDenyWrite, 640, false, true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        Plant(c.seeds);
        stub::SeedWow64(c.wow64);
        if (c.olderWindows) {
            stub::RemoveSystemFunction("IsWow64Process");
        }
        stub::DenyRegistryAccess(HKEY_CURRENT_USER, c.denyUser);
        stub::DenyRegistryAccess(HKEY_LOCAL_MACHINE, c.denyMachine);
        const std::vector<std::string> keysBefore = stub::RegistryKeys();
        Settings = SettingsRecord{123, true, true};

        LoadSettings();

        EXPECT_EQ(c.minWidth, Settings.minWidth);
        EXPECT_EQ(c.showNonStdRatio, Settings.showNonStdRatio);
        EXPECT_EQ(c.autostart, Settings.autostart);
        EXPECT_EQ(keysBefore, stub::RegistryKeys()) << "loading changed the keys";
        EXPECT_EQ(0, stub::CountCalls("RegCreateKeyExA"));
        EXPECT_EQ(0, stub::CountCalls("RegSetValueExA"));
        EXPECT_EQ(0, stub::CountCalls("RegDeleteValueA"));
        EXPECT_EQ(0, stub::OpenRegistryKeys()) << "keys left open";
    }
}

TEST_F(SettingsStore, LoadCallsAndByteCounts)
{
    // The oversized first value makes the stand-in report 8 bytes back: the
    // second query must start from 4 again.
    Plant({LoRes(REG_QWORD, stub::RegistryQword(1)), NonStd(REG_DWORD, stub::RegistryDword(1)),
           RunValue(REG_SZ, stub::RegistryText("x"))});

    LoadSettings();

    const std::string settingsKey = "HKEY_CURRENT_USER\\Software\\Quorin";
    const std::string runKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::vector<std::string> expected = {
        "RegOpenKeyExA HKEY_CURRENT_USER \"Software\\Quorin\" 0 0x20019",
        "RegQueryValueExA " + settingsKey + " \"DisplayLoRes\" (null) out out 4",
        "RegQueryValueExA " + settingsKey + " \"DisplayNonStdRatio\" (null) out out 4",
        "RegCloseKey " + settingsKey,
        "RegOpenKeyExA HKEY_LOCAL_MACHINE \"Software\\Microsoft\\Windows\\CurrentVersion\\Run\" 0 0x20019",
        // MAX_PATH characters, two quotes and the NUL, of two bytes each.
        "RegQueryValueExW " + runKey + " \"Quorin\" (null) out out 526",
        "RegCloseKey " + runKey,
        "GetModuleHandleA \"kernel32.dll\"",
        "GetProcAddress 0x76b00000 \"IsWow64Process\"",
        "GetCurrentProcess ",
        "IsWow64Process 0xffffffffffffffff",
        "RegOpenKeyExA HKEY_LOCAL_MACHINE \"" + std::string(ApprovedKey) + "\" 0 0x20019",
    };
    EXPECT_EQ(expected, CallLines());
}

TEST_F(SettingsStore, SaveThenLoadRoundTrip)
{
    for (int bits = 0; bits < 8; ++bits) {
        const SettingsRecord wanted = {(bits & 1) != 0 ? 0u : 640u, (bits & 2) != 0, (bits & 4) != 0};
        SCOPED_TRACE("case " + std::to_string(bits) + ": " + Describe(wanted));
        stub::Reset();
        Settings = wanted;

        EXPECT_TRUE(SaveSettings(true));
        EXPECT_EQ(Describe(wanted), Describe(Settings)) << "saving changed a field";

        const stub::RegistryValue lowRes =
            stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes");
        const stub::RegistryValue nonStd =
            stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio");
        const stub::RegistryValue run = stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin");
        EXPECT_TRUE(lowRes.found && lowRes.type == REG_DWORD);
        EXPECT_EQ(stub::RegistryDword(wanted.minWidth == 0 ? 1 : 0), lowRes.data);
        EXPECT_TRUE(nonStd.found && nonStd.type == REG_DWORD);
        EXPECT_EQ(stub::RegistryDword(wanted.showNonStdRatio ? 1 : 0), nonStd.data);
        EXPECT_EQ(wanted.autostart, run.found);
        EXPECT_EQ(0, stub::OpenRegistryKeys()) << "keys left open by saving";

        Settings = SettingsRecord{123, !wanted.showNonStdRatio, !wanted.autostart};
        LoadSettings();
        EXPECT_EQ(Describe(wanted), Describe(Settings)) << "loaded back";
        EXPECT_EQ(0, stub::OpenRegistryKeys()) << "keys left open by loading";
    }
}

TEST_F(SettingsStore, AutostartRoundTripForEveryPathSavingWrites)
{
    struct {
        const char* what;
        std::string path;
        UINT codePage;
    } const cases[] = {
        {"200 characters", "C:\\" + std::string(197, 'a'), 1252},
        {"254 characters", "C:\\" + std::string(251, 'a'), 1252},
        {"255 characters", "C:\\" + std::string(252, 'a'), 1252},
        {"258 characters, the longest saved", "C:\\" + std::string(255, 'a'), 1252},
        // 134 letters, 257 bytes in ANSI with the quotes and the NUL.
        {"Japanese letters on a double-byte code page", "C:\\" + Repeat("ツール", 40) + "\\quorin.exe", 932},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        stub::SeedAnsiCodePage(c.codePage);
        stub::SeedModulePath(c.path);
        Settings = SettingsRecord{640, false, true};
        EXPECT_TRUE(SaveSettings(false));
        EXPECT_EQ(stub::RegistryWideText(Quoted(c.path)),
                  stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin").data);

        Settings.autostart = false;
        LoadSettings();
        EXPECT_TRUE(Settings.autostart) << "loaded back";
        EXPECT_EQ(0, stub::OpenRegistryKeys());
    }
}

TEST_F(SettingsStore, TaskManagerApprovalFollowsTheMark)
{
    const std::vector<BYTE> on = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct {
        const char* what;
        bool autostart;
        std::vector<Seed> seeds;
        bool wow64;
        const char* failingKey; // the approval's write fails there
        bool agrees;
        bool approvalLeft; // any approval value afterwards
        const char* approvalKey;
        const char* modulePath = nullptr;
    } const cases[] = {
        {"on, never approved", true, {}, false, nullptr, true, true, ApprovedKey},
        {"on, switched off in Task Manager", true, {Approved(3)}, false, nullptr, true, true, ApprovedKey},
        {"on, 32-bit on 64-bit: the 64-bit view's Run32", true, {Approved(3, Approved32Key)}, true, nullptr, true, true,
         Approved32Key},
        {"on, the approval not written, none there", true, {}, false, "StartupApproved\\Run", true, false, ApprovedKey},
        {"on, the approval not written, switched off", true, {Approved(3)}, false, "StartupApproved\\Run", false, true,
         ApprovedKey},
        {"off, switched on", false, {RunValue(REG_SZ, stub::RegistryText("x")), Approved(2)}, false, nullptr, true, false,
         ApprovedKey},
        {"off, 32-bit on 64-bit", false, {RunValue(REG_SZ, stub::RegistryText("x"), Run32Key), Approved(2, Approved32Key)},
         true, nullptr, true, false, Approved32Key},
        {"off, the approval not removed: no Run value, off all the same", false,
         {RunValue(REG_SZ, stub::RegistryText("x")), Approved(2)}, false, "StartupApproved\\Run", true, true, ApprovedKey},
        {"off, never approved", false, {}, false, nullptr, true, false, ApprovedKey},
        // The entry stays off in Task Manager as the mark does.
        {"on, switched off, a path that does not fit", true, {Approved(3)}, false, nullptr, false, true, ApprovedKey,
         PathTooLong.c_str()},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        Plant(c.seeds);
        stub::SeedWow64(c.wow64);
        if (c.modulePath != nullptr) {
            stub::SeedModulePath(c.modulePath);
        }
        if (c.failingKey != nullptr) {
            stub::FailNextRegistryWrite("Quorin", ERROR_ACCESS_DENIED, c.failingKey);
        }
        Settings = SettingsRecord{640, false, c.autostart};

        EXPECT_EQ(c.agrees, SaveSettings(false));

        const stub::RegistryValue run =
            stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, c.wow64 ? Run32Key : RunKey, "Quorin");
        EXPECT_EQ(c.autostart && c.modulePath == nullptr, run.found);
        const stub::RegistryValue approval = stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, c.approvalKey, "Quorin");
        EXPECT_EQ(c.approvalLeft, approval.found);
        if (!c.agrees) {
            EXPECT_EQ(Approval(3), approval.data) << "the switch-off was undone";
        }
        if (c.autostart && c.agrees && c.failingKey == nullptr) {
            EXPECT_EQ(static_cast<DWORD>(REG_BINARY), approval.type);
            EXPECT_EQ(on, approval.data);
        }
        EXPECT_FALSE(stub::RegistryKeyExists(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\Microsoft\\Windows\\"
                                                                "CurrentVersion\\Explorer"))
            << "an approval in the 32-bit view, which Windows never reads";
        EXPECT_EQ(0, stub::OpenRegistryKeys());

        Settings.autostart = !c.autostart;
        LoadSettings();
        EXPECT_EQ(c.agrees ? c.autostart : !c.autostart, Settings.autostart) << "loaded back";
    }
}

TEST_F(SettingsStore, SaveWithoutDisplayValues)
{
    // Filters that differ from what is stored stay unsaved.
    Plant({LoRes(REG_DWORD, stub::RegistryDword(0)), NonStd(REG_DWORD, stub::RegistryDword(0))});
    Settings = SettingsRecord{0, true, false};

    EXPECT_TRUE(SaveSettings(false));

    EXPECT_EQ(stub::RegistryDword(0),
              stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").data);
    EXPECT_EQ(stub::RegistryDword(0),
              stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio").data);
    EXPECT_EQ(0, stub::CountCalls("RegSetValueExA"));
    EXPECT_EQ(0, stub::OpenRegistryKeys());

    // Where the key was missing, an empty one stays behind.
    stub::Reset();
    Settings = SettingsRecord{0, true, true};

    EXPECT_TRUE(SaveSettings(false));

    EXPECT_TRUE(stub::RegistryKeyExists(HKEY_CURRENT_USER, SettingsKey));
    EXPECT_EQ(std::vector<std::string>(), stub::RegistryValueNames(HKEY_CURRENT_USER, SettingsKey));
    EXPECT_EQ(std::vector<std::string>{"Quorin"}, stub::RegistryValueNames(HKEY_LOCAL_MACHINE, RunKey));
    EXPECT_EQ(0, stub::OpenRegistryKeys());
}

TEST_F(SettingsStore, SaveCalls)
{
    stub::SeedModulePath("C:\\Q\\quorin.exe");
    Settings = SettingsRecord{0, true, true};

    EXPECT_TRUE(SaveSettings(true));

    const std::string settingsKey = "HKEY_CURRENT_USER\\Software\\Quorin";
    const std::string runKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string approvedKey = "HKEY_LOCAL_MACHINE\\" + std::string(ApprovedKey);
    const std::string createRun =
        "RegCreateKeyExA HKEY_LOCAL_MACHINE \"Software\\Microsoft\\Windows\\CurrentVersion\\Run\" 0 \"\" 0 "
        "0xf003f 0x0";
    const std::vector<std::string> written = {
        "RegCreateKeyExA HKEY_CURRENT_USER \"Software\\Quorin\" 0 \"\" 0 0x20006 0x0",
        "RegSetValueExA " + settingsKey + " \"DisplayNonStdRatio\" 0 4 {01 00 00 00} 4",
        "RegSetValueExA " + settingsKey + " \"DisplayLoRes\" 0 4 {01 00 00 00} 4",
        "RegCloseKey " + settingsKey,
        createRun,
        "GetModuleFileNameW 0x0 259",
        "RegSetValueExW " + runKey + " \"Quorin\" 0 1 \"\"C:\\Q\\quorin.exe\"\" 36",
        "RegCloseKey " + runKey,
        "GetModuleHandleA \"kernel32.dll\"",
        "GetProcAddress 0x76b00000 \"IsWow64Process\"",
        "GetCurrentProcess ",
        "IsWow64Process 0xffffffffffffffff",
        "RegCreateKeyExA HKEY_LOCAL_MACHINE \"" + std::string(ApprovedKey) + "\" 0 \"\" 0 0x20006 0x0",
        "RegSetValueExA " + approvedKey + " \"Quorin\" 0 3 {02 00 00 00 00 00 00 00 00 00 00 00} 12",
        "RegCloseKey " + approvedKey,
    };
    EXPECT_EQ(written, CallLines());

    stub::Reset();
    Settings = SettingsRecord{640, false, false};

    EXPECT_TRUE(SaveSettings(false));

    const std::vector<std::string> removed = {
        "RegCreateKeyExA HKEY_CURRENT_USER \"Software\\Quorin\" 0 \"\" 0 0x20006 0x0",
        "RegCloseKey " + settingsKey,
        createRun,
        "RegDeleteValueA " + runKey + " \"Quorin\"",
        "RegCloseKey " + runKey,
        "GetModuleHandleA \"kernel32.dll\"",
        "GetProcAddress 0x76b00000 \"IsWow64Process\"",
        "GetCurrentProcess ",
        "IsWow64Process 0xffffffffffffffff",
        // Removing makes no key.
        "RegOpenKeyExA HKEY_LOCAL_MACHINE \"" + std::string(ApprovedKey) + "\" 0 0x2",
    };
    EXPECT_EQ(removed, CallLines());
}

TEST_F(SettingsStore, RunValueFromModulePath)
{
    const std::string old = Quoted("D:\\old\\quorin.exe");
    struct {
        const char* what;
        std::string path;
        DWORD failure;
        bool written;
    } const cases[] = {
        {"path with blanks", DefaultPath, 0, true},
        {"path without blanks", "C:\\quorin.exe", 0, true},
        {"258 characters, the longest that fits", "C:\\" + std::string(255, 'a'), 0, true},
        {"259 characters, cut", "C:\\" + std::string(256, 'a'), 0, false},
        {"400 characters, cut", "C:\\" + std::string(397, 'a'), 0, false},
        {"GetModuleFileNameW fails", DefaultPath, ERROR_ACCESS_DENIED, false},
        // Letters outside the ANSI code page, which its path would turn into
        // '?' or look-alikes such as L for Ł.
        {"Cyrillic folder", "C:\\Программы\\Quorin\\quorin.exe", 0, true},
        {"Polish folder", "C:\\Łódź\\Quorin\\quorin.exe", 0, true},
        {"Japanese folder", "C:\\ツール\\Quorin\\quorin.exe", 0, true},
        {"258 Cyrillic characters, the longest that fits", "C:\\" + Repeat("ж", 255), 0, true},
        {"259 Cyrillic characters, cut", "C:\\" + Repeat("ж", 256), 0, false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        Plant({RunValue(REG_SZ, stub::RegistryText(old))});
        stub::SeedModulePath(c.path);
        if (c.failure != 0) {
            stub::FailModulePath(c.failure);
        }
        Settings = SettingsRecord{640, false, true};

        EXPECT_EQ(c.written, SaveSettings(false));

        const stub::RegistryValue run = stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin");
        EXPECT_TRUE(run.found);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), run.type);
        const std::vector<BYTE> want =
            c.written ? stub::RegistryWideText(Quoted(c.path)) : stub::RegistryText(old);
        EXPECT_EQ(want, run.data) << "want " << (c.written ? Quoted(c.path) : old);
        EXPECT_EQ(c.written ? 1 : 0, stub::CountCalls("RegSetValueExW"));
        EXPECT_TRUE(Settings.autostart) << "saving changed a field";
        EXPECT_EQ(0, stub::OpenRegistryKeys());
    }
}

TEST_F(SettingsStore, MachinePartNotWritable)
{
    const std::vector<BYTE> other = stub::RegistryText("C:\\Tools\\other.exe");
    for (int autostart = 0; autostart < 2; ++autostart) {
        SCOPED_TRACE("case autostart " + std::to_string(autostart));
        stub::Reset();
        // With autostart set nothing is there to agree; with it clear the
        // entry that should go stays.
        if (autostart == 0) {
            Plant({RunValue(REG_SZ, other)});
        } else {
            stub::SeedRegistryKey(HKEY_LOCAL_MACHINE, RunKey);
        }
        stub::DenyRegistryAccess(HKEY_LOCAL_MACHINE, stub::RegDenyWrite);
        Settings = SettingsRecord{0, true, autostart != 0};

        EXPECT_FALSE(SaveSettings(true));

        EXPECT_EQ(stub::RegistryDword(1),
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").data);
        EXPECT_EQ(stub::RegistryDword(1),
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio").data);
        const stub::RegistryValue run = stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin");
        EXPECT_EQ(autostart == 0, run.found);
        if (run.found) {
            EXPECT_EQ(other, run.data);
        }
        EXPECT_EQ(autostart != 0, Settings.autostart) << "saving changed a field";
        EXPECT_EQ(0, stub::OpenRegistryKeys());
    }
}

TEST_F(SettingsStore, UserPartNotWritable)
{
    stub::DenyRegistryAccess(HKEY_CURRENT_USER, stub::RegDenyWrite);
    Settings = SettingsRecord{0, true, true};

    EXPECT_TRUE(SaveSettings(true));

    EXPECT_FALSE(stub::RegistryKeyExists(HKEY_CURRENT_USER, SettingsKey));
    EXPECT_EQ(stub::RegistryWideText(Quoted(DefaultPath)),
              stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin").data);
    EXPECT_EQ(2, stub::CountCalls("RegCloseKey")) << "only the Run key and its approval were opened";
    EXPECT_EQ(0, stub::OpenRegistryKeys());
}

TEST_F(SettingsStore, FailedWriteDoesNotStopTheNext)
{
    const std::vector<BYTE> old = stub::RegistryText("C:\\old.exe");
    struct {
        const char* failing;
        bool autostart;
        bool nonStdWritten;
        bool lowResWritten;
        bool agrees;
    } const cases[] = {
        {"DisplayNonStdRatio", true, false, true, true},
        {"DisplayLoRes", true, true, false, true},
        {"Quorin", true, true, true, false},
        {"Quorin", false, true, true, false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.failing + " fails, autostart " +
                     std::to_string(c.autostart));
        stub::Reset();
        Plant({RunValue(REG_SZ, old)});
        stub::FailNextRegistryWrite(c.failing, ERROR_ACCESS_DENIED);
        Settings = SettingsRecord{0, true, c.autostart};

        EXPECT_EQ(c.agrees, SaveSettings(true));

        EXPECT_EQ(c.nonStdWritten,
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayNonStdRatio").found);
        EXPECT_EQ(c.lowResWritten,
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, SettingsKey, "DisplayLoRes").found);
        const stub::RegistryValue run = stub::ReadRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Quorin");
        const bool runChanged = !run.found || run.data != old;
        EXPECT_EQ(c.agrees, runChanged);
        EXPECT_EQ(0, stub::OpenRegistryKeys());
    }
}

TEST_F(SettingsStore, AutostartRemoval)
{
    struct {
        const char* what;
        bool present;
    } const cases[] = {
        {"entry present", true},
        {"entry missing", false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.what);
        stub::Reset();
        stub::SeedRegistryValue(HKEY_LOCAL_MACHINE, RunKey, "Other", REG_SZ, stub::RegistryText("x"));
        if (c.present) {
            Plant({RunValue(REG_SZ, stub::RegistryText(Quoted(DefaultPath)))});
        }
        const std::vector<std::string> keysBefore = stub::RegistryKeys();

        EXPECT_TRUE(SaveSettings(false));

        EXPECT_EQ(std::vector<std::string>{"Other"}, stub::RegistryValueNames(HKEY_LOCAL_MACHINE, RunKey));
        // The settings key is the only key saving may add.
        std::vector<std::string> keysAfter = keysBefore;
        keysAfter.push_back("HKEY_CURRENT_USER\\Software");
        keysAfter.push_back("HKEY_CURRENT_USER\\Software\\Quorin");
        std::sort(keysAfter.begin(), keysAfter.end());
        EXPECT_EQ(keysAfter, stub::RegistryKeys());
        EXPECT_EQ(0, stub::CountCalls("GetModuleFileNameA"));
        EXPECT_EQ(0, stub::OpenRegistryKeys());
    }
}

// The settings tests rely on these traits of the platform; they hold on
// Windows and under Wine alike.
TEST_F(SettingsStore, StandInBehavesLikeWindows)
{
    stub::SeedRegistryValue(HKEY_CURRENT_USER, "Software\\Quorin", "Big", REG_BINARY,
                            std::vector<BYTE>(10, 7));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\quorin", 0, KEY_READ, &key))
        << "key names ignore case";

    BYTE data[4] = {1, 2, 3, 4};
    DWORD type = 0;
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "big", nullptr, &type, data, &size));
    EXPECT_EQ(10u, size) << "the size needed";
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_NE(7, data[0]) << "data written although it did not fit";
    size = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Missing", nullptr, &type, data, &size));

    const DWORD one = 1;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegSetValueExA(key, "Big", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one))
        << "a key opened for reading takes no writes";
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(key, "Big"));
    EXPECT_EQ(1, stub::OpenRegistryKeys());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\None", 0, KEY_READ, &key));

    stub::DenyRegistryAccess(HKEY_LOCAL_MACHINE, stub::RegDenyWrite);
    char emptyClass[] = "";
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, emptyClass, 0,
                                                   KEY_READ, nullptr, &key, &disposition))
        << "creating needs the right to write";
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A\\B", 0, emptyClass, 0,
                                             KEY_WRITE, nullptr, &key, &disposition));
    EXPECT_EQ(stub::RegCreatedNewKey, disposition);
    EXPECT_TRUE(stub::RegistryKeyExists(HKEY_CURRENT_USER, "Software\\A"));
    RegCloseKey(key);
    EXPECT_EQ(0, stub::OpenRegistryKeys());

    char path[8];
    stub::SeedModulePath("C:\\quorin.exe");
    EXPECT_EQ(sizeof path, GetModuleFileNameA(nullptr, path, sizeof path)) << "a cut path fills the buffer";
    EXPECT_STREQ("C:\\quor", path);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    stub::SeedModulePath("C:\\abcd");
    EXPECT_EQ(7u, GetModuleFileNameA(nullptr, path, sizeof path)) << "the longest path that fits";
    EXPECT_STREQ("C:\\abcd", path);

    // The ANSI interface gives code page 1252: '?' for what it lacks, a
    // look-alike where Windows has a best fit. The wide one is whole, and the
    // registry keeps what it writes.
    struct {
        const char* utf8;
        const char* ansi;
    } const paths[] = {
        {"C:\\Portable Tools\\Quorin 1.0\\quorin.exe", "C:\\Portable Tools\\Quorin 1.0\\quorin.exe"},
        {"C:\\Программы\\Quorin\\quorin.exe", "C:\\?????????\\Quorin\\quorin.exe"},
        {"C:\\Łódź\\Quorin\\quorin.exe", "C:\\L\xf3" "dz\\Quorin\\quorin.exe"},
        {"C:\\ツール\\Quorin\\quorin.exe", "C:\\???\\Quorin\\quorin.exe"},
    };
    for (const auto& c : paths) {
        SCOPED_TRACE(c.utf8);
        stub::SeedModulePath(c.utf8);
        char ansi[MAX_PATH];
        EXPECT_EQ(std::strlen(c.ansi), GetModuleFileNameA(nullptr, ansi, MAX_PATH));
        EXPECT_STREQ(c.ansi, ansi);
        WCHAR wide[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, wide, MAX_PATH);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, emptyClass, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, &disposition));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                                                (length + 1) * sizeof(WCHAR)));
        EXPECT_EQ(stub::RegistryWideText(c.utf8),
                  stub::ReadRegistryValue(HKEY_CURRENT_USER, "Software\\A", "Path").data);
        BYTE read[MAX_PATH];
        size = sizeof read;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Path", nullptr, &type, read, &size));
        EXPECT_EQ(std::string(c.ansi) + '\0', std::string(read, read + size));
        RegCloseKey(key);
    }
}
