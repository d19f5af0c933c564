#include "internal.h"
#include "stub.h"
#include "stub_registry.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>

namespace stub {
namespace {

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
    bool wide; // written through the wide interface: text is UTF-16
};

struct Key {
    std::string name; // full name, spelled as when it was created
    HKEY root;
    std::vector<Value> values;
};

struct OpenKey {
    std::string id;
    REGSAM access;
    std::string storeId; // the VirtualStore copy a virtualized reader sees first
};

struct RegistryState {
    std::map<std::string, Key> keys; // by full name in lower case; the roots included
    std::map<std::uintptr_t, OpenKey> open;
    std::uintptr_t nextHandle = 0x4b00;
    int deniedUser = 0;
    int deniedMachine = 0;
    bool failArmed = false;
    std::string failName;
    std::string failKey;
    LONG failError = ERROR_SUCCESS;
    std::wstring modulePath = L"C:\\Program Files\\Quorin\\quorin.exe";
    DWORD moduleError = 0;
    bool virtualized = false;
    int openTokens = 0;
    DWORD tokenAccess = 0;
};

const char UserRoot[] = "HKEY_CURRENT_USER";
const char MachineRoot[] = "HKEY_LOCAL_MACHINE";
const REGSAM ReadRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
// KEY_ALL_ACCESS also asks for DELETE, WRITE_DAC and WRITE_OWNER.
const REGSAM WriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x10000 |
                           0x40000 | 0x80000;
const LONG ErrorNoAccess = 998;
const DWORD ErrorModNotFound = 126;
const char VirtualStorePath[] = "Software\\Classes\\VirtualStore\\MACHINE\\";
// The only access token the stand-in hands out.
HANDLE const ProcessToken = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x70c0));

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

RegistryState FreshState()
{
    RegistryState state;
    state.keys[Lower(UserRoot)] = Key{UserRoot, HKEY_CURRENT_USER, {}};
    state.keys[Lower(MachineRoot)] = Key{MachineRoot, HKEY_LOCAL_MACHINE, {}};
    return state;
}

RegistryState& Registry()
{
    static RegistryState state = FreshState();
    return state;
}

void ResetRegistry()
{
    Registry() = FreshState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetRegistry);

bool IsRoot(HKEY key)
{
    return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

int& Denied(HKEY root)
{
    return root == HKEY_CURRENT_USER ? Registry().deniedUser : Registry().deniedMachine;
}

// The key a handle stands for, or null for a handle that is not open.
Key* KeyOf(HKEY handle, REGSAM* access)
{
    RegistryState& registry = Registry();
    std::string id;
    REGSAM granted = 0;
    if (IsRoot(handle)) {
        id = Lower(handle == HKEY_CURRENT_USER ? UserRoot : MachineRoot);
        const int denied = Denied(handle);
        granted = ((denied & RegDenyRead) != 0 ? 0 : ReadRights) |
                  ((denied & RegDenyWrite) != 0 ? 0 : WriteRights);
    } else {
        const auto open = registry.open.find(reinterpret_cast<std::uintptr_t>(handle));
        if (open == registry.open.end()) {
            return nullptr;
        }
        const OpenKey& entry = open->second;
        id = entry.id;
        granted = entry.access;
    }
    if (access != nullptr) {
        *access = granted;
    }
    const auto key = registry.keys.find(id);
    return key == registry.keys.end() ? nullptr : &key->second;
}

std::string KeyText(HKEY handle)
{
    const Key* key = KeyOf(handle, nullptr);
    return key != nullptr ? key->name : Hex(reinterpret_cast<std::uintptr_t>(handle));
}

std::vector<std::string> Components(const char* path)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = path; c != nullptr && *c != '\0'; ++c) {
        if (*c == '\\') {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += *c;
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

std::string SubId(const Key& base, const char* path)
{
    std::string id = Lower(base.name);
    for (const std::string& part : Components(path)) {
        id += "\\" + Lower(part);
    }
    return id;
}

// Creates the missing keys on the way; returns the id of the last.
std::string CreatePath(const Key& base, const char* path)
{
    RegistryState& registry = Registry();
    std::string id = Lower(base.name);
    std::string name = base.name;
    const HKEY root = base.root;
    for (const std::string& part : Components(path)) {
        id += "\\" + Lower(part);
        const auto existing = registry.keys.find(id);
        if (existing != registry.keys.end()) {
            name = existing->second.name;
        } else {
            name += "\\" + part;
            registry.keys[id] = Key{name, root, {}};
        }
    }
    return id;
}

bool AccessAllowed(HKEY root, REGSAM desired)
{
    const int denied = Denied(root);
    return !(((denied & RegDenyRead) != 0 && (desired & ReadRights) != 0) ||
             ((denied & RegDenyWrite) != 0 && (desired & WriteRights) != 0));
}

// The 32-bit program on 64-bit Windows sees HKLM\\Software through its own
// view unless it asks for the 64-bit one.
std::string ViewedPath(const Key& base, const char* path, REGSAM desired)
{
    const std::string text = path != nullptr ? path : "";
    const std::vector<std::string> parts = Components(path);
    if (base.root != HKEY_LOCAL_MACHINE || !Wow64() || (desired & KEY_WOW64_64KEY) != 0 ||
        parts.empty() || Lower(parts[0]) != "software" || Lower(base.name) != Lower(MachineRoot)) {
        return text;
    }
    std::string viewed = parts[0] + "\\WOW6432Node";
    for (std::size_t i = 1; i < parts.size(); ++i) {
        viewed += "\\" + parts[i];
    }
    return viewed;
}

// A virtualized process that may not write HKLM writes into the user's
// VirtualStore instead, and is told it succeeded.
bool Virtualizes(const Key& base, REGSAM desired)
{
    return Registry().virtualized && base.root == HKEY_LOCAL_MACHINE &&
           (desired & WriteRights) != 0 && (Denied(base.root) & RegDenyWrite) != 0;
}

HKEY NewHandle(const std::string& id, REGSAM access, const std::string& storeId = std::string())
{
    RegistryState& registry = Registry();
    const std::uintptr_t handle = registry.nextHandle++;
    registry.open[handle] = OpenKey{id, access, storeId};
    return reinterpret_cast<HKEY>(handle);
}

// The user's copy of an HKLM key, made if missing.
HKEY VirtualStoreHandle(const std::string& machinePath, REGSAM access)
{
    const Key& userRoot = Registry().keys[Lower(UserRoot)];
    return NewHandle(CreatePath(userRoot, (VirtualStorePath + machinePath).c_str()), access);
}

std::string VirtualStoreId(const std::string& machinePath)
{
    return SubId(Registry().keys[Lower(UserRoot)], (VirtualStorePath + machinePath).c_str());
}

Value* FindValue(Key& key, const char* name)
{
    const std::string wanted = Lower(name != nullptr ? name : "");
    for (Value& value : key.values) {
        if (Lower(value.name) == wanted) {
            return &value;
        }
    }
    return nullptr;
}

// A virtualized process reads a key of HKLM merged with its VirtualStore
// copy, whose values take precedence.
const Value* ReadableValue(HKEY handle, Key& key, const char* name)
{
    RegistryState& registry = Registry();
    const auto open = registry.open.find(reinterpret_cast<std::uintptr_t>(handle));
    if (open != registry.open.end()) {
        const OpenKey& entry = open->second;
        const auto store = registry.keys.find(entry.storeId);
        const Value* stored =
            store != registry.keys.end() ? FindValue(store->second, name) : nullptr;
        if (stored != nullptr) {
            return stored;
        }
    }
    return FindValue(key, name);
}

void StoreValue(Key& key, const char* name, DWORD type, const std::vector<BYTE>& data,
                bool wide = false)
{
    Value* value = FindValue(key, name);
    if (value == nullptr) {
        key.values.push_back(Value{name != nullptr ? name : "", type, data, wide});
    } else {
        value->type = type;
        value->data = data;
        value->wide = wide;
    }
}

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// What the ANSI interface reads of a value: wide text comes converted.
std::vector<BYTE> AnsiData(const Value& value)
{
    if (!value.wide || !IsText(value.type)) {
        return value.data;
    }
    const std::string text = ToAnsi(FromUtf16(value.data));
    return std::vector<BYTE>(text.begin(), text.end());
}

// The executable's path the way GetModuleFileNameA/W hand it out: cut to the
// buffer and still terminated, as since Vista.
template <typename Char>
DWORD ModuleFileName(const char* function, HMODULE module, Char* fileName, DWORD size,
                     const std::basic_string<Char>& path)
{
    Record(function, Hex(reinterpret_cast<std::uintptr_t>(module)) + " " + std::to_string(size));
    if (fileName != nullptr) {
        std::fill(fileName, fileName + size, static_cast<Char>(JunkByte));
    }
    const RegistryState& registry = Registry();
    if (registry.moduleError != 0 || module != nullptr) {
        SetError(registry.moduleError != 0 ? registry.moduleError : ErrorModNotFound);
        return 0;
    }
    if (size == 0 || fileName == nullptr) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::copy(path.begin(), path.end(), fileName);
        fileName[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    }
    std::copy(path.begin(), path.begin() + (size - 1), fileName);
    fileName[size - 1] = 0;
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

bool TakeScriptedFailure(const Key& key, const char* name, LONG& error)
{
    RegistryState& registry = Registry();
    const std::string keyName = Lower(key.name);
    const std::string wantedKey = Lower(registry.failKey);
    if (!registry.failArmed || Lower(registry.failName) != Lower(name != nullptr ? name : "") ||
        keyName.size() < wantedKey.size() ||
        keyName.compare(keyName.size() - wantedKey.size(), wantedKey.size(), wantedKey) != 0) {
        return false;
    }
    registry.failArmed = false;
    error = registry.failError;
    return true;
}

// The key behind a handle that may change values, or null with the error
// Windows gives: a closed handle, one opened without KEY_SET_VALUE, or a
// write the test scripted to fail.
Key* WritableKey(HKEY handle, const char* valueName, LONG& error)
{
    REGSAM access = 0;
    Key* key = KeyOf(handle, &access);
    error = key == nullptr ? ERROR_INVALID_HANDLE
            : (access & KEY_SET_VALUE) == 0 ? ERROR_ACCESS_DENIED
                                            : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && TakeScriptedFailure(*key, valueName, error)) {
        return nullptr;
    }
    return error == ERROR_SUCCESS ? key : nullptr;
}

std::string DataText(DWORD type, const BYTE* data, DWORD size)
{
    if (data == nullptr) {
        return "(null)";
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        const BYTE* end = std::find(data, data + size, 0);
        return Text(std::string(data, end).c_str());
    }
    std::string bytes = "{";
    for (DWORD i = 0; i < size; ++i) {
        static const char digits[] = "0123456789abcdef";
        bytes += i == 0 ? "" : " ";
        bytes += digits[data[i] >> 4];
        bytes += digits[data[i] & 15];
    }
    return bytes + "}";
}

const Key* FindKey(HKEY root, const std::string& path)
{
    Key* base = KeyOf(root, nullptr);
    if (base == nullptr) {
        return nullptr;
    }
    const auto key = Registry().keys.find(SubId(*base, path.c_str()));
    return key == Registry().keys.end() ? nullptr : &key->second;
}

} // namespace

std::vector<BYTE> RegistryDword(DWORD value)
{
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    return data;
}

std::vector<BYTE> RegistryQword(std::uint64_t value)
{
    std::vector<BYTE> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    return data;
}

std::vector<BYTE> RegistryText(const std::string& text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

std::vector<BYTE> RegistryWideText(const std::string& utf8)
{
    return ToUtf16(FromUtf8(utf8) + L'\0');
}

void SeedRegistryKey(HKEY root, const std::string& path)
{
    Key* base = KeyOf(root, nullptr);
    if (base != nullptr) {
        CreatePath(*base, path.c_str());
    }
}

void SeedRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                       const std::vector<BYTE>& data)
{
    Key* base = KeyOf(root, nullptr);
    if (base != nullptr) {
        StoreValue(Registry().keys[CreatePath(*base, path.c_str())], name.c_str(), type, data);
    }
}

void DenyRegistryAccess(HKEY root, int denied)
{
    if (IsRoot(root)) {
        Denied(root) = denied;
    }
}

void FailNextRegistryWrite(const std::string& valueName, LONG error, const std::string& keyPath)
{
    Registry().failArmed = true;
    Registry().failName = valueName;
    Registry().failKey = keyPath;
    Registry().failError = error;
}

RegistryValue ReadRegistryValue(HKEY root, const std::string& path, const std::string& name)
{
    const Key* key = FindKey(root, path);
    if (key != nullptr) {
        for (const Value& value : key->values) {
            if (Lower(value.name) == Lower(name)) {
                return RegistryValue{true, value.type, value.data};
            }
        }
    }
    return RegistryValue{false, REG_NONE, {}};
}

bool RegistryKeyExists(HKEY root, const std::string& path)
{
    return FindKey(root, path) != nullptr;
}

std::vector<std::string> RegistryValueNames(HKEY root, const std::string& path)
{
    std::vector<std::string> names;
    const Key* key = FindKey(root, path);
    if (key != nullptr) {
        for (const Value& value : key->values) {
            names.push_back(value.name);
        }
    }
    return names;
}

std::vector<std::string> RegistryKeys()
{
    std::vector<std::string> names;
    for (const auto& entry : Registry().keys) {
        if (entry.second.name.find('\\') != std::string::npos) {
            names.push_back(entry.second.name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int OpenRegistryKeys()
{
    return static_cast<int>(Registry().open.size());
}

void SeedModulePath(const std::string& utf8)
{
    Registry().modulePath = FromUtf8(utf8);
}

void FailModulePath(DWORD error)
{
    Registry().moduleError = error;
}

} // namespace stub

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result)
{
    stub::Record("RegOpenKeyExA", stub::KeyText(key) + " " + stub::Text(subKey) + " " +
                                      std::to_string(options) + " " + stub::Hex(desired));
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    stub::FillJunk(*result);
    stub::Key* base = stub::KeyOf(key, nullptr);
    if (base == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::string path = stub::ViewedPath(*base, subKey, desired);
    const std::string id = stub::SubId(*base, path.c_str());
    if (stub::Registry().keys.count(id) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (stub::Virtualizes(*base, desired)) {
        *result = stub::VirtualStoreHandle(path, desired);
        return ERROR_SUCCESS;
    }
    if (!stub::AccessAllowed(base->root, desired)) {
        return ERROR_ACCESS_DENIED;
    }
    const bool merged = stub::Registry().virtualized && base->root == HKEY_LOCAL_MACHINE;
    *result = stub::NewHandle(id, desired, merged ? stub::VirtualStoreId(path) : std::string());
    return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                            DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES attributes,
                            PHKEY result, LPDWORD disposition)
{
    stub::Record("RegCreateKeyExA",
                 stub::KeyText(key) + " " + stub::Text(subKey) + " " + std::to_string(reserved) +
                     " " + stub::Text(keyClass) + " " + std::to_string(options) + " " +
                     stub::Hex(desired) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(attributes)));
    if (result == nullptr || subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    stub::FillJunk(*result);
    if (disposition != nullptr) {
        stub::FillJunk(*disposition);
    }
    stub::Key* base = stub::KeyOf(key, nullptr);
    if (base == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const HKEY root = base->root;
    const std::string path = stub::ViewedPath(*base, subKey, desired);
    const bool exists = stub::Registry().keys.count(stub::SubId(*base, path.c_str())) != 0;
    if (stub::Virtualizes(*base, desired)) {
        *result = stub::VirtualStoreHandle(path, desired);
        if (disposition != nullptr) {
            *disposition = exists ? stub::RegOpenedExistingKey : stub::RegCreatedNewKey;
        }
        return ERROR_SUCCESS;
    }
    if (!stub::AccessAllowed(root, desired) ||
        (!exists && (stub::Denied(root) & stub::RegDenyWrite) != 0)) {
        return ERROR_ACCESS_DENIED;
    }
    *result = stub::NewHandle(stub::CreatePath(*base, path.c_str()), desired);
    if (disposition != nullptr) {
        *disposition = exists ? stub::RegOpenedExistingKey : stub::RegCreatedNewKey;
    }
    return ERROR_SUCCESS;
}

namespace stub {
namespace {

// What the wide interface reads of a value: ANSI text comes converted.
std::vector<BYTE> WideData(const Value& value)
{
    return value.wide || !IsText(value.type) ? value.data : ToUtf16(FromAnsi(value.data));
}

// The wide interface's text goes in wchar_t units, one for each UTF-16 unit
// of Windows, and its byte counts are the host's; the log shows Windows'.
LONG QueryValue(const char* function, HKEY key, const char* valueName, const LPDWORD reserved,
                LPDWORD type, LPBYTE data, LPDWORD dataSize, bool wide)
{
    const DWORD unit = wide ? sizeof(wchar_t) : 1;
    const DWORD windowsUnit = wide ? 2 : 1;
    Record(function, KeyText(key) + " " + Text(valueName) + " " +
                         (reserved == nullptr ? "(null)" : "out") + " " +
                         (type == nullptr ? "(null)" : "out") + " " +
                         (data == nullptr ? "(null)" : "out") + " " +
                         (dataSize == nullptr ? "(null)"
                                              : std::to_string(*dataSize / unit * windowsUnit)));
    REGSAM access = 0;
    Key* found = KeyOf(key, &access);
    if (found == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const DWORD capacity = dataSize != nullptr ? *dataSize : 0;
    if (type != nullptr) {
        FillJunk(*type);
    }
    // 0xdeadbeef over the whole buffer: its first byte is odd, so a flag
    // byte read where nothing was written does not pass for a zero or even one.
    for (DWORD i = 0; data != nullptr && i < capacity; ++i) {
        data[i] = static_cast<BYTE>(Junk >> (8 * (i % 4)));
    }
    if (dataSize != nullptr) {
        *dataSize = Junk;
    }
    const Value* value = ReadableValue(key, *found, valueName);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::vector<BYTE> read = wide ? WideData(*value) : AnsiData(*value);
    if (wide && IsText(value->type)) {
        const std::wstring units = FromUtf16(read);
        read.assign(reinterpret_cast<const BYTE*>(units.data()),
                    reinterpret_cast<const BYTE*>(units.data() + units.size()));
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (dataSize != nullptr) {
        *dataSize = static_cast<DWORD>(read.size());
    }
    if (data != nullptr) {
        if (read.size() > capacity) {
            return ERROR_MORE_DATA;
        }
        std::copy(read.begin(), read.end(), data);
    }
    return ERROR_SUCCESS;
}

} // namespace
} // namespace stub

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    return stub::QueryValue("RegQueryValueExA", key, valueName, reserved, type, data, dataSize,
                            false);
}

// The data come as Windows gives them, UTF-16 bytes.
LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize)
{
    const std::string name = valueName != nullptr ? stub::ToUtf8(valueName) : std::string();
    return stub::QueryValue("RegQueryValueExW", key, valueName != nullptr ? name.c_str() : nullptr,
                            reserved, type, data, dataSize, true);
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD dataSize)
{
    stub::Record("RegSetValueExA", stub::KeyText(key) + " " + stub::Text(valueName) + " " +
                                       std::to_string(reserved) + " " + std::to_string(type) +
                                       " " + stub::DataText(type, data, dataSize) + " " +
                                       std::to_string(dataSize));
    if (data == nullptr && dataSize != 0) {
        return stub::ErrorNoAccess;
    }
    LONG error = ERROR_SUCCESS;
    stub::Key* found = stub::WritableKey(key, valueName, error);
    if (found == nullptr) {
        return error;
    }
    stub::StoreValue(*found, valueName, type,
                     data == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(data, data + dataSize));
    return ERROR_SUCCESS;
}

// The data arrive as wchar_t units, one for each UTF-16 unit of Windows; the
// log and the stored value count bytes as Windows would.
LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD dataSize)
{
    const std::string name = valueName != nullptr ? stub::ToUtf8(valueName) : std::string();
    const char* nameText = valueName != nullptr ? name.c_str() : nullptr;
    std::wstring units;
    if (data != nullptr && stub::IsText(type)) {
        units.assign(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
    }
    const std::vector<BYTE> stored =
        data == nullptr           ? std::vector<BYTE>()
        : stub::IsText(type) ? stub::ToUtf16(units)
                                  : std::vector<BYTE>(data, data + dataSize);
    const std::wstring shown = units.substr(0, units.find(L'\0'));
    stub::Record("RegSetValueExW",
                 stub::KeyText(key) + " " + stub::Text(nameText) + " " + std::to_string(reserved) +
                     " " + std::to_string(type) + " " +
                     (stub::IsText(type) && data != nullptr
                          ? stub::Text(stub::ToUtf8(shown).c_str())
                          : stub::DataText(type, data, dataSize)) +
                     " " + std::to_string(stored.size()));
    if (data == nullptr && dataSize != 0) {
        return stub::ErrorNoAccess;
    }
    LONG error = ERROR_SUCCESS;
    stub::Key* found = stub::WritableKey(key, nameText, error);
    if (found == nullptr) {
        return error;
    }
    stub::StoreValue(*found, nameText, type, stored, true);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    stub::Record("RegDeleteValueA", stub::KeyText(key) + " " + stub::Text(valueName));
    LONG error = ERROR_SUCCESS;
    stub::Key* found = stub::WritableKey(key, valueName, error);
    if (found == nullptr) {
        return error;
    }
    const stub::Value* value = stub::FindValue(*found, valueName);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    found->values.erase(found->values.begin() + (value - found->values.data()));
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    stub::Record("RegCloseKey", stub::KeyText(key));
    if (stub::IsRoot(key)) {
        return ERROR_SUCCESS;
    }
    return stub::Registry().open.erase(reinterpret_cast<std::uintptr_t>(key)) != 0
               ? ERROR_SUCCESS
               : ERROR_INVALID_HANDLE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    return stub::ModuleFileName("GetModuleFileNameA", module, fileName, size,
                                stub::ToAnsi(stub::Registry().modulePath));
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    return stub::ModuleFileName("GetModuleFileNameW", module, fileName, size,
                                stub::Registry().modulePath);
}

void stub::SeedRegistryVirtualization(bool virtualized)
{
    Registry().virtualized = virtualized;
}

bool stub::RegistryVirtualized()
{
    return Registry().virtualized;
}

int stub::OpenTokenHandles()
{
    return Registry().openTokens;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desired, HANDLE* token)
{
    stub::Record("OpenProcessToken",
                 stub::Hex(reinterpret_cast<std::uintptr_t>(process)) + " " + stub::Hex(desired));
    // What GetCurrentProcess hands out.
    if (token == nullptr || process != reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1))) {
        stub::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    stub::FillJunk(*token);
    *token = stub::ProcessToken;
    ++stub::Registry().openTokens;
    stub::Registry().tokenAccess = desired;
    return TRUE;
}

// Only what the program asks: virtualization switched on or off, which a
// token opened for TOKEN_ADJUST_DEFAULT may do for itself.
BOOL WINAPI stub::SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information,
                                      LPVOID data, DWORD size)
{
    Record("SetTokenInformation", Hex(reinterpret_cast<std::uintptr_t>(token)) + " " +
                                      std::to_string(information) + " " + std::to_string(size));
    if (token != ProcessToken || Registry().openTokens == 0) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (information != TokenVirtualizationEnabled || data == nullptr || size != sizeof(DWORD)) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((Registry().tokenAccess & TOKEN_ADJUST_DEFAULT) == 0) {
        SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD enabled = 0;
    std::memcpy(&enabled, data, sizeof enabled);
    Registry().virtualized = enabled != 0;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    stub::Record("CloseHandle", stub::Hex(reinterpret_cast<std::uintptr_t>(object)));
    if (object != stub::ProcessToken || stub::Registry().openTokens == 0) {
        stub::SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --stub::Registry().openTokens;
    return TRUE;
}
