// The install road of the real launcher, and the unpacking step on its own,
// with the bench's HTTPS server and the tar/PowerShell stand-ins.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "install/staging.h"
#include "install/unpack.h"
#include "launcher/install_lock.h"
#include "launcher/launch.h"
#include "launcher/layout.h"
#include "ui/texts.h"

namespace e2e {
namespace {

constexpr const wchar_t* Caption = L"Pivra Suite Messaging";

std::wstring SystemFolder()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return system;
}

// The staging folder, beside the suite's folder in the Programs folder.
std::wstring Staging()
{
    return UserProgramsFolder() + L"\\~Pivra";
}

// An earlier launcher's, which may hold an install it set aside.
std::wstring EarlierStaging()
{
    return UserProgramsFolder() + L"\\Pivra Suite All In One.installing";
}

// Where the tools unpack: inside the staging folder, never the Programs folder.
std::wstring Unpacked()
{
    return Staging() + L"\\new";
}

void SetControl(const wchar_t* name, const wchar_t* value)
{
    SetEnvironmentVariableW(name, value);
}

// A tool's log line: its command line, then the folder it ran in.
std::wstring ExpectedTarRun(const std::wstring& archive)
{
    return L"tar\t\"" + SystemTarPath() + L"\" -xf \"" + archive + L"\" -C \"" + Unpacked() + L"\"\t" + SystemFolder();
}

std::wstring ExpectedPowerShellRun(const std::wstring& archive)
{
    return L"powershell\tpowershell.exe -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force "
           L"-LiteralPath '" +
           EscapeForSingleQuotes(archive) + L"' -DestinationPath '" + EscapeForSingleQuotes(Unpacked()) + L"'\"\t" +
           SystemFolder();
}

class Install : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ServerDir().empty()) << "run inside the bench (tests/bench/sandbox.sh)";
        RemoveSuite();
        ClearRecord();
        SetServerMode("ok");
        ClearServerLog();
        DeleteFileW(StandinLog().c_str());
        SetControl(L"PIVRA_STANDIN_LOG", StandinLog().c_str());
        for (const wchar_t* name :
             {L"PIVRA_STANDIN_TAR_EXIT", L"PIVRA_STANDIN_TAR_EXTRACT", L"PIVRA_STANDIN_TAR_DELAY_MS",
              L"PIVRA_STANDIN_TAR_PAUSE_AFTER", L"PIVRA_STANDIN_TAR_PAUSE_MS", L"PIVRA_STANDIN_POWERSHELL_EXIT",
              L"PIVRA_STANDIN_POWERSHELL_EXTRACT"}) {
            SetControl(name, nullptr);
        }
    }
    void TearDown() override
    {
        if (FileExists(SystemTarPath() + L".away")) {
            MoveFileExW((SystemTarPath() + L".away").c_str(), SystemTarPath().c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        SetServerMode("ok");
        RemoveSuite();
    }

    // Starts the launcher and answers its question with Yes.
    LauncherRun StartAndAnswerYes() { return StartAndAnswerYes(PlaceLaunchers().front()); }
    // The same for one place's launcher, whose caption and question name it.
    static LauncherRun StartAndAnswerYes(const PlaceLauncher& launcher)
    {
        LauncherRun run = StartLauncherAt(launcher.path);
        HWND question = WaitForWindow(L"#32770", launcher.title.c_str(), LaunchTimeoutMs);
        EXPECT_NE(question, nullptr) << launcher.key << ": no question box";
        if (question != nullptr) {
            EXPECT_EQ(BoxText(question), launcher.title + InstallPromptBody) << launcher.key;
            AnswerBox(question, IDYES);
        }
        return run;
    }
    // Waits until the stand-ins' log has the line; false after the timeout.
    static bool WaitForStandinLine(const std::wstring& line)
    {
        const ULONGLONG deadline = GetTickCount64() + LaunchTimeoutMs;
        while (GetTickCount64() < deadline) {
            const std::vector<std::wstring> runs = StandinRuns();
            if (std::find(runs.begin(), runs.end(), line) != runs.end()) {
                return true;
            }
            Sleep(20);
        }
        return false;
    }
    // The whole suite was installed and started once, from one download.
    static void ExpectOneWholeInstall(const char* what)
    {
        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << what << ": the suite was not started";
        EXPECT_EQ(record.arguments, L"--place messages") << what;
        EXPECT_EQ(record.icons, static_cast<int>(PlaceCount)) << what << ": started on a partial folder";
        EXPECT_TRUE(ReadBytes(SuiteExePath()) == ReadBytes(FixtureSuitePath())) << what;
        EXPECT_EQ(ShortcutNames(), PlaceShortcutNames()) << what;
        EXPECT_EQ(ServerRequests().size(), 1U) << what << ": one GET in all";
        EXPECT_FALSE(std::filesystem::exists(Staging())) << what;
    }
    // The failure box (the question may linger a moment while it goes);
    // null after the timeout, the launcher then ended.
    static HWND WaitForFailureBox(LauncherRun& run, const wchar_t* caption, DWORD timeoutMs = LaunchTimeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (GetTickCount64() < deadline) {
            HWND candidate = WaitForWindow(L"#32770", caption, 200);
            if (candidate != nullptr && GetDlgItem(candidate, IDOK) != nullptr && !BoxText(candidate).empty()) {
                return candidate;
            }
        }
        FinishLauncher(run, 0);  // a launcher left behind would hold CTest's output open
        return nullptr;
    }
    // Probes the progress window 8 times, asking it to close each time; how
    // many probes it answered within 400 ms while staying open.
    static int ProbeWindow(HWND progress)
    {
        int answered = 0;
        ULONGLONG slowest = 0;
        for (int probe = 0; probe < 8; ++probe) {
            const ULONGLONG before = GetTickCount64();
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(progress, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 400, &result) != 0) {
                ++answered;
            }
            slowest = std::max(slowest, GetTickCount64() - before);
            PostMessageW(progress, WM_CLOSE, 0, 0);
            PostMessageW(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
            Sleep(150);
            EXPECT_NE(IsWindow(progress), FALSE) << "the window was closed during the install";
        }
        std::printf("window answered %d of 8 probes, slowest %llu ms\n", answered, slowest);
        return answered;
    }
    // Between two launchers' runs in one test: nothing installed again.
    static void StartAfresh()
    {
        RemoveSuite();
        ClearRecord();
        ClearServerLog();
        DeleteFileW(StandinLog().c_str());
    }
};

TEST_F(Install, FirstInstallThenSecondStart)
{
    for (const PlaceLauncher& launcher : PlaceLaunchers()) {
        ASSERT_FALSE(launcher.title.empty()) << "no expectations for the launcher of " << launcher.key;
        StartAfresh();
        LauncherRun run = StartAndAnswerYes(launcher);
        HWND progress = WaitForWindow(L"PivraSuiteLauncher", launcher.title.c_str(), LaunchTimeoutMs);
        EXPECT_NE(progress, nullptr) << launcher.key << ": no progress window with its title";
        EXPECT_EQ(FinishLauncher(run), 0) << launcher.key;

        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << launcher.key << ": the suite was not started";
        EXPECT_EQ(record.arguments, launcher.arguments) << launcher.key;
        EXPECT_EQ(AfterProgram(record.commandLine), launcher.arguments.empty() ? L"" : L" " + launcher.arguments)
            << launcher.key << ": " << record.commandLine;
        EXPECT_EQ(_wcsicmp(record.workingFolder.c_str(), InstallDir().c_str()), 0) << record.workingFolder;
        EXPECT_TRUE(FileExists(SuiteExePath()));
        EXPECT_FALSE(FileExists(TempArchivePath())) << "the archive was left behind";
        EXPECT_TRUE(ReadBytes(SuiteExePath()) == ReadBytes(FixtureSuitePath())) << "the suite was not unpacked whole";
        // Windows' own tar unpacked it: PowerShell (a logging stand-in) never ran.
        EXPECT_TRUE(StandinRuns().empty()) << StandinRuns().front();

        EXPECT_EQ(ShortcutNames(), PlaceShortcutNames()) << launcher.key;

        // The second start hands over at once, without a question or a window.
        ClearRecord();
        DeleteFileW(StandinLog().c_str());
        LauncherRun second = StartLauncherAt(launcher.path);
        EXPECT_EQ(FinishLauncher(second), 0);
        EXPECT_TRUE(second.windowTitles.empty()) << "second start showed " << second.windowTitles.front();
        ASSERT_TRUE(WaitForRecord(record, 10000));
        EXPECT_EQ(record.arguments, launcher.arguments) << launcher.key;
        EXPECT_TRUE(StandinRuns().empty());
    }
}

TEST_F(Install, AnsweringNoLeavesNothing)
{
    LauncherRun run = StartLauncher();
    HWND question = WaitForWindow(L"#32770", Caption, LaunchTimeoutMs);
    ASSERT_NE(question, nullptr);
    AnswerBox(question, IDNO);
    EXPECT_EQ(FinishLauncher(run), 0);
    for (const std::wstring& title : run.windowTitles) {
        EXPECT_EQ(title, Caption) << "a window besides the question";
    }
    EXPECT_EQ(FindWindowW(L"PivraSuiteLauncher", nullptr), nullptr);
    EXPECT_TRUE(ServerRequests().empty()) << "downloaded after No";
    EXPECT_FALSE(FileExists(TempArchivePath()));
    EXPECT_FALSE(std::filesystem::exists(InstallDir()));
}

TEST_F(Install, FailuresEndInTheirBoxWithExitCodeOne)
{
    const StandinTar standinTar;  // tar must fail
    struct Row {
        const char* serverMode;
        const wchar_t* message;
        bool toolsFail;
        bool everyLauncher;  // also for the other places' launchers, whose box bears their name
    };
    const Row rows[] = {
        {"404", FailDownload, false, true},
        {"untrusted", FailDownload, false, false},
        {"cut 5000", FailDownload, false, false},
        {"ok", FailUnpack, true, false},
    };
    const std::vector<PlaceLauncher> launchers = PlaceLaunchers();
    for (const PlaceLauncher& launcher : launchers) {
        const wchar_t* caption = launcher.title.c_str();
        for (const Row& row : rows) {
            if (&launcher != &launchers.front() && !row.everyLauncher) {
                continue;
            }
            // A failed unpack may leave the suite's files: each run starts uninstalled.
            StartAfresh();
            SetServerMode(row.serverMode);
            SetControl(L"PIVRA_STANDIN_TAR_EXIT", row.toolsFail ? L"1" : nullptr);
            SetControl(L"PIVRA_STANDIN_POWERSHELL_EXIT", row.toolsFail ? L"1" : nullptr);
            LauncherRun run = StartAndAnswerYes(launcher);
            HWND box = WaitForFailureBox(run, caption);
            ASSERT_NE(box, nullptr) << launcher.key << ", " << row.serverMode << ": no failure box";
            EXPECT_EQ(BoxText(box), std::wstring(row.message) + DownloadInsteadSuffix()) << row.serverMode;
            EXPECT_EQ(FindWindowW(L"PivraSuiteLauncher", nullptr), nullptr) << "progress window still open";
            EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
            EXPECT_EQ(GetDlgItem(box, IDYES), nullptr);
            AnswerBox(box, IDOK);
            EXPECT_EQ(FinishLauncher(run), 1) << launcher.key << ", " << row.serverMode;
            SuiteRecord record;
            EXPECT_FALSE(WaitForRecord(record, 200)) << row.serverMode << ": the suite was started";
            if (row.toolsFail) {
                EXPECT_FALSE(FileExists(TempArchivePath())) << "the archive stays after a failed unpack";
                // Both tools wrote the whole suite before they failed: none of it
                // may pass for an install on the next start.
                EXPECT_FALSE(std::filesystem::exists(InstallDir())) << "a failed unpack left the suite's folder";
                EXPECT_FALSE(std::filesystem::exists(Staging()));
            }
            EXPECT_TRUE(ShortcutNames().empty()) << row.serverMode;
        }
    }
}

TEST_F(Install, CutOffHalfwayTheNextStartInstallsAgain)
{
    const StandinTar standinTar;  // tar must stop halfway
    // tar writes the suite's folder, its program and the icons' folder, then
    // waits: the launcher and tar then end on the spot, as in a power cut.
    SetControl(L"PIVRA_STANDIN_TAR_PAUSE_AFTER", L"3");
    LauncherRun cut = StartAndAnswerYes();
    ASSERT_TRUE(WaitForStandinLine(L"tar\tpaused")) << "tar never got halfway";
    TerminateProcess(cut.info.hProcess, 99);
    KillProcessesNamed(L"tar.exe");
    FinishLauncher(cut);
    EXPECT_FALSE(FileExists(SuiteExePath())) << "a cut-off unpack left the suite's program in place";

    SetControl(L"PIVRA_STANDIN_TAR_PAUSE_AFTER", nullptr);
    ClearServerLog();
    LauncherRun next = StartAndAnswerYes();
    EXPECT_EQ(FinishLauncher(next), 0);
    ExpectOneWholeInstall("after the cut");
}

TEST_F(Install, SecondStartLeavesTheInstallToTheFirst)
{
    const StandinTar standinTar;  // tar must stop halfway
    struct Row {
        const char* what;
        bool whileUnpacking;  // else while the first asks its question
    };
    for (const Row& row : {Row{"while the first asks", false}, Row{"while the first unpacks", true}}) {
        StartAfresh();
        SetControl(L"PIVRA_STANDIN_TAR_PAUSE_AFTER", row.whileUnpacking ? L"3" : nullptr);
        SetControl(L"PIVRA_STANDIN_TAR_PAUSE_MS", row.whileUnpacking ? L"3000" : nullptr);
        LauncherRun first = StartLauncher();
        HWND question = WaitForWindow(L"#32770", Caption, LaunchTimeoutMs);
        ASSERT_NE(question, nullptr) << row.what;
        if (row.whileUnpacking) {
            AnswerBox(question, IDYES);
            ASSERT_TRUE(WaitForStandinLine(L"tar\tpaused")) << row.what;
        } else {
            ShowWindow(question, SW_MINIMIZE);
        }

        LauncherRun second = StartLauncher();
        EXPECT_EQ(FinishLauncher(second, 30000), 0) << row.what;
        EXPECT_TRUE(second.windowTitles.empty())
            << row.what << ": the second start showed " << second.windowTitles.front();
        SuiteRecord record;
        EXPECT_FALSE(WaitForRecord(record, 0)) << row.what << ": the second start started the suite";
        if (!row.whileUnpacking) {
            EXPECT_EQ(IsIconic(question), FALSE) << "the first start's question was not brought back";
            AnswerBox(question, IDYES);
        }
        EXPECT_EQ(FinishLauncher(first), 0) << row.what;
        ExpectOneWholeInstall(row.what);
    }
}

TEST_F(Install, WindowAnswersAndStaysWhileAToolRuns)
{
    const StandinTar standinTar;  // tar must take its time
    SetControl(L"PIVRA_STANDIN_TAR_DELAY_MS", L"3000");
    LauncherRun run = StartAndAnswerYes();
    HWND progress = WaitForWindow(L"PivraSuiteLauncher", Caption, LaunchTimeoutMs);
    ASSERT_NE(progress, nullptr);
    HWND status = FindWindowExW(progress, nullptr, L"STATIC", nullptr);
    // Wait for the unpacking step, then probe the window while tar sleeps.
    const ULONGLONG deadline = GetTickCount64() + LaunchTimeoutMs;
    wchar_t text[256] = {};
    while (GetTickCount64() < deadline) {
        SendMessageTimeoutW(status, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 500, nullptr);
        if (std::wstring(text) == StatusInstalling) {
            break;
        }
        Sleep(20);
    }
    ASSERT_EQ(std::wstring(text), StatusInstalling);
    EXPECT_EQ(ProbeWindow(progress), 8);
    EXPECT_EQ(FinishLauncher(run), 0);
}

TEST_F(Install, AScannerHoldingTheNewSuiteIsOutwaited)
{
    const StandinTar standinTar;  // tar pauses halfway, so the scanner is there first
    SetControl(L"PIVRA_STANDIN_TAR_PAUSE_AFTER", L"3");
    SetControl(L"PIVRA_STANDIN_TAR_PAUSE_MS", L"500");
    const std::wstring newSuite = Unpacked() + L"\\Pivra Suite All In One";
    // Held for 8 s: the install waits it out, its window answering.
    LauncherRun scanner = StartScanner(newSuite, 8000);
    LauncherRun run = StartAndAnswerYes();
    HWND progress = WaitForWindow(L"PivraSuiteLauncher", Caption, LaunchTimeoutMs);
    ASSERT_TRUE(WaitForStandinLine(L"tar\tpaused"));
    Sleep(1500);
    EXPECT_EQ(ProbeWindow(progress), 8);
    EXPECT_EQ(FinishLauncher(run), 0);
    EXPECT_EQ(FinishLauncher(scanner, 10000), 0) << "the scanner never held the new suite";
    ExpectOneWholeInstall("held for 8 s");

    // Held for good: the unpack box once the moves give up, nothing in place.
    StartAfresh();
    scanner = StartScanner(newSuite, 0);
    run = StartAndAnswerYes();
    const ULONGLONG started = GetTickCount64();
    HWND box = WaitForFailureBox(run, Caption, 60000);
    const ULONGLONG waited = GetTickCount64() - started;
    FinishLauncher(scanner, 0);
    ASSERT_NE(box, nullptr) << "no failure box";
    EXPECT_GE(waited, 29000U);
    EXPECT_EQ(BoxText(box), std::wstring(FailUnpack) + DownloadInsteadSuffix());
    EXPECT_FALSE(std::filesystem::exists(InstallDir()));
    AnswerBox(box, IDOK);
    EXPECT_EQ(FinishLauncher(run), 1);
    // Once it lets go, the next start installs whole.
    SetControl(L"PIVRA_STANDIN_TAR_PAUSE_AFTER", nullptr);
    ClearServerLog();
    run = StartAndAnswerYes();
    EXPECT_EQ(FinishLauncher(run), 0);
    ExpectOneWholeInstall("after a scanner held it for good");
}

TEST_F(Install, ACutBetweenTheMovesLeavesTheEarlierInstallToStart)
{
    struct Row {
        const char* what;
        std::wstring staging;      // where the earlier install was set aside
        bool held;                 // by a scanner, for good
        const wchar_t* recreated;  // what a helper of the suite wrote at the suite's place since
    };
    const Row rows[] = {
        {"free", Staging(), false, nullptr},
        {"held by a scanner", Staging(), true, nullptr},
        {"a log written at the suite's place since", Staging(), false, L"\\logs\\today.log"},
        {"settings written there since, of which it holds others", Staging(), false, L"\\settings.ini"},
        {"set aside by an earlier launcher", EarlierStaging(), false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::wstring setAside = row.staging + L"\\previous";
        // The earlier install, with a user's plugin and settings, set aside.
        StartAfresh();
        ASSERT_TRUE(InstallFixtureSuite());
        CreateDirectoryW((InstallDir() + L"\\plugins").c_str(), nullptr);
        WriteBytes(InstallDir() + L"\\plugins\\mine.dll", "the user's");
        WriteBytes(InstallDir() + L"\\settings.ini", "the user's");
        CreateDirectoryW(row.staging.c_str(), nullptr);
        ASSERT_NE(MoveFileExW(InstallDir().c_str(), setAside.c_str(), 0), FALSE);
        // Its settings clash with the earlier install's: kept apart, never deleted.
        const bool clash = row.recreated != nullptr && wcscmp(row.recreated, L"\\settings.ini") == 0;
        if (row.recreated != nullptr) {
            CreateDirectoryW(InstallDir().c_str(), nullptr);
            CreateDirectoryW((InstallDir() + L"\\logs").c_str(), nullptr);
            WriteBytes(InstallDir() + row.recreated, "the suite's");
        }
        // Played by this process: a scanner that holds it without delete sharing.
        HANDLE holder = row.held ? CreateFileW(setAside.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                                 : INVALID_HANDLE_VALUE;

        // Put back and started, asking nothing; or, held for good, the unpack
        // box without a question or a download, the earlier install kept.
        LauncherRun run = StartLauncher();
        HWND box = row.held ? WaitForFailureBox(run, Caption, 60000) : nullptr;
        if (box != nullptr) {
            EXPECT_EQ(BoxText(box), std::wstring(FailUnpack) + DownloadInsteadSuffix());
            AnswerBox(box, IDOK);
        }
        EXPECT_EQ(FinishLauncher(run), row.held ? 1 : 0);
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
        }
        SuiteRecord record;
        EXPECT_EQ(WaitForRecord(record, row.held ? 200 : 10000), !row.held) << "the earlier install was started";
        const std::wstring earlier = row.held ? setAside : InstallDir();
        EXPECT_EQ(ReadBytes(earlier + L"\\plugins\\mine.dll"), "the user's");
        EXPECT_EQ(ReadBytes(earlier + L"\\settings.ini"), "the user's");
        EXPECT_TRUE(ReadBytes(earlier + L"\\PivraSuite.exe") == ReadBytes(FixtureSuitePath()));
        if (row.recreated != nullptr) {
            EXPECT_EQ(ReadBytes((clash ? row.staging + L"\\kept" : InstallDir()) + row.recreated), "the suite's");
        }
        EXPECT_TRUE(ServerRequests().empty());
        EXPECT_EQ(std::filesystem::exists(row.staging), row.held || clash);
    }
}

TEST_F(Install, ADeepSuiteReinstallsOfflineTimeAfterTime)
{
    // Its deepest file lies 250 characters deep once installed, deeper
    // still while staged; the user keeps a file deeper yet, past MAX_PATH.
    std::wstring deep = PIVRA_DEEP_FILE;
    std::replace(deep.begin(), deep.end(), L'/', L'\\');
    const std::wstring deepFile = InstallDir() + L"\\" + deep;
    const std::wstring usersFile = deepFile.substr(0, deepFile.rfind(L'\\')) + L"\\the-users-own-notes-kept-here.txt";
    for (int start = 1; start <= 10; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        ClearRecord();
        LauncherRun run = StartLauncherAt(PIVRA_DEEP_BUNDLED_LAUNCHER_PATH);
        ASSERT_EQ(FinishLauncher(run, 60000), 0);
        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << "the suite was not started";
        EXPECT_EQ(record.icons, static_cast<int>(PlaceCount));
        EXPECT_EQ(ReadBytes(deepFile), "deep");
        if (start == 1) {
            EXPECT_GE(deepFile.size(), 250U) << deepFile;
            WriteBytes(usersFile, "the user's");
        }
        EXPECT_EQ(ReadBytes(usersFile), "the user's");
    }
    EXPECT_TRUE(ReadBytes(SuiteExePath()) == ReadBytes(FixtureSuitePath()));
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(UserProgramsFolder(), ignored)) {
        EXPECT_EQ(entry.path().filename().wstring().rfind(L"~Pivra", 0), std::wstring::npos)
            << "left behind: " << entry.path().filename().wstring();
        EXPECT_EQ(entry.path().filename().wstring().find(L".installing"), std::wstring::npos)
            << "left behind: " << entry.path().filename().wstring();
    }
}

TEST_F(Install, ALockThatDeniesAccessIsALauncherAtWork)
{
    // A lock owned by another principal and open to it alone, as an elevated
    // launcher's answers a normal one: access denied. (Windows would want a
    // privilege to make it so; Wine does not.)
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_NE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;SY)", SDDL_REVISION_1, &descriptor,
                                                                   nullptr),
              FALSE);
    SECURITY_ATTRIBUTES attributes = {static_cast<DWORD>(sizeof(attributes)), descriptor, FALSE};
    // Not owned: only the denial can stop the launcher.
    HANDLE lock = CreateMutexW(&attributes, FALSE, InstallLockName().c_str());
    LocalFree(descriptor);
    ASSERT_NE(lock, nullptr);
    LauncherRun run = StartLauncher();
    EXPECT_EQ(FinishLauncher(run, 30000), 0);
    EXPECT_TRUE(run.windowTitles.empty()) << "it showed " << run.windowTitles.front();
    CloseHandle(lock);
}

TEST_F(Install, UnpackTriesTarThenPowerShell)
{
    const StandinTar standinTar;  // tar must fail, or leave the suite out
    struct Row {
        const char* what;
        const wchar_t* tarExit;
        const wchar_t* tarExtract;
        const wchar_t* powerShellExit;
        std::vector<const wchar_t*> tools;  // the runs expected, in order
        bool tarPresent;
        bool expected;
    };
    const Row rows[] = {
        {"tar succeeds", nullptr, nullptr, nullptr, {L"tar"}, true, true},
        {"tar succeeds without the exe", nullptr, L"0", nullptr, {L"tar"}, true, false},
        {"tar fails, PowerShell decides", L"2", L"0", nullptr, {L"tar", L"powershell"}, true, true},
        {"tar absent", nullptr, nullptr, nullptr, {L"powershell"}, false, true},
        {"both fail", L"1", L"0", L"1", {L"tar", L"powershell"}, true, false},
        {"PowerShell exit 3 is failure", nullptr, nullptr, L"3", {L"powershell"}, false, false},
    };
    const std::wstring archive = TempArchivePath();
    for (const Row& row : rows) {
        RemoveSuite();
        ASSERT_NE(CopyFileW(SuiteZipPath().c_str(), archive.c_str(), FALSE), FALSE);
        DeleteFileW(StandinLog().c_str());
        if (!row.tarPresent) {
            ASSERT_NE(
                MoveFileExW(SystemTarPath().c_str(), (SystemTarPath() + L".away").c_str(), MOVEFILE_REPLACE_EXISTING),
                FALSE);
        }
        SetControl(L"PIVRA_STANDIN_TAR_EXIT", row.tarExit);
        SetControl(L"PIVRA_STANDIN_TAR_EXTRACT", row.tarExtract);
        SetControl(L"PIVRA_STANDIN_POWERSHELL_EXIT", row.powerShellExit);
        SetControl(L"PIVRA_STANDIN_POWERSHELL_EXTRACT", row.powerShellExit != nullptr ? L"0" : nullptr);
        EXPECT_EQ(UnpackArchive(archive), row.expected) << row.what;
        const std::vector<std::wstring> runs = StandinRuns();
        ASSERT_EQ(runs.size(), row.tools.size()) << row.what;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const std::wstring tool = row.tools[i];
            EXPECT_EQ(runs[i], tool == L"tar" ? ExpectedTarRun(archive) : ExpectedPowerShellRun(archive)) << row.what;
        }
        if (!row.tarPresent) {
            MoveFileExW((SystemTarPath() + L".away").c_str(), SystemTarPath().c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    DeleteFileW(archive.c_str());
}

TEST_F(Install, UnpackChangesNothingButTheSuitesFolder)
{
    const std::wstring programs = UserProgramsFolder();
    const std::wstring otherApp = programs + L"\\OtherApp";
    const std::wstring otherSettings = otherApp + L"\\settings.ini";
    const std::wstring setAside = Staging() + L"\\previous";
    const std::wstring usersOwn = Staging() + L"-old";  // named alike, not the launcher's
    const std::wstring archive = TempArchivePath();
    // A user's plugin and settings, and a file of the older version: none
    // of them in the archive.
    const wchar_t* const kept[] = {L"\\plugins\\mine.dll", L"\\settings.ini", L"\\readme.txt"};
    enum class Earlier { Installed, Running, SetAside, Recreated, LeftoverHeld };
    struct Row {
        const char* what;
        std::wstring zip;
        Earlier earlier;
        bool expected;
    };
    // The stray archive also holds OtherApp\settings.ini and /evil-abs.txt.
    const Row rows[] = {
        {"entries beside the suite's folder", StraySuiteZipPath(), Earlier::Installed, true},
        {"over an install", SuiteZipPath(), Earlier::Installed, true},
        {"over a running install", SuiteZipPath(), Earlier::Running, false},
        {"after a cut between the moves", SuiteZipPath(), Earlier::SetAside, true},
        {"a log at the suite's place since the cut", SuiteZipPath(), Earlier::Recreated, true},
        {"a leftover staging folder held open", SuiteZipPath(), Earlier::LeftoverHeld, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RemoveSuite();
        ClearRecord();
        ASSERT_TRUE(InstallFixtureSuite());
        CreateDirectoryW((InstallDir() + L"\\plugins").c_str(), nullptr);
        for (const wchar_t* file : kept) {
            WriteBytes(InstallDir() + file, "kept");
        }
        CreateDirectoryW(otherApp.c_str(), nullptr);
        WriteBytes(otherSettings, "another program's own");
        CreateDirectoryW(usersOwn.c_str(), nullptr);
        ASSERT_NE(CopyFileW(row.zip.c_str(), archive.c_str(), FALSE), FALSE);
        SuiteRecord record;
        if (row.earlier == Earlier::Running) {
            // Started from its folder as the launcher starts it, and kept running.
            SetEnvironmentVariableW(L"PIVRA_FIXTURE_STAY_MS", L"60000");
            LaunchSuite();
            SetEnvironmentVariableW(L"PIVRA_FIXTURE_STAY_MS", nullptr);
            ASSERT_TRUE(WaitForRecord(record, 10000)) << "the suite did not start";
        } else {
            WriteBytes(SuiteExePath(), "an older suite");
        }
        if (row.earlier == Earlier::SetAside || row.earlier == Earlier::Recreated) {
            CreateDirectoryW(Staging().c_str(), nullptr);
            ASSERT_NE(MoveFileExW(InstallDir().c_str(), setAside.c_str(), 0), FALSE);
        }
        if (row.earlier == Earlier::Recreated) {
            CreateDirectoryW(InstallDir().c_str(), nullptr);
            WriteBytes(InstallDir() + L"\\today.log", "the suite's");
        } else if (row.earlier == Earlier::LeftoverHeld) {
            CreateDirectoryW(Unpacked().c_str(), nullptr);
        }
        // Played by this process: a scanner that holds a folder, without delete sharing.
        const std::wstring heldFolder = row.earlier == Earlier::LeftoverHeld ? Staging() : L"";
        HANDLE held = CreateFileW(heldFolder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        // A running suite is told before anything is unpacked: the logging
        // stand-in tar stands ready and must never start.
        std::optional<StandinTar> standinTar;
        if (row.earlier == Earlier::Running) {
            standinTar.emplace();
            DeleteFileW(StandinLog().c_str());
        }
        const ULONGLONG started = GetTickCount64();
        EXPECT_EQ(UnpackArchive(archive), row.expected);
        const ULONGLONG took = GetTickCount64() - started;
        standinTar.reset();
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
        }
        if (row.earlier == Earlier::Running) {
            EXPECT_LT(took, 5000U) << "a running suite was waited for";
            EXPECT_TRUE(StandinRuns().empty()) << "unpacked over a running suite: " << StandinRuns().front();
            EXPECT_FALSE(std::filesystem::exists(Staging())) << "a staging folder was made";
            KillProcessesNamed(L"PivraSuite.exe");
        }
        // The earlier install is where it was, whole; or in the new one, with
        // everything it held that the archive lacks.
        for (const wchar_t* file : kept) {
            EXPECT_EQ(ReadBytes(InstallDir() + file), "kept") << file;
        }
        EXPECT_EQ(std::filesystem::exists(InstallDir() + L"\\icons"), row.expected);
        if (row.earlier == Earlier::Recreated) {
            EXPECT_EQ(ReadBytes(InstallDir() + L"\\today.log"), "the suite's");
        }
        if (row.expected) {
            EXPECT_TRUE(ReadBytes(SuiteExePath()) == ReadBytes(FixtureSuitePath()));
        }
        EXPECT_FALSE(std::filesystem::exists(setAside)) << "left for a later start to put back";
        RemoveInstallLeftovers();
        EXPECT_FALSE(std::filesystem::exists(Staging()));
        EXPECT_FALSE(std::filesystem::exists(Staging() + L".2"));
        EXPECT_TRUE(std::filesystem::exists(usersOwn));
        EXPECT_EQ(ReadBytes(otherSettings), "another program's own");
        EXPECT_FALSE(std::filesystem::exists(programs + L"\\evil-abs.txt"));
        std::error_code ignored;
        std::filesystem::remove_all(otherApp, ignored);
        std::filesystem::remove_all(usersOwn, ignored);
    }
    DeleteFileW(archive.c_str());
}

}  // namespace
}  // namespace e2e
