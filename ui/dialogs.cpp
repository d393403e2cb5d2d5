#include "ui/dialogs.h"

#include <windows.h>

#include <string>

#include "launcher/layout.h"
#include "ui/progress.h"
#include "ui/texts.h"

namespace {

constexpr UINT QuestionFlags = MB_YESNO | MB_ICONINFORMATION;
constexpr UINT FailureFlags = MB_OK | MB_ICONERROR;
constexpr const wchar_t* DialogClassName = L"#32770";  // a message box's window class

}  // namespace

std::wstring InstallPrompt()
{
    return std::wstring(OwnPlace.displayName) + InstallPromptBody;
}

std::wstring DownloadInsteadSuffix()
{
    return std::wstring(L"\n\nYou can download Pivra Suite All In One from https://") + DownloadHost + L" instead.";
}

bool AskInstall()
{
    const std::wstring question = InstallPrompt();
    return MessageBoxW(nullptr, question.c_str(), OwnPlace.displayName, QuestionFlags) == IDYES;
}

void ReportFailure(const wchar_t* message)
{
    // The always-on-top window must be gone before the box appears.
    CloseProgressWindow();
    const std::wstring text = message + DownloadInsteadSuffix();
    MessageBoxW(nullptr, text.c_str(), OwnPlace.displayName, FailureFlags);
}

void BringLauncherAtWorkToFront()
{
    // Any place's launcher: the progress window's class is theirs alone, and
    // their boxes bear a place's name.
    HWND window = FindWindowW(ProgressClassName, nullptr);
    for (const PlaceEntry& place : PlaceTable) {
        if (window != nullptr) {
            break;
        }
        window = FindWindowW(DialogClassName, place.displayName);
    }
    if (window == nullptr) {
        return;
    }
    if (IsIconic(window) != FALSE) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
}
