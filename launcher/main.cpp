// The launcher's whole life: start the installed suite, or install it first.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <string>

#include "acquire/appended.h"
#include "acquire/download.h"
#include "install/shortcuts.h"
#include "install/staging.h"
#include "install/unpack.h"
#include "launcher/handle.h"
#include "launcher/install_lock.h"
#include "launcher/launch.h"
#include "launcher/layout.h"
#include "ui/dialogs.h"
#include "ui/progress.h"
#include "ui/texts.h"

namespace {

// What earlier installs left beside the suite goes once the suite runs, so
// nobody waits for it; never while another launcher is at work.
void RemoveLeftoversOnceStarted()
{
    if (StagingFoldersIn(UserProgramsFolder()).empty()) {
        return;
    }
    OwnedMutex lock;
    if (TakeInstallLock(lock)) {
        RemoveInstallLeftovers();
    }
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the SDK's names are Hungarian.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*showCommand*/)
{
    // Before anything can load a DLL: only the system folder, never the
    // launcher's own (a Downloads folder where a page may drop a winhttp.dll).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const bool carriesArchive = CarriesAppendedArchive();
    // An appended archive is installed on every start, so no test is made;
    // otherwise an installed suite starts at once, without any lock.
    if (!carriesArchive && PathFileExistsW(SuiteExePath().c_str()) != FALSE) {
        LaunchSuite();
        RemoveLeftoversOnceStarted();
        return 0;
    }
    // Another place's launcher, or a second start of this one, may be at work
    // on the same install: it finishes and starts the suite.
    OwnedMutex lock;
    if (!TakeInstallLock(lock)) {
        BringLauncherAtWorkToFront();
        return 0;
    }
    bool unverified = false;
    std::wstring archive = carriesArchive ? ExtractAppendedArchive(unverified) : std::wstring();
    // A signed launcher whose signature fails carries something else than
    // what was signed: install nothing from it, and nothing else either.
    if (unverified) {
        ReportFailure(FailUnpack);
        return 1;
    }
    // A start cut off between the two moves of a reinstall left the earlier
    // install set aside: it is the installed suite again. One that can't be
    // put back (held for longer than the moves wait) blocks any install for
    // now: nothing is asked or downloaded in vain.
    if (!RestoreEarlierInstall()) {
        ReportFailure(FailUnpack);
        return 1;
    }
    // No archive after all, or the launcher that held the lock installed it.
    if (archive.empty() && PathFileExistsW(SuiteExePath().c_str()) != FALSE) {
        LaunchSuite();
        RemoveLeftoversOnceStarted();
        return 0;
    }
    if (!archive.empty()) {
        CreateProgressWindow(instance);
    } else {
        if (!AskInstall()) {
            return 0;
        }
        CreateProgressWindow(instance);
        SetStatus(StatusDownloading);
        archive = DownloadArchive();
        if (archive.empty()) {
            ReportFailure(FailDownload);
            return 1;
        }
    }
    SetStatus(StatusInstalling);
    const bool unpacked = UnpackArchive(archive);
    DeleteFileW(archive.c_str());
    if (!unpacked) {
        ReportFailure(FailUnpack);
        return 1;
    }
    SetStatus(StatusShortcuts);
    CreateShortcuts();
    CloseProgressWindow();
    LaunchSuite();
    RemoveLeftoversOnceStarted();
    return 0;
}
