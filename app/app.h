#ifndef QUORIN_APP_APP_H
#define QUORIN_APP_APP_H

#include "display/display.h"

#include <windows.h>

#include <vector>

enum {
    CMDLINE_RESIDENT = 0,
    CMDLINE_EXIT = 1,
    CMDLINE_APPLY = 2,
};

enum {
    MODE_OK = 0,
    MODE_INVALID = 1,
    MODE_OUT_OF_RANGE = 2,
};

// Null until the resident start creates the single-instance mutex.
extern HANDLE InstanceMutex;

// A system function newer than the oldest Windows the program starts on is
// looked up, never imported, so that the program still starts there; null
// where the function does not exist.
template <typename Function>
Function FindSystemFunction(const char* module, const char* name)
{
    HMODULE loaded = GetModuleHandleA(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
}

int HandleCommandLine(const char* text, DisplayMode& mode);
// Cuts text in place. Entry 0 is an empty placeholder, a null entry ends the
// list, and count receives the number of tokens plus one.
std::vector<char*> SplitArguments(char* text, int& count);
int ParseSpec(DisplayMode& mode, const char* text);
int Validate(const DisplayMode& mode);

#endif
