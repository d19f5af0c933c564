#include "app/app.h"

#include <cstdint>

namespace {

bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One "%d" conversion: white space, an optional sign, one or more digits. A
// value outside 32 bits sets overflow instead of wrapping around.
bool ScanNumber(const char*& p, std::uint32_t& target, bool& overflow)
{
    const char* q = p;
    while (IsScanSpace(*q)) {
        ++q;
    }
    const bool negative = *q == '-';
    if (*q == '+' || *q == '-') {
        ++q;
    }
    if (!IsDigit(*q)) {
        return false;
    }
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; IsDigit(*q); ++q) {
        if (!tooLarge) {
            magnitude = magnitude * 10 + (*q - '0');
            tooLarge = magnitude > limit;
        }
    }
    overflow = overflow || tooLarge;
    const std::int64_t value = tooLarge ? (negative ? -limit : limit) : (negative ? -magnitude : magnitude);
    target = static_cast<std::uint32_t>(value);
    p = q;
    return true;
}

// The scan "%dx%d%c%d%c%d": the number of targets stored, or -1 when the text
// ends before the first number.
int ScanSpec(const char* text, DisplayMode& mode, char& first, char& second, bool& overflow)
{
    const char* p = text;
    while (IsScanSpace(*p)) {
        ++p;
    }
    if (*p == '\0') {
        return -1;
    }
    if (!ScanNumber(p, mode.width, overflow)) {
        return 0;
    }
    if (*p != 'x') {
        return 1;
    }
    ++p;
    if (!ScanNumber(p, mode.height, overflow)) {
        return 1;
    }
    if (*p == '\0') {
        return 2;
    }
    first = *p++;
    if (!ScanNumber(p, mode.bitsPerPixel, overflow)) {
        return 3;
    }
    if (*p == '\0') {
        return 4;
    }
    second = *p++;
    if (!ScanNumber(p, mode.frequency, overflow)) {
        return 5;
    }
    return 6;
}

} // namespace

int ParseSpec(DisplayMode& mode, const char* text)
{
    char first = '\0';
    char second = '\0';
    bool overflow = false;
    switch (ScanSpec(text, mode, first, second, overflow)) {
    case 6:
        if (first != 'x' || second != '@') {
            return MODE_INVALID;
        }
        break;
    case 4:
        if (first == 'x') {
            mode.frequency = 0;
        } else if (first == '@') {
            mode.frequency = mode.bitsPerPixel;
            mode.bitsPerPixel = 0;
        } else {
            return MODE_INVALID;
        }
        break;
    case 2:
        mode.bitsPerPixel = 0;
        mode.frequency = 0;
        break;
    default:
        return MODE_INVALID;
    }
    return overflow ? MODE_OUT_OF_RANGE : Validate(mode);
}

int Validate(const DisplayMode& mode)
{
    if (mode.width < 320 || mode.width > 2048) {
        return MODE_OUT_OF_RANGE;
    }
    if (mode.height < 200 || mode.height > 2048) {
        return MODE_OUT_OF_RANGE;
    }
    switch (mode.bitsPerPixel) {
    case 0:
    case 1:
    case 2:
    case 4:
    case 8:
    case 15:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return MODE_OUT_OF_RANGE;
    }
    if (mode.frequency > 200) {
        return MODE_OUT_OF_RANGE;
    }
    return MODE_OK;
}
