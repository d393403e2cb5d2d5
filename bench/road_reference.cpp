// The least the installed road can cost: the launcher's required calls on
// that road and nothing else, written straight against Win32 with fixed
// buffers. Built in steps, so that the bench can tell what each adds:
//   PIVRA_ROAD_STEPS 1: DLL search limited to the system folder, COM started
//                    (linking ole32 is part of its cost), ShellExecuteW;
//                    2: and the trailer check on its own file;
//                    3: and the known-folder lookups and the existence test,
//                    each path composed anew where the launcher uses it (the
//                    existence test, then the launch's folder and program):
//                    the whole road, the reference for the launcher.
// Steps 1 and 2 start the program given on the command line in the working
// folder given there, as minimal_launch does; step 3 ignores both and finds
// the suite itself. The parameters come last on the command line.
//   road_reference_<step> <program> <working folder> [parameters]
// Exits 0 once ShellExecuteW reports a start, 1 when it does not, 2 on
// wrong arguments.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>

#ifndef PIVRA_ROAD_STEPS
#define PIVRA_ROAD_STEPS 3
#endif

namespace {

#if PIVRA_ROAD_STEPS >= 2
// The launcher's trailer check: true when the last 16 bytes of its own file
// begin with the magic.
bool HasTrailer()
{
    wchar_t ownPath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    HANDLE file = CreateFileW(ownPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) != FALSE && size.QuadPart > 16) {
        LARGE_INTEGER position = {};
        position.QuadPart = size.QuadPart - 16;
        SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
        unsigned char trailer[16] = {};
        DWORD read = 0;
        found = ReadFile(file, trailer, 16, &read, nullptr) != FALSE && read == 16 &&
                std::memcmp(trailer, "PIVRAZIP", 8) == 0;
    }
    CloseHandle(file);
    return found;
}
#endif

#if PIVRA_ROAD_STEPS >= 3
constexpr DWORD PathCapacity = 1024;  // ample for the bench prefix's paths

// text appended to path; false when it does not fit.
bool Append(wchar_t* path, const wchar_t* text)
{
    const std::size_t used = std::wcslen(path);
    const std::size_t more = std::wcslen(text);
    if (used + more >= PathCapacity) {
        return false;
    }
    std::wmemcpy(path + used, text, more + 1);
    return true;
}

bool KnownFolder(const GUID& id, wchar_t* path)
{
    PWSTR found = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &found);
    const bool fits = SUCCEEDED(result) && found != nullptr && std::wcslen(found) < PathCapacity;
    if (fits) {
        std::wmemcpy(path, found, std::wcslen(found) + 1);
    }
    CoTaskMemFree(found);
    return fits;
}

// The install folder as the launcher composes it: UserProgramFiles, else
// LocalAppData\Programs, then the suite's folder.
bool InstallFolder(wchar_t* path)
{
    if (!KnownFolder(FOLDERID_UserProgramFiles, path) &&
        !(KnownFolder(FOLDERID_LocalAppData, path) && Append(path, L"\\Programs"))) {
        return false;
    }
    return Append(path, L"\\Pivra Suite All In One");
}

bool SuiteProgram(wchar_t* path)
{
    return InstallFolder(path) && Append(path, L"\\PivraSuite.exe");
}
#endif

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the SDK's names are Hungarian.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*showCommand*/)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 3 || count > 4) {
        return 2;
    }
    const wchar_t* parameters = count == 4 ? arguments[3] : nullptr;
#if PIVRA_ROAD_STEPS >= 2
    if (HasTrailer()) {
        return 1;  // a bundled copy: not the installed road
    }
#endif
#if PIVRA_ROAD_STEPS >= 3
    wchar_t existing[PathCapacity] = {};
    wchar_t installFolder[PathCapacity] = {};
    wchar_t suiteProgram[PathCapacity] = {};
    if (!SuiteProgram(existing) || PathFileExistsW(existing) == FALSE || !InstallFolder(installFolder) ||
        !SuiteProgram(suiteProgram)) {
        return 1;
    }
    const wchar_t* program = suiteProgram;
    const wchar_t* folder = installFolder;
#else
    const wchar_t* program = arguments[1];
    const wchar_t* folder = arguments[2];
#endif
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", program, parameters, folder, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32 ? 0 : 1;
}
