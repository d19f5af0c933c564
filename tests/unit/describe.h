// Readable forms of the program's records for test failure messages.
#ifndef QUORIN_TESTS_DESCRIBE_H
#define QUORIN_TESTS_DESCRIBE_H

#include "display/display.h"

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

#endif
