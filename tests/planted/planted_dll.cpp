// Stands for a DLL that a web page dropped beside the launcher, under a
// well-known name: whoever loads it leaves "<its own path>.loaded".
#include <windows.h>

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the SDK's names are Hungarian.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        lstrcatW(path, L".loaded");
        const HANDLE marker =
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE) {
            CloseHandle(marker);
        }
    }
    return TRUE;
}
