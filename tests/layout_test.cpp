#include "launcher/layout.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <set>
#include <string>

namespace {

TEST(Layout, ProgramsFolderPrefersUserProgramFilesThenLocalAppDataElseNothing)
{
    struct Row {
        const wchar_t* userProgramFiles;
        const wchar_t* localAppData;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {LR"(C:\Users\a\AppData\Local\Programs)", LR"(C:\Users\a\AppData\Local)",
         LR"(C:\Users\a\AppData\Local\Programs)"},
        {L"", LR"(C:\Users\a\AppData\Local)", LR"(C:\Users\a\AppData\Local\Programs)"},
        {LR"(D:\Mine)", L"", LR"(D:\Mine)"},
        // Neither lookup worked: no folder, never one from the drive root.
        {L"", L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ChooseProgramsFolder(row.userProgramFiles, row.localAppData), row.expected)
            << "user program files '" << row.userProgramFiles << "', local app data '" << row.localAppData << "'";
    }
}

TEST(Layout, InstallPathsComposeOrStayEmpty)
{
    EXPECT_EQ(InstallDirIn(LR"(C:\P)"), LR"(C:\P\Pivra Suite All In One)");
    EXPECT_EQ(SuiteExePathIn(LR"(C:\P\Pivra Suite All In One)"), LR"(C:\P\Pivra Suite All In One\PivraSuite.exe)");
    // Without a Programs folder nothing may point at "\Pivra Suite All In One".
    EXPECT_EQ(InstallDirIn(L""), L"");
    EXPECT_EQ(SuiteExePathIn(InstallDirIn(L"")), L"");
}

TEST(Layout, ThisProfileFallsBackToLocalAppDataPrograms)
{
    // Wine has no UserProgramFiles; on Windows it is LocalAppData\Programs by default.
    const std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
    ASSERT_FALSE(localAppData.empty());
    const std::wstring programs = UserProgramsFolder();
    const std::wstring userProgramFiles = KnownFolderPath(FOLDERID_UserProgramFiles);
    EXPECT_EQ(programs, userProgramFiles.empty() ? localAppData + L"\\Programs" : userProgramFiles);
    EXPECT_EQ(InstallDir(), programs + L"\\Pivra Suite All In One");
    EXPECT_EQ(SuiteExePath(), programs + L"\\Pivra Suite All In One\\PivraSuite.exe");
}

TEST(Layout, TempArchivePathIsTheTempFolderAndTheArchiveName)
{
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0U);
    const std::wstring path = TempArchivePath();
    EXPECT_EQ(path, std::wstring(temp) + L"PivraSuite-Windows.zip");
    EXPECT_EQ(path.find(L"\\\\"), std::wstring::npos) << "doubled backslash in " << path;
}

TEST(Layout, TempArchivePathIsEmptyWhenTheTempFolderDoesNotFit)
{
    wchar_t saved[32768] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, 32768);
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'x');
    ASSERT_NE(SetEnvironmentVariableW(L"TMP", longFolder.c_str()), FALSE);
    const std::wstring path = TempArchivePath();
    SetEnvironmentVariableW(L"TMP", savedLength > 0 ? saved : nullptr);
    EXPECT_EQ(path, L"");
}

TEST(Layout, PlaceTableHasTenDistinctPlacesWithTheWholeSuiteFirst)
{
    ASSERT_EQ(PlaceTable.size(), 10U);
    EXPECT_STREQ(PlaceTable[0].displayName, InstallFolderName);
    EXPECT_STREQ(PlaceTable[0].place, L"");
    std::set<std::wstring> names;
    std::set<std::wstring> places;
    std::set<std::wstring> icons;
    for (std::size_t i = 0; i < PlaceTable.size(); ++i) {
        const PlaceEntry& entry = PlaceTable[i];
        names.insert(entry.displayName);
        icons.insert(entry.icon);
        EXPECT_EQ(std::wstring(entry.displayName).rfind(L"Pivra Suite ", 0), 0U) << "row " << i;
        EXPECT_NE(entry.icon[0], L'\0') << "row " << i;
        if (i > 0) {
            EXPECT_NE(entry.place[0], L'\0') << "row " << i;
            places.insert(entry.place);
        }
        // Display names become file names: nothing a file name can't hold.
        EXPECT_EQ(std::wstring(entry.displayName).find_first_of(L"\\/:*?\"<>|"), std::wstring::npos) << "row " << i;
    }
    EXPECT_EQ(names.size(), 10U);
    EXPECT_EQ(places.size(), 9U);
    EXPECT_EQ(icons.size(), 10U);
}

TEST(Layout, RowsWhosePlaceKeyAndIconDiffer)
{
    struct Row {
        std::size_t index;
        const wchar_t* place;
        const wchar_t* icon;
    };
    const Row rows[] = {{0, L"", L"suite"}, {1, L"messages", L"chat"}, {5, L"them", L"friends"}};
    for (const Row& row : rows) {
        EXPECT_STREQ(PlaceTable[row.index].place, row.place) << "row " << row.index;
        EXPECT_STREQ(PlaceTable[row.index].icon, row.icon) << "row " << row.index;
    }
    for (std::size_t i : {2U, 3U, 4U, 6U, 7U, 8U, 9U}) {
        EXPECT_STREQ(PlaceTable[i].place, PlaceTable[i].icon) << "row " << i;
    }
}

TEST(Layout, OwnPlaceIsMessaging)
{
    EXPECT_EQ(&OwnPlace, &PlaceTable[1]);
    EXPECT_STREQ(OwnPlace.displayName, L"Pivra Suite Messaging");
}

TEST(Layout, PlaceArgumentsNeverABarePlaceOption)
{
    EXPECT_EQ(PlaceArguments(PlaceTable[0]), L"");
    EXPECT_EQ(PlaceArguments(PlaceTable[1]), L"--place messages");
    EXPECT_EQ(PlaceArguments(PlaceTable[5]), L"--place them");
}

TEST(Layout, DownloadHostIsTheTestBuildsLoopbackName)
{
    EXPECT_STREQ(DownloadHost, L"localhost");
    EXPECT_STREQ(DownloadPath, L"/downloads/PivraSuite-Windows.zip");
}

}  // namespace
