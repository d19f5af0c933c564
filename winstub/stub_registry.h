// Test-side control of the stand-in registry and of the executable's path.
// Keys are named by path below a root ("Software\\Quorin"), matched without
// regard to case like Windows does; in the call log an open key appears as its
// full name, e.g. HKEY_CURRENT_USER\Software\Quorin.
#ifndef QUORIN_WINSTUB_STUB_REGISTRY_H
#define QUORIN_WINSTUB_STUB_REGISTRY_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace stub {

// The disposition that RegCreateKeyExA reports.
const DWORD RegCreatedNewKey = 1;
const DWORD RegOpenedExistingKey = 2;

// Raw data of the usual value types; RegistryText includes the terminating NUL.
// Text written through the wide interface is kept in UTF-16, as Windows keeps
// it: RegistryWideText gives those bytes, NUL included, for UTF-8 text. The
// ANSI interface reads such text converted to code page 1252.
std::vector<BYTE> RegistryDword(DWORD value);
std::vector<BYTE> RegistryQword(std::uint64_t value);
std::vector<BYTE> RegistryText(const std::string& text);
std::vector<BYTE> RegistryWideText(const std::string& utf8);

// Creates the key and its parents if missing.
void SeedRegistryKey(HKEY root, const std::string& path);
void SeedRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                       const std::vector<BYTE>& data);

// Opening or creating a key under the root with any read right (query,
// enumerate, notify), or with any write right (set, create subkey, link,
// delete, DAC, owner), fails with ERROR_ACCESS_DENIED; so does creating a
// missing key under a root that may not be written.
const int RegDenyRead = 1;
const int RegDenyWrite = 2;
void DenyRegistryAccess(HKEY root, int denied);

// The next RegSetValueExA/W or RegDeleteValueA of a value of this name (in a
// key whose full name ends with keyPath, when given) fails with the error and
// changes nothing.
void FailNextRegistryWrite(const std::string& valueName, LONG error,
                           const std::string& keyPath = std::string());

struct RegistryValue {
    bool found;
    DWORD type;
    std::vector<BYTE> data;
};
RegistryValue ReadRegistryValue(HKEY root, const std::string& path, const std::string& name);
bool RegistryKeyExists(HKEY root, const std::string& path);
// Value names of a key, in the order they were first written.
std::vector<std::string> RegistryValueNames(HKEY root, const std::string& path);
// Full names of every key that exists, sorted.
std::vector<std::string> RegistryKeys();
// Keys opened or created and not yet closed.
int OpenRegistryKeys();

// The running executable's path, in UTF-8. Defaults to
// C:\Program Files\Quorin\quorin.exe. GetModuleFileNameW reports it whole;
// GetModuleFileNameA in code page 1252, so letters outside it come out as '?'
// or as a best-fit look-alike, as on Windows.
void SeedModulePath(const std::string& utf8);
// Makes every GetModuleFileNameA/W fail: result 0 and this last error.
void FailModulePath(DWORD error);

// The process's token has registry virtualization on, as for a 32-bit
// program without a manifest started by a standard user: a key of
// HKEY_LOCAL_MACHINE that may not be written is opened or created all the
// same, as a copy under the user's Software\Classes\VirtualStore\MACHINE,
// where the writes land; a read of a key of HKEY_LOCAL_MACHINE takes a value
// from that copy before the key's own. Off unless seeded; SetTokenInformation
// with TokenVirtualizationEnabled switches it.
void SeedRegistryVirtualization(bool virtualized);
bool RegistryVirtualized();
// Access tokens opened and not yet closed.
int OpenTokenHandles();

} // namespace stub

#endif
