#ifndef QUORIN_DISPLAY_DISPLAY_H
#define QUORIN_DISPLAY_DISPLAY_H

#include <cstdint>

// A frequency of 0 asks ApplyDisplayMode for the highest offered rate, a
// bitsPerPixel of 0 for the current depth; both are filled in place.
struct DisplayMode {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t frequency;
    std::uint32_t bitsPerPixel;
};

DisplayMode QueryCurrentMode();
void FindBestFrequency(DisplayMode& mode);
// Returns the platform's display-change result unchanged.
std::int32_t ApplyDisplayMode(DisplayMode& mode);

#endif
