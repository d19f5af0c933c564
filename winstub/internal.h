// Shared between the parts of the stand-in; tests use stub.h.
#ifndef QUORIN_WINSTUB_INTERNAL_H
#define QUORIN_WINSTUB_INTERNAL_H

#include <windows.h>

#include <string>

namespace stub {

// Sets the thread's last error the way a failing (or succeeding) call does,
// without recording a call.
void SetError(DWORD error);
std::string Hex(std::uintptr_t value);
std::string Text(const char* text);

} // namespace stub

#endif
