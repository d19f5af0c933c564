// Shared between the parts of the stand-in; tests use stub.h.
#ifndef QUORIN_WINSTUB_INTERNAL_H
#define QUORIN_WINSTUB_INTERNAL_H

#include <windows.h>

#include <string>
#include <vector>

namespace stub {

// Sets the thread's last error the way a failing (or succeeding) call does,
// without recording a call.
void SetError(DWORD error);
std::string Hex(std::uintptr_t value);
std::string Text(const char* text);

// Wide text: from and to UTF-8 (for seeds and the call log), to and from the
// UTF-16 bytes the registry keeps, and to the ANSI code page 1252, as
// WideCharToMultiByte gives it: a best-fit letter where Windows has one (Ł
// becomes L), else '?'.
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);
std::vector<BYTE> ToUtf16(const std::wstring& text);
std::wstring FromUtf16(const std::vector<BYTE>& bytes);
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::vector<BYTE>& bytes);

// The 32-bit program on 64-bit Windows (SeedWow64).
bool Wow64();

// user32 functions newer than the oldest Windows the program starts on. They
// live in this namespace so that the program can reach them only the way it
// must on Windows, through GetProcAddress.
BOOL WINAPI SetProcessDPIAware();
BOOL WINAPI ChangeWindowMessageFilter(UINT message, DWORD flag);
BOOL WINAPI ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action, void* status);
// kernel32's and advapi32's, for the same reason.
BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64);
BOOL WINAPI SetDefaultDllDirectories(DWORD flags);
BOOL WINAPI SetDllDirectoryW(LPCWSTR path);
BOOL WINAPI SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information, LPVOID data,
                                DWORD size);

} // namespace stub

#endif
