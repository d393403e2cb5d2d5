#include "install/run_hidden.h"

#include <windows.h>

#include <vector>

#include "launcher/handle.h"
#include "ui/progress.h"

bool RunHidden(const std::wstring& program, const std::wstring& commandLine, const std::wstring& currentFolder,
               bool hidden)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};
    // CreateProcessW may write into its command line, so it gets a copy.
    std::vector<wchar_t> line(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
    // Named by its full path, the program is never searched for, so nothing
    // beside the launcher (a Downloads folder) can stand in for it; and it
    // runs in a folder of the caller's choosing, not the launcher's own,
    // which would be on its DLL search path.
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, hidden ? CREATE_NO_WINDOW : 0, nullptr,
                       currentFolder.c_str(), &startup, &info) == FALSE) {
        return false;
    }
    const KernelHandle process(info.hProcess);
    const KernelHandle thread(info.hThread);
    while (WaitForSingleObject(process.Get(), ChildWaitSlice) == WAIT_TIMEOUT) {
        PumpMessages();
    }
    DWORD exitCode = 1;  // a failed query counts as a failed run
    GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode == 0;
}
