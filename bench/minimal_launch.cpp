// The least a launcher can do on the installed road: one ShellExecuteW of
// the suite, as LaunchSuite() makes it, and exit. The bench compares the
// real launcher against it.
//   minimal_launch <program> <working folder> [parameters]
#include <windows.h>
#include <shellapi.h>

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the SDK's names are Hungarian.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*showCommand*/)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 3 || count > 4) {
        return 2;
    }
    // A null parameter string, as the launcher passes for the whole-suite row.
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", arguments[1], count == 4 ? arguments[3] : nullptr, arguments[2], SW_SHOWNORMAL);
    // Above 32 means started.
    return reinterpret_cast<INT_PTR>(result) > 32 ? 0 : 1;
}
