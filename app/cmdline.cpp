#include "app/app.h"

#include <cstdio>
#include <cstring>

static const char UsageText[] =
    "quorin -safe\n"
    "      sets the display mode to 640x480x(32 bits/pixel) at 60 Hz\n"
    "quorin <width>x<height>[x<bpp>][@<freq>]\n"
    "      sets a custom display mode\n";

// Returns where the stretch that starts at p ends: the blank outside double
// quotes, or the end of the text.
static char* EndOfStretch(char* p)
{
    bool quoted = false;
    for (; *p != '\0' && (*p != ' ' || quoted); ++p) {
        if (*p == '"') {
            quoted = !quoted;
        }
    }
    return p;
}

static char* SkipBlanks(char* p)
{
    while (*p == ' ') {
        ++p;
    }
    return p;
}

std::vector<char*> SplitArguments(char* text, int& count)
{
    int tokens = 0;
    for (char* p = SkipBlanks(text); *p != '\0'; p = SkipBlanks(EndOfStretch(p))) {
        ++tokens;
    }

    static char placeholder[] = "";
    std::vector<char*> list;
    list.reserve(static_cast<std::size_t>(tokens) + 2);
    list.push_back(placeholder);
    char* p = SkipBlanks(text);
    while (*p != '\0') {
        char* end = EndOfStretch(p);
        list.push_back(*p == '"' ? p + 1 : p);
        if (end[-1] == '"') {
            end[-1] = '\0';
        } else if (*end != '\0') {
            *end++ = '\0';
        }
        p = SkipBlanks(end);
    }
    list.push_back(nullptr);
    count = tokens + 1;
    return list;
}

static bool EqualsIgnoringAsciiCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char ca = *a;
        char cb = *b;
        if (ca >= 'A' && ca <= 'Z') {
            ca = static_cast<char>(ca - 'A' + 'a');
        }
        if (cb >= 'A' && cb <= 'Z') {
            cb = static_cast<char>(cb - 'A' + 'a');
        }
        if (ca != cb) {
            return false;
        }
        if (ca == '\0') {
            return true;
        }
    }
}

static void ShowError(const char* format, const char* argument)
{
    // snprintf cuts the argument so that the message stays within the buffer.
    char message[300];
    (void)std::snprintf(message, sizeof message, format, argument);
    MessageBoxA(nullptr, message, "Error", MB_OK);
}

static int HandleArgument(const char* argument, DisplayMode& mode)
{
    if (std::strcmp(argument, "-?") == 0 || std::strcmp(argument, "/?") == 0) {
        MessageBoxA(nullptr, UsageText, "Usage", MB_OK);
        return CMDLINE_EXIT;
    }
    if (EqualsIgnoringAsciiCase(argument, "-safe")) {
        mode = DisplayMode{640, 480, 60, 32};
        return CMDLINE_APPLY;
    }
    switch (ParseSpec(mode, argument)) {
    case MODE_INVALID:
        ShowError("Invalid parameter: %s", argument);
        return CMDLINE_EXIT;
    case MODE_OUT_OF_RANGE:
        ShowError("Range error in parameter: %s", argument);
        return CMDLINE_EXIT;
    default:
        return CMDLINE_APPLY;
    }
}

int HandleCommandLine(const char* text, DisplayMode& mode)
{
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    int count = 0;
    const std::vector<char*> arguments = SplitArguments(copy.data(), count);
    if (count >= 3) {
        MessageBoxA(nullptr, "Too many parameters", "Error", MB_OK);
        return CMDLINE_EXIT;
    }
    if (count == 2) {
        return HandleArgument(arguments[1], mode);
    }
    return CMDLINE_RESIDENT;
}
