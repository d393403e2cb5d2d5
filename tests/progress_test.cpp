#include "ui/progress.h"

#include <gtest/gtest.h>

#include "ui/dialogs.h"
#include "ui/texts.h"

namespace {

TEST(Progress, WindowIsCentredWithTruncatingHalves)
{
    struct Row {
        int width;
        int height;
        LONG x;
        LONG y;
    };
    const Row rows[] = {
        {1920, 1080, 730, 470}, {1365, 767, 452, 313}, {457, 140, -1, 0},  // toward zero, not toward minus infinity
        {459, 139, 0, 0},       {100, 100, -180, -20},
    };
    for (const Row& row : rows) {
        const POINT origin = CentredOrigin(row.width, row.height);
        EXPECT_EQ(origin.x, row.x) << row.width << "x" << row.height;
        EXPECT_EQ(origin.y, row.y) << row.width << "x" << row.height;
    }
}

TEST(Progress, WithoutAWindowStatusOnlyPumpsAndCloseIsHarmless)
{
    ASSERT_EQ(MainWindow, nullptr);
    PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
    SetStatus(StatusInstalling);
    MSG message;
    EXPECT_EQ(PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_NOREMOVE), FALSE) << "SetStatus did not pump";
    CloseProgressWindow();
    CloseProgressWindow();
    EXPECT_EQ(MainWindow, nullptr);
    EXPECT_EQ(StatusLabel, nullptr);
}

TEST(Texts, EllipsisIsOneCharacterAndLengthsMatch)
{
    struct Row {
        const wchar_t* text;
        std::size_t length;
    };
    const Row rows[] = {
        {StatusDownloading, 35}, {StatusDownloadPercent, 40}, {StatusDownloadMegabytes, 43},
        {StatusInstalling, 34},  {StatusShortcuts, 32},       {FailDownload, 87},
        {FailUnpack, 40},
    };
    for (const Row& row : rows) {
        const std::wstring text = row.text;
        EXPECT_EQ(text.size(), row.length) << text;
        EXPECT_EQ(text.find(L"..."), std::wstring::npos) << text;
    }
    for (const wchar_t* status : {StatusDownloading, StatusInstalling, StatusShortcuts}) {
        EXPECT_EQ(std::wstring(status).back(), L'\u2026');
    }
}

TEST(Texts, QuestionIsTheDisplayNameThenTheBody)
{
    const std::wstring prompt = InstallPrompt();
    EXPECT_EQ(prompt.size(), 227U);
    EXPECT_EQ(prompt.rfind(L"Pivra Suite Messaging is part of Pivra Suite All In One", 0), 0U);
    const std::size_t gap = prompt.find(L"\n\n");
    ASSERT_NE(gap, std::wstring::npos);
    EXPECT_EQ(prompt.substr(gap - 32, 32), L"is not installed on this PC yet.");
    EXPECT_EQ(prompt.find(L'\n', gap + 2), std::wstring::npos) << "one empty line only";
    EXPECT_EQ(prompt.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(prompt.substr(prompt.size() - 23), L"for each of its places.");
}

TEST(Texts, SuffixNamesTheDownloadHost)
{
    EXPECT_EQ(DownloadInsteadSuffix(), L"\n\nYou can download Pivra Suite All In One from https://localhost instead.");
    EXPECT_EQ(DownloadInsteadSuffix().size(), 64U + 9U);
}

}  // namespace
