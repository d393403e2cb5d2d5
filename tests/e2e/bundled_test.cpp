// A launcher that carries the suite's archive: it installs from it on every
// start, offline, without asking, and over a suite that is already there;
// also once the bundled file has been signed, but then only what the
// signature covers, signed by a publisher the machine trusts.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "acquire/trailer.h"
#include "e2e/driver.h"
#include "e2e/windows.h"
#include "launcher/layout.h"
#include "ui/texts.h"

namespace e2e {
namespace {

constexpr const wchar_t* Caption = L"Pivra Suite Messaging";
constexpr const wchar_t* ProgressClass = L"PivraSuiteLauncher";
constexpr const wchar_t* DialogClass = L"#32770";

// What one run showed until the launcher ended.
struct Watched {
    std::vector<std::wstring> statuses;  // the status line's texts, in order
    bool boxSeen = false;                // any message box
    bool progressSeen = false;
    bool progressBeforeBox = false;
    int exitCode = -1;
};

// Polls the launcher's windows until it ends. The status line is read from
// the system's copy of its text, so a busy launcher can't stall the reading.
Watched WatchUntilExit(LauncherRun& run, HWND* box = nullptr)
{
    Watched watched;
    const ULONGLONG deadline = GetTickCount64() + LaunchTimeoutMs;
    while (WaitForSingleObject(run.info.hProcess, 1) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        for (const TopWindow& window : TopLevelWindows(run.info.dwProcessId)) {
            if (!window.visible) {
                continue;
            }
            if (window.className == DialogClass && window.title == Caption) {
                watched.progressBeforeBox = watched.progressSeen;
                watched.boxSeen = true;
                if (box != nullptr) {
                    *box = window.handle;
                    return watched;  // the caller answers it and finishes the run
                }
            }
            if (window.className == ProgressClass) {
                watched.progressSeen = true;
                const std::vector<HWND> children = ChildrenOf(window.handle);
                const std::wstring text = children.empty() ? L"" : TextOf(children.front());
                if (!text.empty() && (watched.statuses.empty() || watched.statuses.back() != text)) {
                    watched.statuses.push_back(text);
                }
            }
        }
    }
    watched.exitCode = FinishLauncher(run);
    return watched;
}

std::wstring BundledLauncherPath()
{
    return PIVRA_BUNDLED_LAUNCHER_PATH;
}

std::wstring SignedBundledLauncherPath()
{
    return PIVRA_SIGNED_BUNDLED_LAUNCHER_PATH;
}

// The names in a folder; none when it does not exist.
std::set<std::wstring> FolderNames(const std::wstring& folder)
{
    std::set<std::wstring> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        names.insert(item.path().filename().wstring());
    }
    return names;
}

std::wstring TempFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

class BundledLauncher : public ::testing::Test {
protected:
    // tar must take its time, so that the installing status shows.
    const StandinTar standinTar_;
    void SetUp() override
    {
        ASSERT_FALSE(ServerDir().empty()) << "run inside the bench (tests/bench/sandbox.sh)";
        RemoveSuite();
        ClearRecord();
        // Were it to download anyway, it would fail, and the log tells.
        SetServerMode("404");
        ClearServerLog();
        DeleteFileW(StandinLog().c_str());
        SetEnvironmentVariableW(L"PIVRA_STANDIN_LOG", StandinLog().c_str());
        // Long enough to see the installing status whatever the polling.
        SetEnvironmentVariableW(L"PIVRA_STANDIN_TAR_DELAY_MS", L"600");
    }
    // Each row starts with no record, request or tool run, and with an older
    // suite in place when it asks for one, so that a real reinstall shows.
    static void StartRow(bool suiteThere)
    {
        RemoveSuite();
        ClearRecord();
        ClearServerLog();
        DeleteFileW(StandinLog().c_str());
        if (suiteThere) {
            ASSERT_TRUE(InstallFixtureSuite());
            WriteBytes(SuiteExePath(), "an older suite");
        }
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"PIVRA_STANDIN_TAR_DELAY_MS", nullptr);
        SetServerMode("ok");
        RemoveSuite();
    }
};

TEST_F(BundledLauncher, InstallsOfflineWithoutAskingAlsoOverAnInstalledSuite)
{
    struct Row {
        const char* what;
        std::wstring launcher;
        bool suiteThere;
    };
    const Row rows[] = {
        {"no suite yet", BundledLauncherPath(), false},
        {"suite already installed", BundledLauncherPath(), true},
        {"signed after bundling, no suite yet", SignedBundledLauncherPath(), false},
        {"signed after bundling, suite already installed", SignedBundledLauncherPath(), true},
        {"a stored zip, signed after bundling", PIVRA_SIGNED_STORED_LAUNCHER_PATH, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartRow(row.suiteThere);
        if (HasFatalFailure()) {
            return;
        }

        LauncherRun run = StartLauncherAt(row.launcher);
        ASSERT_TRUE(run.started);
        HWND box = nullptr;
        Watched watched = WatchUntilExit(run, &box);
        if (box != nullptr) {
            AnswerBox(box, IDNO);  // the question, or a failure box: ends the run
            AnswerBox(box, IDOK);
            watched.exitCode = FinishLauncher(run);
        }

        EXPECT_EQ(watched.exitCode, 0);
        EXPECT_FALSE(watched.boxSeen) << "a message box appeared";
        ASSERT_FALSE(watched.statuses.empty()) << "no progress window with a status";
        EXPECT_EQ(watched.statuses.front(), StatusInstalling);
        for (const std::wstring& status : watched.statuses) {
            EXPECT_EQ(status.find(L"Downloading"), std::wstring::npos) << "status: " << status;
        }
        EXPECT_TRUE(ServerRequests().empty()) << "the launcher asked the server for something";
        const std::vector<std::wstring> runs = StandinRuns();
        ASSERT_EQ(runs.size(), 1U) << "tar alone, once";
        EXPECT_EQ(runs[0].rfind(L"tar\t", 0), 0U) << runs[0];
        EXPECT_NE(runs[0].find(TempArchivePath()), std::wstring::npos) << runs[0];
        EXPECT_FALSE(FileExists(TempArchivePath())) << "the copied archive was left behind";
        EXPECT_TRUE(ReadBytes(SuiteExePath()) == ReadBytes(FixtureSuitePath())) << "the suite was not unpacked";
        EXPECT_EQ(ShortcutNames(), PlaceShortcutNames());
        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << "the suite was not started";
        EXPECT_EQ(record.arguments, L"--place messages");
        EXPECT_EQ(_wcsicmp(record.workingFolder.c_str(), InstallDir().c_str()), 0) << record.workingFolder;
    }
}

// A signed launcher whose signature does not verify carries something its
// publisher did not sign, or was signed by someone the machine does not
// trust: it copies out nothing, installs nothing, downloads nothing.
TEST_F(BundledLauncher, SignedLauncherRefusesWhatItsSignatureDoesNotCover)
{
    struct Row {
        const char* what;
        std::wstring launcher;
        bool suiteThere;
    };
    const Row rows[] = {
        {"one stored file changed after signing, its CRC-32 fixed", PIVRA_TAMPERED_LAUNCHER_PATH, false},
        {"one stored file changed after signing, suite already installed", PIVRA_TAMPERED_LAUNCHER_PATH, true},
        {"intact, signed by a CA the machine does not trust", PIVRA_UNTRUSTED_BUNDLED_LAUNCHER_PATH, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        StartRow(row.suiteThere);
        if (HasFatalFailure()) {
            return;
        }
        const std::set<std::wstring> tempBefore = FolderNames(TempFolder());
        const std::set<std::wstring> programsBefore = FolderNames(UserProgramsFolder());
        const std::set<std::wstring> installBefore = FolderNames(InstallDir());

        LauncherRun run = StartLauncherAt(row.launcher);
        ASSERT_TRUE(run.started);
        HWND box = nullptr;
        Watched watched = WatchUntilExit(run, &box);
        std::wstring boxText;
        if (box != nullptr) {
            boxText = BoxText(box);
            EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
            EXPECT_EQ(GetDlgItem(box, IDYES), nullptr) << "the question came";
            AnswerBox(box, IDNO);
            AnswerBox(box, IDOK);
            watched.exitCode = FinishLauncher(run);
        }

        EXPECT_TRUE(watched.boxSeen) << "no failure box";
        EXPECT_EQ(boxText, std::wstring(FailUnpack) + DownloadInsteadSuffix());
        EXPECT_EQ(watched.exitCode, 1);
        EXPECT_FALSE(watched.progressSeen) << "a progress window came";
        EXPECT_TRUE(ServerRequests().empty()) << "the launcher asked the server for something";
        EXPECT_TRUE(StandinRuns().empty()) << "an unpacking tool ran";
        EXPECT_EQ(FolderNames(TempFolder()), tempBefore) << "something was left in the temp folder";
        EXPECT_EQ(FolderNames(UserProgramsFolder()), programsBefore) << "the Programs folder changed";
        EXPECT_EQ(FolderNames(InstallDir()), installBefore) << "the install folder changed";
        if (row.suiteThere) {
            EXPECT_EQ(ReadBytes(SuiteExePath()), "an older suite") << "the installed suite was replaced";
        }
        EXPECT_TRUE(ShortcutNames().empty()) << "shortcuts were written";
        SuiteRecord record;
        EXPECT_FALSE(WaitForRecord(record, 500)) << "a suite was started";
    }
}

// A temp folder too small for the carried archive. Registered only when
// PIVRA_SMALL_TEMP names a small file system (tests/bundle/full-disk.sh
// provides one and checks that this ran). The failed copy is as good as no
// archive: the launcher goes on with the installed test, then the question.
class BundledLauncherFullDisk : public ::testing::Test {
public:
    void TestBody() override
    {
        wchar_t small[MAX_PATH] = {};
        const DWORD smallLength = GetEnvironmentVariableW(L"PIVRA_SMALL_TEMP", small, MAX_PATH);
        ASSERT_GT(smallLength, 0U);
        ASSERT_LT(smallLength, static_cast<DWORD>(MAX_PATH));

        // Launcher, 4 MiB of archive, trailer: made in the roomy temp folder.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring bundled = std::wstring(temp) + L"pivra-full-disk-bundled.exe";
        const std::string archive(std::size_t{4} << 20U, 'z');
        const ArchiveTrailer trailer = MakeTrailer(archive.size());
        WriteBytes(bundled, ReadBytes(LauncherPath()) + archive + std::string(trailer.begin(), trailer.end()));
        ASSERT_EQ(ReadBytes(bundled).size(), ReadBytes(LauncherPath()).size() + archive.size() + TrailerSize);

        struct Row {
            const char* what;
            bool suiteThere;
        };
        for (const Row& row : {Row{"no suite: the question", false}, Row{"suite installed: started", true}}) {
            SCOPED_TRACE(row.what);
            RemoveSuite();
            ClearRecord();
            if (row.suiteThere) {
                ASSERT_TRUE(InstallFixtureSuite());
            }
            SetEnvironmentVariableW(L"TMP", small);
            SetEnvironmentVariableW(L"TEMP", small);
            const std::wstring partialPath = TempArchivePath();
            DeleteFileW(partialPath.c_str());
            LauncherRun run = StartLauncherAt(bundled);
            ASSERT_TRUE(run.started);
            HWND box = nullptr;
            Watched watched = WatchUntilExit(run, &box);
            if (box != nullptr) {
                EXPECT_EQ(BoxText(box), InstallPrompt());
                AnswerBox(box, IDNO);
                watched.exitCode = FinishLauncher(run);
            }
            const std::string partial = ReadBytes(partialPath);
            DeleteFileW(partialPath.c_str());
            SetEnvironmentVariableW(L"TMP", temp);
            SetEnvironmentVariableW(L"TEMP", temp);

            EXPECT_EQ(watched.exitCode, 0);
            EXPECT_FALSE(watched.progressBeforeBox) << "the progress window came before the question";
            EXPECT_GT(partial.size(), 0U) << "no partial copy was left";
            EXPECT_LT(partial.size(), archive.size());
            SuiteRecord record;
            if (row.suiteThere) {
                EXPECT_FALSE(watched.boxSeen) << "asked although the suite is installed";
                EXPECT_FALSE(watched.progressSeen);
                ASSERT_TRUE(WaitForRecord(record, 10000)) << "the installed suite was not started";
                EXPECT_EQ(record.arguments, L"--place messages");
            } else {
                EXPECT_TRUE(watched.boxSeen) << "no question after the failed copy";
                EXPECT_FALSE(WaitForRecord(record, 500)) << "a suite was started after No";
            }
        }
        RemoveSuite();
        DeleteFileW(bundled.c_str());
    }
};

// NOLINTNEXTLINE(cert-err58-cpp): GoogleTest registers tests at static initialisation.
[[maybe_unused]] const bool FullDiskRegistered = [] {
    if (GetEnvironmentVariableW(L"PIVRA_SMALL_TEMP", nullptr, 0) == 0) {
        return false;
    }
    ::testing::RegisterTest("BundledLauncherFullDisk", "FailedCopyFallsBackToTheInstalledTestAndTheQuestion", nullptr,
                            nullptr, __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new BundledLauncherFullDisk; });
    return true;
}();

}  // namespace
}  // namespace e2e
