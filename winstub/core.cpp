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
