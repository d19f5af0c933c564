#include "internal.h"
#include "stub.h"

#include <windows.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <set>

namespace stub {
namespace {

struct KernelState {
    std::vector<MessageBox> boxes;
    std::set<std::string> existing;
    std::vector<MutexState> created;
    bool failNextCreate = false;
    DWORD failError = 0;
    std::set<std::string> removedFunctions;
    bool defaultDllDirectoriesFail = false;
    bool wow64 = false;
};

KernelState& Kernel()
{
    static KernelState state;
    return state;
}

void ResetKernel()
{
    Kernel() = KernelState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetKernel);

// Handles of created mutexes are their index plus this base.
const std::uintptr_t MutexHandleBase = 0x4d00;

// The modules the program looks functions up in.
HMODULE const User32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x75a00000));
HMODULE const Kernel32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x76b00000));
HMODULE const Advapi32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x77c00000));

// What GetCurrentProcess hands out on Windows.
HANDLE const CurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

template <typename Function>
FARPROC Exported(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Export {
    HMODULE module;
    const char* name;
    FARPROC function;
};

const Export Exports[] = {
    {User32, "SetProcessDPIAware", Exported(&SetProcessDPIAware)},
    {User32, "ChangeWindowMessageFilter", Exported(&ChangeWindowMessageFilter)},
    {User32, "ChangeWindowMessageFilterEx", Exported(&ChangeWindowMessageFilterEx)},
    {Kernel32, "IsWow64Process", Exported(&IsWow64Process)},
    {Kernel32, "SetDefaultDllDirectories", Exported(&SetDefaultDllDirectories)},
    {Kernel32, "SetDllDirectoryW", Exported(&SetDllDirectoryW)},
    {Advapi32, "SetTokenInformation", Exported(&SetTokenInformation)},
};

struct ModuleName {
    const char* name;
    HMODULE module;
};

const ModuleName Modules[] = {
    {"user32.dll", User32},     {"user32", User32},     {"kernel32.dll", Kernel32},
    {"kernel32", Kernel32},     {"advapi32.dll", Advapi32}, {"advapi32", Advapi32},
};

bool SameNameIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

} // namespace

const std::vector<MessageBox>& MessageBoxes()
{
    return Kernel().boxes;
}

void SeedExistingMutex(const std::string& name)
{
    Kernel().existing.insert(name);
}

void FailNextMutexCreate(DWORD error)
{
    Kernel().failNextCreate = true;
    Kernel().failError = error;
}

std::vector<MutexState> CreatedMutexes()
{
    return Kernel().created;
}

void RemoveSystemFunction(const std::string& name)
{
    Kernel().removedFunctions.insert(name);
}

void FailDefaultDllDirectories()
{
    Kernel().defaultDllDirectoriesFail = true;
}

void SeedWow64(bool wow64)
{
    Kernel().wow64 = wow64;
}

bool Wow64()
{
    return Kernel().wow64;
}

BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64)
{
    Record("IsWow64Process", Hex(reinterpret_cast<std::uintptr_t>(process)));
    if (wow64 == nullptr || process != CurrentProcess) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    FillJunk(*wow64);
    *wow64 = Kernel().wow64 ? TRUE : FALSE;
    return TRUE;
}

// Only the flags Windows knows, and not none.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags)
{
    Record("SetDefaultDllDirectories", Hex(flags));
    const DWORD known = 0x1f00; // LOAD_LIBRARY_SEARCH_APPLICATION_DIR to _DEFAULT_DIRS
    if (flags == 0 || (flags & ~known) != 0 || Kernel().defaultDllDirectoriesFail) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR path)
{
    Record("SetDllDirectoryW", path != nullptr ? Text(ToUtf8(path).c_str()) : Text(nullptr));
    return TRUE;
}

} // namespace stub

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    stub::Record("MessageBoxA", stub::Text(text) + " " + stub::Text(caption) + " " +
                                    std::to_string(type));
    stub::Kernel().boxes.push_back(stub::MessageBox{owner, text != nullptr ? text : "",
                                                    caption != nullptr ? caption : "", type});
    return IDOK;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name)
{
    stub::Record("CreateMutexA", stub::Hex(reinterpret_cast<std::uintptr_t>(attributes)) + " " +
                                     std::to_string(initialOwner) + " " + stub::Text(name));
    stub::KernelState& kernel = stub::Kernel();
    if (kernel.failNextCreate) {
        kernel.failNextCreate = false;
        stub::SetError(kernel.failError);
        return nullptr;
    }
    const std::string mutexName = name != nullptr ? name : "";
    const bool exists = name != nullptr && kernel.existing.count(mutexName) != 0;
    // Windows hands out a handle to the existing mutex, without ownership.
    kernel.created.push_back(stub::MutexState{mutexName, initialOwner != FALSE && !exists, 0});
    if (name != nullptr) {
        kernel.existing.insert(mutexName);
    }
    stub::SetError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(stub::MutexHandleBase + kernel.created.size() - 1);
}

BOOL WINAPI ReleaseMutex(HANDLE mutex)
{
    stub::Record("ReleaseMutex", stub::Hex(reinterpret_cast<std::uintptr_t>(mutex)));
    stub::KernelState& kernel = stub::Kernel();
    const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(mutex) - stub::MutexHandleBase;
    if (index >= kernel.created.size()) {
        stub::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    stub::MutexState& state = kernel.created[index];
    if (!state.owned) {
        stub::SetError(288); // ERROR_NOT_OWNER
        return FALSE;
    }
    state.owned = false;
    ++state.releases;
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    stub::Record("GetModuleHandleA", stub::Text(moduleName));
    for (const stub::ModuleName& entry : stub::Modules) {
        if (moduleName != nullptr && stub::SameNameIgnoringCase(moduleName, entry.name)) {
            return entry.module;
        }
    }
    stub::SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// Export names are matched exactly, as Windows does.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    stub::Record("GetProcAddress",
                 stub::Hex(reinterpret_cast<std::uintptr_t>(module)) + " " + stub::Text(procName));
    if (procName != nullptr && stub::Kernel().removedFunctions.count(procName) == 0) {
        for (const stub::Export& entry : stub::Exports) {
            if (entry.module == module && std::strcmp(entry.name, procName) == 0) {
                return entry.function;
            }
        }
    }
    stub::SetError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    stub::Record("GetCurrentProcess");
    return stub::CurrentProcess;
}
