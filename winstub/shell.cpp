#include "internal.h"
#include "stub.h"
#include "stub_window.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <map>

namespace stub {
namespace {

const DWORD ErrorInvalidCursorHandle = 1402;
const UINT ExtractFailed = 0xFFFFFFFF;

struct ShellState {
    std::map<std::string, UINT> iconFiles;
    std::vector<HICON> liveIcons;
    std::uintptr_t iconsMade = 0;
    std::vector<NotifyCall> calls;
    std::vector<TrayIcon> icons;
    std::vector<TrayAddOutcome> addOutcomes;
    std::size_t nextAddOutcome = 0;
};

ShellState& Shell()
{
    static ShellState state;
    return state;
}

void ResetShell()
{
    Shell() = ShellState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetShell);

const std::uintptr_t IconHandleBase = 0x1c0000;

std::string Lower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool IsLive(HICON icon)
{
    const std::vector<HICON>& live = Shell().liveIcons;
    return std::find(live.begin(), live.end(), icon) != live.end();
}

HICON MakeIcon()
{
    ShellState& shell = Shell();
    HICON icon = reinterpret_cast<HICON>(IconHandleBase + shell.iconsMade++);
    shell.liveIcons.push_back(icon);
    return icon;
}

const char CurrentDirectory[] = "C:\\Windows\\System32";

std::string FullPath(const std::string& path)
{
    const bool absolute = (path.size() >= 3 && path[1] == ':' && path[2] == '\\') ||
                          (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
    return absolute ? path : std::string(CurrentDirectory) + "\\" + path;
}

// The shell reads only the members of the record version that cbSize names,
// and takes any size it does not know for the first version.
NOTIFYICONDATAA ReadRecord(const NOTIFYICONDATAA& data)
{
    NOTIFYICONDATAA read;
    std::memset(&read, 0, sizeof read);
    const bool full = data.cbSize == sizeof(NOTIFYICONDATAA);
    std::memcpy(&read, &data, full ? sizeof read : NOTIFYICONDATAA_V1_SIZE);
    read.szTip[full ? sizeof read.szTip - 1 : 63] = '\0';
    return read;
}

bool SameIcon(const NOTIFYICONDATAA& a, const NOTIFYICONDATAA& b)
{
    return a.hWnd == b.hWnd && a.uID == b.uID;
}

bool HasImage(HICON icon)
{
    return IsLive(icon) || icon == ApplicationIcon();
}

void Update(TrayIcon& icon, const NOTIFYICONDATAA& read)
{
    icon.data.uFlags |= read.uFlags;
    if ((read.uFlags & NIF_MESSAGE) != 0) {
        icon.data.uCallbackMessage = read.uCallbackMessage;
    }
    if ((read.uFlags & NIF_ICON) != 0) {
        icon.data.hIcon = read.hIcon;
        icon.hasImage = HasImage(read.hIcon);
    }
    if ((read.uFlags & NIF_TIP) != 0) {
        std::memcpy(icon.data.szTip, read.szTip, sizeof icon.data.szTip);
    }
}

BOOL Apply(DWORD message, const NOTIFYICONDATAA& read)
{
    std::vector<TrayIcon>& icons = Shell().icons;
    auto present = std::find_if(icons.begin(), icons.end(), [&read](const TrayIcon& icon) {
        return SameIcon(icon.data, read);
    });
    switch (message) {
    case NIM_ADD: {
        ShellState& shell = Shell();
        const TrayAddOutcome outcome = shell.nextAddOutcome < shell.addOutcomes.size()
                                           ? shell.addOutcomes[shell.nextAddOutcome++]
                                           : TrayAdded;
        if (outcome == TrayRefused) {
            SetError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        if (present != icons.end()) {
            return FALSE;
        }
        TrayIcon added;
        std::memset(&added.data, 0, sizeof added.data);
        added.data.cbSize = read.cbSize;
        added.data.hWnd = read.hWnd;
        added.data.uID = read.uID;
        added.hasImage = false;
        Update(added, read);
        icons.push_back(added);
        if (outcome == TrayTimedOut) {
            SetError(ERROR_TIMEOUT);
            return FALSE;
        }
        return TRUE;
    }
    case NIM_MODIFY:
        if (present == icons.end()) {
            return FALSE;
        }
        Update(*present, read);
        return TRUE;
    case NIM_DELETE:
        if (present == icons.end()) {
            return FALSE;
        }
        icons.erase(present);
        return TRUE;
    case NIM_SETFOCUS:
        return present != icons.end() ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void ScriptTrayAdds(const std::vector<TrayAddOutcome>& outcomes)
{
    Shell().addOutcomes = outcomes;
    Shell().nextAddOutcome = 0;
}

void SeedIconFile(const std::string& path, UINT icons)
{
    Shell().iconFiles[Lower(FullPath(path))] = icons;
}

std::vector<HICON> LiveIcons()
{
    return Shell().liveIcons;
}

const std::vector<NotifyCall>& NotifyCalls()
{
    return Shell().calls;
}

std::vector<TrayIcon> TrayIcons()
{
    return Shell().icons;
}

void RestartShell()
{
    Shell().icons.clear();
    BroadcastTaskbarCreated();
}

void BroadcastTaskbarCreated()
{
    Broadcast(RegisteredMessage("TaskbarCreated"), 0, 0);
}

bool ClickTrayIcon(UINT mouseMessage)
{
    for (const TrayIcon& icon : Shell().icons) {
        if ((icon.data.uFlags & NIF_MESSAGE) != 0) {
            return Post(icon.data.hWnd, icon.data.uCallbackMessage, icon.data.uID,
                        static_cast<LPARAM>(mouseMessage));
        }
    }
    return false;
}

} // namespace stub

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data)
{
    if (data == nullptr) {
        stub::Record("Shell_NotifyIconA", std::to_string(message) + " (null)");
        return FALSE;
    }
    const NOTIFYICONDATAA read = stub::ReadRecord(*data);
    stub::Record("Shell_NotifyIconA",
                 std::to_string(message) + " " + std::to_string(read.cbSize) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(read.hWnd)) + " " +
                     std::to_string(read.uID) + " " + std::to_string(read.uFlags) + " " +
                     std::to_string(read.uCallbackMessage) + " " +
                     stub::Hex(reinterpret_cast<std::uintptr_t>(read.hIcon)) + " " +
                     stub::Text(read.szTip));
    const bool liveImage = stub::HasImage(read.hIcon);
    const BOOL result = stub::Apply(message, read);
    stub::Shell().calls.push_back(stub::NotifyCall{message, read, liveImage, result});
    return result;
}

UINT WINAPI ExtractIconExW(LPCWSTR file, int iconIndex, HICON* large, HICON* small, UINT icons)
{
    const std::string path = file != nullptr ? stub::ToUtf8(file) : "";
    stub::Record("ExtractIconExW", (file != nullptr ? stub::Text(path.c_str()) : stub::Text(nullptr)) + " " +
                                       std::to_string(iconIndex) + " " +
                                       stub::Hex(reinterpret_cast<std::uintptr_t>(large)) + " " +
                                       stub::Hex(reinterpret_cast<std::uintptr_t>(small)) + " " +
                                       std::to_string(icons));
    const std::map<std::string, UINT>& files = stub::Shell().iconFiles;
    const auto found = file != nullptr && std::wcslen(file) < MAX_PATH ? files.find(stub::Lower(stub::FullPath(path)))
                                                                       : files.end();
    // A missing file, or one without an icon, leaves the outputs as they were.
    if (found == files.end()) {
        stub::SetError(ERROR_FILE_NOT_FOUND);
        return stub::ExtractFailed;
    }
    if (found->second == 0) {
        return stub::ExtractFailed;
    }
    if (iconIndex < 0 || static_cast<UINT>(iconIndex) >= found->second) {
        return 0;
    }
    const UINT extracted = std::min(icons, found->second - static_cast<UINT>(iconIndex));
    for (UINT i = 0; i < extracted; ++i) {
        if (large != nullptr) {
            large[i] = stub::MakeIcon();
        }
        if (small != nullptr) {
            small[i] = stub::MakeIcon();
        }
    }
    return extracted;
}

BOOL WINAPI DestroyIcon(HICON icon)
{
    stub::Record("DestroyIcon", stub::Hex(reinterpret_cast<std::uintptr_t>(icon)));
    std::vector<HICON>& live = stub::Shell().liveIcons;
    const auto found = std::find(live.begin(), live.end(), icon);
    if (found == live.end()) {
        stub::SetError(stub::ErrorInvalidCursorHandle);
        return FALSE;
    }
    live.erase(found);
    return TRUE;
}
