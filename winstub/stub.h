// Test-side control of the Win32 stand-in: seed what the platform reports,
// script its results, and read back what the program asked of it.
#ifndef QUORIN_WINSTUB_STUB_H
#define QUORIN_WINSTUB_STUB_H

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace stub {

// Written into out-parameters before a call fills them, so that an output the
// code relies on but the call never wrote shows up.
const unsigned char JunkByte = 0xde;
const DWORD Junk = 0xdeadbeef;

template <typename T>
void FillJunk(T& value)
{
    std::memset(static_cast<void*>(&value), JunkByte, sizeof value);
}

// Every call the program makes, in order: the function's name and its
// arguments as text (e.g. "GetDeviceCaps" "8").
struct Call {
    std::string name;
    std::string args;
};
const std::vector<Call>& Calls();
std::vector<std::string> CallNames();
int CountCalls(const std::string& name);
void Record(const std::string& name, const std::string& args = std::string());
// The position of the first call of that name at or after from, or the
// log's length when there is none.
std::size_t FirstCall(const std::string& name, std::size_t from = 0);

// Back to a freshly booted platform with nothing seeded. Each part of the
// stand-in registers what it must clear.
void Reset();
typedef void (*ResetFunction)();
bool RegisterReset(ResetFunction reset);

// Display settings. A mode is progressive unless its flags say
// DM_INTERLACED.
struct Mode {
    DWORD width;
    DWORD height;
    DWORD bitsPerPel;
    DWORD frequency;
    DWORD displayFlags = 0;
};
void SeedModes(const std::vector<Mode>& modes);
void SeedCurrentMode(const Mode& mode);
// Results of the following ChangeDisplaySettingsA calls, in order. Once they
// are used up a call takes the first seeded mode that matches the request in
// the fields it names (a rate of 0 or 1 is the default: any rate; flags only
// where DM_DISPLAYFLAGS is named), and fails with DISP_CHANGE_BADMODE where
// none does. A successful call makes that mode current, or the request as it
// stands where a scripted success matched none.
void ScriptChangeResults(const std::vector<LONG>& results);
struct ModeChange {
    DEVMODEA devmode;
    DWORD flags;
    LONG result;
};
const std::vector<ModeChange>& ModeChanges();
// Device contexts created and not yet deleted.
int OpenDeviceContexts();
// The display's scale in percent, 100 unless set. Like Windows 8.1 and later,
// HORZRES and VERTRES read the size divided by it until the process calls
// SetProcessDPIAware; after that, times the scale Windows fixed at sign-in
// (the display's own unless seeded: it changed after sign-in). Nothing else
// is scaled.
void SeedDisplayScale(unsigned percent);
void SeedSignInScale(unsigned percent);
// EnumDisplaySettingsA with ENUM_CURRENT_SETTINGS fails from now on.
void FailCurrentSettings();

// An older Windows: GetProcAddress does not find this function of user32,
// kernel32 or advapi32.
void RemoveSystemFunction(const std::string& name);
// SetDefaultDllDirectories is there but fails, as for flags it does not know.
void FailDefaultDllDirectories();
// The 32-bit program on 64-bit Windows: IsWow64Process says so, and
// HKEY_LOCAL_MACHINE\Software is seen through its 32-bit view,
// Software\WOW6432Node, unless a key is opened with KEY_WOW64_64KEY.
void SeedWow64(bool wow64);
// The ANSI code page: 1252 unless set; under 932, a double-byte one, every
// letter outside ASCII takes two bytes.
void SeedAnsiCodePage(UINT codePage);

// Message boxes.
struct MessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
const std::vector<MessageBox>& MessageBoxes();

// Named mutexes, as another process would hold them.
void SeedExistingMutex(const std::string& name);
// Makes the next CreateMutexA fail with this error and a null handle.
void FailNextMutexCreate(DWORD error);
struct MutexState {
    std::string name;
    bool owned;
    int releases;
};
// The mutexes this process created (not the seeded ones).
std::vector<MutexState> CreatedMutexes();

} // namespace stub

#endif
