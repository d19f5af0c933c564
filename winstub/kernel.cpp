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

// The only module the program looks functions up in.
HMODULE const User32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x75a00000));

template <typename Function>
FARPROC Exported(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Export {
    const char* name;
    FARPROC function;
};

const Export User32Exports[] = {
    {"SetProcessDPIAware", Exported(&SetProcessDPIAware)},
    {"ChangeWindowMessageFilter", Exported(&ChangeWindowMessageFilter)},
    {"ChangeWindowMessageFilterEx", Exported(&ChangeWindowMessageFilterEx)},
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

void RemoveUser32Function(const std::string& name)
{
    Kernel().removedFunctions.insert(name);
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
    if (moduleName != nullptr && (stub::SameNameIgnoringCase(moduleName, "user32.dll") ||
                                  stub::SameNameIgnoringCase(moduleName, "user32"))) {
        return stub::User32;
    }
    stub::SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// Export names are matched exactly, as Windows does.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    stub::Record("GetProcAddress",
                 stub::Hex(reinterpret_cast<std::uintptr_t>(module)) + " " + stub::Text(procName));
    if (module == stub::User32 && procName != nullptr &&
        stub::Kernel().removedFunctions.count(procName) == 0) {
        for (const stub::Export& entry : stub::User32Exports) {
            if (std::strcmp(entry.name, procName) == 0) {
                return entry.function;
            }
        }
    }
    stub::SetError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
