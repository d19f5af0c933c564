#include "internal.h"
#include "stub.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace stub {
namespace {

std::vector<Call>& CallLog()
{
    static std::vector<Call> calls;
    return calls;
}

std::vector<ResetFunction>& Resetters()
{
    static std::vector<ResetFunction> resetters;
    return resetters;
}

DWORD& LastError()
{
    static DWORD error = 0;
    return error;
}

void ResetCore()
{
    CallLog().clear();
    LastError() = 0;
}

[[maybe_unused]] const bool registered = RegisterReset(ResetCore);

} // namespace

const std::vector<Call>& Calls()
{
    return CallLog();
}

std::vector<std::string> CallNames()
{
    std::vector<std::string> names;
    for (const Call& call : CallLog()) {
        names.push_back(call.name);
    }
    return names;
}

int CountCalls(const std::string& name)
{
    int count = 0;
    for (const Call& call : CallLog()) {
        count += call.name == name ? 1 : 0;
    }
    return count;
}

void Record(const std::string& name, const std::string& args)
{
    CallLog().push_back(Call{name, args});
}

std::size_t FirstCall(const std::string& name, std::size_t from)
{
    const std::vector<Call>& calls = CallLog();
    for (std::size_t i = from; i < calls.size(); ++i) {
        if (calls[i].name == name) {
            return i;
        }
    }
    return calls.size();
}

void Reset()
{
    for (ResetFunction reset : Resetters()) {
        reset();
    }
}

bool RegisterReset(ResetFunction reset)
{
    Resetters().push_back(reset);
    return true;
}

void SetError(DWORD error)
{
    LastError() = error;
}

std::string Hex(std::uintptr_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Text(const char* text)
{
    return text == nullptr ? std::string("(null)") : "\"" + std::string(text) + "\"";
}

} // namespace stub

DWORD WINAPI GetLastError(void)
{
    stub::Record("GetLastError");
    return stub::LastError();
}

void WINAPI SetLastError(DWORD error)
{
    stub::Record("SetLastError", std::to_string(error));
    stub::LastError() = error;
}

namespace stub {
namespace {

// Code page 1252 at 0x80 to 0x9F; 0 where it has no character.
const wchar_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Windows' best fit for Latin Extended-A (U+0100 to U+017F) in code page 1252.
const char LatinExtendedABestFit[] = "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLl"
                                     "LlLlNnNnNn???OoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZz?";

char SingleByteAnsiOf(wchar_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(c);
    }
    for (int i = 0; i < 32; ++i) {
        if (Cp1252High[i] != 0 && Cp1252High[i] == c) {
            return static_cast<char>(0x80 + i);
        }
    }
    if (c >= 0x100 && c < 0x180) {
        return LatinExtendedABestFit[c - 0x100];
    }
    return '?';
}

UINT& AnsiCodePage()
{
    static UINT codePage = 1252;
    return codePage;
}

void ResetCodePage()
{
    AnsiCodePage() = 1252;
}

[[maybe_unused]] const bool codePageRegistered = RegisterReset(ResetCodePage);

// Shift JIS's double-byte range; which pair a letter gets does not matter
// here, only that it takes two bytes.
const char DoubleByteLetter[] = "\x83\x40";

std::string AnsiOf(wchar_t c)
{
    if (AnsiCodePage() == 932) {
        return c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(DoubleByteLetter);
    }
    return std::string(1, SingleByteAnsiOf(c));
}

} // namespace

std::wstring FromUtf8(const std::string& text)
{
    std::wstring wide;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        unsigned long code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        wide += static_cast<wchar_t>(code);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return wide;
}

std::string ToUtf8(const std::wstring& text)
{
    std::string narrow;
    for (const wchar_t c : text) {
        const auto code = static_cast<unsigned long>(c);
        if (code < 0x80) {
            narrow += static_cast<char>(code);
        } else if (code < 0x800) {
            narrow += static_cast<char>(0xC0 | (code >> 6));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            narrow += static_cast<char>(0xE0 | (code >> 12));
            narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return narrow;
}

std::vector<BYTE> ToUtf16(const std::wstring& text)
{
    std::vector<BYTE> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<BYTE>(static_cast<unsigned long>(c) & 0xFF));
        bytes.push_back(static_cast<BYTE>((static_cast<unsigned long>(c) >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring FromUtf16(const std::vector<BYTE>& bytes)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    }
    return text;
}

std::string ToAnsi(const std::wstring& text)
{
    std::string ansi;
    for (const wchar_t c : text) {
        ansi += AnsiOf(c);
    }
    return ansi;
}

// What the wide interface reads of ANSI text (code page 1252).
std::wstring FromAnsi(const std::vector<BYTE>& bytes)
{
    std::wstring text;
    for (const BYTE b : bytes) {
        text += b >= 0x80 && b < 0xA0 && Cp1252High[b - 0x80] != 0 ? Cp1252High[b - 0x80]
                                                                   : static_cast<wchar_t>(b);
    }
    return text;
}

void SeedAnsiCodePage(UINT codePage)
{
    AnsiCodePage() = codePage;
}

} // namespace stub
