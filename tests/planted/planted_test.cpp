// Planting: the launcher run from a Downloads folder where a page has
// dropped DLLs under well-known names. Wine is told to prefer native DLLs of
// those names, so it searches the program's folder first, as Windows does
// for every DLL that is not a KnownDLL. No planted copy may ever load. Nor
// may programs dropped there under the unpacking tools' names ever start.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "launcher/layout.h"
#include "ui/texts.h"

namespace e2e {
namespace {

constexpr const wchar_t* Caption = L"Pivra Suite Messaging";

// The planted names (see planted.cmake), which CTest also tells Wine to
// prefer native copies of.
std::vector<std::wstring> PlantedNamesFrom(const std::wstring& list)
{
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(L',', start), list.size());
        names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

const std::vector<std::wstring>& PlantedNames()
{
    static const std::vector<std::wstring> names = PlantedNamesFrom(PIVRA_PLANTED_NAMES);
    return names;
}

std::wstring Downloads()
{
    return KnownFolderPath(FOLDERID_Downloads) + L"\\planted\\";
}

std::wstring Marker(const std::wstring& name)
{
    return Downloads() + name + L".dll.loaded";
}

std::vector<std::wstring> LoadedPlantedCopies()
{
    std::vector<std::wstring> loaded;
    for (const std::wstring& name : PlantedNames()) {
        if (FileExists(Marker(name))) {
            loaded.push_back(name);
        }
    }
    return loaded;
}

std::wstring Joined(const std::vector<std::wstring>& names)
{
    std::wstring joined;
    for (const std::wstring& name : names) {
        joined += (joined.empty() ? L"" : L",") + name;
    }
    return joined;
}

class PlantedDlls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ServerDir().empty()) << "run inside the bench (tests/bench/sandbox.sh)";
        std::error_code ignored;
        std::filesystem::remove_all(Downloads(), ignored);
        ASSERT_TRUE(std::filesystem::create_directories(Downloads()));
        launcher_ = Downloads() + L"PivraSuiteMessaging.exe";
        ASSERT_NE(CopyFileW(LauncherPath().c_str(), launcher_.c_str(), FALSE), FALSE);
        signedLauncher_ = Downloads() + L"PivraSuiteMessaging-offline.exe";
        ASSERT_NE(CopyFileW(PIVRA_PLANTED_SIGNED_LAUNCHER_PATH, signedLauncher_.c_str(), FALSE), FALSE);
        ASSERT_NE(CopyFileW(PIVRA_SEARCH_CONTROL_PATH, (Downloads() + L"control.exe").c_str(), FALSE), FALSE);
        for (const std::wstring& name : PlantedNames()) {
            ASSERT_NE(CopyFileW(PIVRA_PLANTED_DLL_PATH, (Downloads() + name + L".dll").c_str(), FALSE), FALSE);
        }
        wchar_t overrides[4096] = {};
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        ASSERT_EQ(std::wstring(overrides).rfind(std::wstring(PIVRA_PLANTED_NAMES) + L"=n,b;", 0), 0U)
            << "run by CTest, which prefers the planted names' native copies: " << overrides;
        RemoveSuite();
        ClearRecord();
        SetServerMode("ok");
    }
    void TearDown() override
    {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        const std::wstring tar = std::wstring(system) + L"\\tar.exe";
        if (FileExists(tar + L".away")) {
            MoveFileExW((tar + L".away").c_str(), tar.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        RemoveSuite();
        std::error_code ignored;
        std::filesystem::remove_all(Downloads(), ignored);
    }

    std::wstring launcher_;
    std::wstring signedLauncher_;  // bundled and signed: it checks its signature
};

// Without it, a launcher that passes would prove nothing.
TEST_F(PlantedDlls, ControlProgramTrustingTheDefaultSearchLoadsEveryPlantedCopy)
{
    std::wstring commandLine = L"\"" + Downloads() + L"control.exe\"";
    for (const std::wstring& name : PlantedNames()) {
        commandLine += L" " + name + L".dll";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_NE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, Downloads().c_str(),
                             &startup, &process),
              FALSE);
    WaitForSingleObject(process.hProcess, LaunchTimeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(LoadedPlantedCopies(), PlantedNames());
}

TEST_F(PlantedDlls, LauncherLoadsNoneOnAnyRoad)
{
    struct Row {
        const char* road;
        bool suiteThere;
        bool offline;  // the signed launcher that carries the archive: no question
    };
    for (const Row& row : {Row{"installed road", true, false}, Row{"download and install", false, false},
                           Row{"signed offline launcher", false, true}}) {
        SCOPED_TRACE(row.road);
        for (const std::wstring& name : PlantedNames()) {
            DeleteFileW(Marker(name).c_str());
        }
        RemoveSuite();
        ClearRecord();
        if (row.suiteThere) {
            ASSERT_TRUE(InstallFixtureSuite());
        }
        LauncherRun run = StartLauncherAt(row.offline ? signedLauncher_ : launcher_);
        ASSERT_TRUE(run.started);
        if (!row.suiteThere && !row.offline) {
            HWND question = WaitForWindow(L"#32770", Caption, LaunchTimeoutMs);
            ASSERT_NE(question, nullptr) << "no question box";
            AnswerBox(question, IDYES);
        }
        EXPECT_EQ(FinishLauncher(run), 0);
        SuiteRecord record;
        EXPECT_TRUE(WaitForRecord(record, 10000)) << "the suite was not started";
        EXPECT_EQ(Joined(LoadedPlantedCopies()), L"") << "planted copies loaded";
    }
}

// Programs dropped beside the launcher under the names of the unpacking
// tools. The fixture suite stands for them: without PIVRA_FIXTURE_RECORD it
// leaves received.txt beside itself whenever it is started.
TEST_F(PlantedDlls, LauncherStartsNoPlantedToolWithTarPresentOrMissing)
{
    for (const wchar_t* tool : {L"tar.exe", L"powershell.exe"}) {
        ASSERT_NE(CopyFileW(FixtureSuitePath().c_str(), (Downloads() + tool).c_str(), FALSE), FALSE);
    }
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0U);
    const std::wstring tar = std::wstring(system) + L"\\tar.exe";
    const std::wstring plantedRecord = Downloads() + L"received.txt";
    const std::wstring suiteRecord = InstallDir() + L"\\received.txt";
    struct Row {
        const char* what;
        bool tarPresent;
        const wchar_t* tool;  // the system tool that unpacks
    };
    const StandinTar standinTar;  // it logs which tool ran
    for (const Row& row : {Row{"tar present", true, L"tar"}, Row{"tar missing", false, L"powershell"}}) {
        SCOPED_TRACE(row.what);
        RemoveSuite();
        DeleteFileW(plantedRecord.c_str());
        DeleteFileW(StandinLog().c_str());
        SetEnvironmentVariableW(L"PIVRA_STANDIN_LOG", StandinLog().c_str());
        SetEnvironmentVariableW(L"PIVRA_FIXTURE_RECORD", nullptr);
        if (!row.tarPresent) {
            ASSERT_NE(MoveFileExW(tar.c_str(), (tar + L".away").c_str(), MOVEFILE_REPLACE_EXISTING), FALSE);
        }
        LauncherRun run = StartLauncherAt(launcher_);
        ASSERT_TRUE(run.started);
        HWND question = WaitForWindow(L"#32770", Caption, LaunchTimeoutMs);
        ASSERT_NE(question, nullptr) << "no question box";
        AnswerBox(question, IDYES);
        // A planted tool that ran leaves the install to fail: dismiss the box.
        const ULONGLONG deadline = GetTickCount64() + LaunchTimeoutMs;
        while (WaitForSingleObject(run.info.hProcess, 50) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
            HWND box = FindWindowW(L"#32770", Caption);
            if (box != nullptr && box != question && GetDlgItem(box, IDOK) != nullptr) {
                AnswerBox(box, IDOK);
            }
        }
        const int exitCode = FinishLauncher(run);
        if (!row.tarPresent) {
            MoveFileExW((tar + L".away").c_str(), tar.c_str(), MOVEFILE_REPLACE_EXISTING);
        }

        EXPECT_FALSE(FileExists(plantedRecord)) << "a planted tool was started: " << ReadUtf8File(plantedRecord);
        EXPECT_EQ(exitCode, 0);
        const std::vector<std::wstring> runs = StandinRuns();
        ASSERT_EQ(runs.size(), 1U) << "one run of the system's own tool";
        EXPECT_EQ(runs[0].rfind(std::wstring(row.tool) + L"\t", 0), 0U) << runs[0];
        const ULONGLONG started = GetTickCount64();
        while (!FileExists(suiteRecord) && GetTickCount64() - started < 10000) {
            Sleep(20);
        }
        EXPECT_NE(ReadUtf8File(suiteRecord).find(L"arguments=--place messages"), std::wstring::npos)
            << "the installed suite was not started";
    }
}

}  // namespace
}  // namespace e2e
