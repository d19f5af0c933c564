#include "internal.h"
#include "stub.h"

#include <windows.h>

#include <cstddef>
#include <set>

namespace stub {
namespace {

struct KernelState {
    std::vector<MessageBox> boxes;
    std::set<std::string> existing;
    std::vector<MutexState> created;
    bool failNextCreate = false;
    DWORD failError = 0;
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
