// Drives the real launcher from the Windows side: starts it, watches its
// windows, installs or removes the fixture suite in this profile.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// Generous: a loaded CI machine runs Wine slowly; a hang still fails.
inline constexpr DWORD LaunchTimeoutMs = 90000;

// What the fixture suite recorded when it was started.
struct SuiteRecord {
    std::wstring commandLine;
    std::wstring arguments;
    std::wstring workingFolder;
    int showCommand = -1;
    int icons = -1;  // the icons its folder held when it started
};

// A started launcher; the process is waited for and closed by Finish.
struct LauncherRun {
    PROCESS_INFORMATION info = {};
    bool started = false;
    std::vector<std::wstring> windowTitles;  // top-level windows seen while it ran
};

std::wstring LauncherPath();
std::wstring FixtureSuitePath();
std::wstring SuiteZipPath();
// The same archive with OtherApp\settings.ini and /evil-abs.txt besides.
std::wstring StraySuiteZipPath();

// A launcher file under test and what its place must show and hand over.
struct PlaceLauncher {
    std::wstring key;  // its place's key; "suite" for the whole suite
    std::wstring path;
    std::wstring title;      // window title, box caption, the question's first words
    std::wstring arguments;  // what the suite gets: "--place <key>", or nothing
};
// The own place's launcher, then those the build made besides (the whole
// suite's and Friends In Common's with PIVRA_ALL_PLACES). A launcher whose
// place has no expectations here gets an empty title, which no window has.
std::vector<PlaceLauncher> PlaceLaunchers();
// What follows the program in a command line: "" when nothing does.
std::wstring AfterProgram(const std::wstring& commandLine);

// Where the fixture suite writes its record in these tests.
std::wstring RecordPath();
void ClearRecord();
// Waits for the record; false when none appeared in time.
bool WaitForRecord(SuiteRecord& record, DWORD timeoutMs);

// Puts the fixture suite at SuiteExePath() (folders made as needed).
bool InstallFixtureSuite();
// Removes the suite's folder, its staging folders, the Start menu folder and
// the temp archive.
void RemoveSuite();

// Ends every process of this prefix started from a program of that name, as
// a power cut would: nothing of theirs runs on.
void KillProcessesNamed(const wchar_t* exeName);

// Plays a virus scanner in a process of its own: holds the folder open,
// without delete sharing, from the moment it appears, for holdMs (0: until
// FinishLauncher ends it). It exits with 0 once it has held it that long.
LauncherRun StartScanner(const std::wstring& folder, DWORD holdMs);

LauncherRun StartLauncher();
// The same for a launcher file elsewhere (a bundled one, a copy in Downloads).
LauncherRun StartLauncherAt(const std::wstring& path, const std::wstring& arguments = L"");
// Waits for the launcher to end, recording its top-level windows meanwhile;
// gives its exit code, or -1 when it had to be killed after the timeout.
int FinishLauncher(LauncherRun& run, DWORD timeoutMs = LaunchTimeoutMs);

// Polls for a top-level window of the class and title; null after the timeout.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs);
// A message box's text (its static control 0xFFFF).
std::wstring BoxText(HWND box);
// Presses a message box's button as a click would.
void AnswerBox(HWND box, int buttonId);

// The prefix's system32\tar.exe is Windows' own tar (libarchive's bsdtar,
// built by tests/bench/bsdtar.sh). A test that must make tar fail, hang or
// stop halfway holds a StandinTar: while it lives, the stand-in tar (which
// obeys PIVRA_STANDIN_TAR_*) stands there instead; at its end the real tar
// is back, whatever the test did to the file meanwhile.
std::wstring SystemTarPath();
struct StandinTar {
    StandinTar();
    ~StandinTar();
    StandinTar(const StandinTar&) = delete;
    StandinTar& operator=(const StandinTar&) = delete;
    StandinTar(StandinTar&&) = delete;
    StandinTar& operator=(StandinTar&&) = delete;
};

// The tar/PowerShell stand-ins' log of their runs (PIVRA_STANDIN_LOG), and
// its lines, one "<tool>\t<command line>" each.
std::wstring StandinLog();
std::vector<std::wstring> StandinRuns();
// The file names in the suite's Start menu folder, sorted.
std::vector<std::wstring> ShortcutNames();
// What it should hold: one shortcut per place, sorted.
std::vector<std::wstring> PlaceShortcutNames();

// The test server's folder as Windows sees it (Z:...), and its controls.
std::wstring ServerDir();
void SetServerMode(const std::string& mode);
// The request log's lines written since the last ClearServerLog.
std::vector<std::string> ServerRequests();
void ClearServerLog();

std::wstring ReadUtf8File(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

}  // namespace e2e
