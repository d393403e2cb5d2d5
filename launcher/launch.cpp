#include "launcher/launch.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "launcher/layout.h"

void LaunchSuite()
{
    const std::wstring parameters = PlaceArguments(OwnPlace);
    const std::wstring directory = InstallDir();
    const std::wstring program = SuiteExePath();
    if (program.empty()) {
        return;  // no install folder at all: nothing to start
    }
    // A null parameter string, not an empty one, for the whole-suite row.
    ShellExecuteW(nullptr, L"open", program.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                  directory.c_str(), SW_SHOWNORMAL);
}
