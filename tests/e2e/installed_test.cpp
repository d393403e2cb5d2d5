// The installed road: the real launcher finds the suite and hands over.
#include <gtest/gtest.h>

#include "e2e/driver.h"
#include "launcher/launch.h"
#include "launcher/layout.h"

namespace e2e {
namespace {

class InstalledRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveSuite();
        ClearRecord();
    }
    void TearDown() override { RemoveSuite(); }
};

TEST_F(InstalledRoad, StartsTheSuiteAtItsOwnPlaceInItsFolderWithoutAWindow)
{
    ASSERT_TRUE(InstallFixtureSuite());
    for (const PlaceLauncher& launcher : PlaceLaunchers()) {
        ASSERT_FALSE(launcher.title.empty()) << "no expectations for the launcher of " << launcher.key;
        ClearRecord();
        LauncherRun run = StartLauncherAt(launcher.path);
        ASSERT_TRUE(run.started) << launcher.path;
        EXPECT_EQ(FinishLauncher(run), 0) << launcher.key;
        EXPECT_TRUE(run.windowTitles.empty()) << launcher.key << " showed a window: " << run.windowTitles.front();

        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << launcher.key << ": the suite was not started";
        EXPECT_EQ(record.arguments, launcher.arguments) << launcher.key;
        // The whole suite's launcher passes no parameters at all: nothing,
        // not even a blank, follows the program on the suite's command line.
        EXPECT_EQ(AfterProgram(record.commandLine), launcher.arguments.empty() ? L"" : L" " + launcher.arguments)
            << launcher.key << ": " << record.commandLine;
        EXPECT_EQ(_wcsicmp(record.workingFolder.c_str(), InstallDir().c_str()), 0)
            << record.workingFolder << " vs " << InstallDir();
        EXPECT_EQ(record.showCommand, SW_SHOWNORMAL) << launcher.key;
        EXPECT_FALSE(FileExists(TempArchivePath())) << launcher.key << ": the installed road wrote an archive";
    }
}

TEST_F(InstalledRoad, SecondStartHandsOverAgain)
{
    ASSERT_TRUE(InstallFixtureSuite());
    for (int start = 0; start < 2; ++start) {
        ClearRecord();
        LauncherRun run = StartLauncher();
        EXPECT_EQ(FinishLauncher(run), 0) << "start " << start;
        SuiteRecord record;
        ASSERT_TRUE(WaitForRecord(record, 10000)) << "start " << start;
        EXPECT_EQ(record.arguments, L"--place messages") << "start " << start;
    }
}

TEST_F(InstalledRoad, LaunchingAMissingSuiteSaysNothing)
{
    // The executable vanished between the installed test and the launch.
    ASSERT_TRUE(InstallFixtureSuite());
    ASSERT_NE(DeleteFileW(SuiteExePath().c_str()), FALSE);
    const ULONGLONG before = GetTickCount64();
    LaunchSuite();
    EXPECT_LT(GetTickCount64() - before, 5000U);
    SuiteRecord record;
    EXPECT_FALSE(WaitForRecord(record, 500));
    // No box of this process may have appeared.
    DWORD self = GetCurrentProcessId();
    bool sawWindow = false;
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        sawWindow = sawWindow || (owner == self && IsWindowVisible(window) != FALSE);
    }
    EXPECT_FALSE(sawWindow);
}

}  // namespace
}  // namespace e2e
