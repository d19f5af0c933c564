// Readable forms of the program's records for test failure messages.
#ifndef QUORIN_TESTS_DESCRIBE_H
#define QUORIN_TESTS_DESCRIBE_H

#include "display/display.h"
#include "stub.h"

#include <cstddef>
#include <string>
#include <vector>

inline std::string Describe(const DisplayMode& mode)
{
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
           std::to_string(mode.bitsPerPixel) + "@" + std::to_string(mode.frequency);
}

inline std::string Describe(const std::vector<DisplayMode>& list)
{
    std::string text = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
        text += (i == 0 ? "" : ", ") + Describe(list[i]);
    }
    return text + "]";
}

// The calls that narrow the DLL search, "late: " first when anything but a
// function look-up came before them.
inline std::string LibrarySearchCalls()
{
    std::string text;
    bool late = false;
    for (const stub::Call& call : stub::Calls()) {
        if (call.name == "SetDefaultDllDirectories" || call.name == "SetDllDirectoryW") {
            text += (text.empty() ? "" : ", ") + call.name + " " + call.args;
        } else if (text.empty() && call.name != "GetModuleHandleA" && call.name != "GetProcAddress") {
            late = true;
        }
    }
    return late && !text.empty() ? "late: " + text : text;
}

#endif
