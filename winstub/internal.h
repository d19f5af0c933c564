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

// user32 functions newer than the oldest Windows the program starts on. They
// live in this namespace so that the program can reach them only the way it
// must on Windows, through GetProcAddress.
BOOL WINAPI SetProcessDPIAware();
BOOL WINAPI ChangeWindowMessageFilter(UINT message, DWORD flag);
BOOL WINAPI ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* status);

} // namespace stub

#endif
