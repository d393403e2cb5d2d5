// The download against the bench's HTTPS server, through the real WinHTTP:
// in-process, so that every status text the download sets can be counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/download.h"
#include "e2e/driver.h"
#include "launcher/layout.h"
#include "ui/progress.h"

namespace e2e {
namespace {

std::vector<std::wstring>* recordedTexts = nullptr;
WNDPROC labelProc = nullptr;

LRESULT CALLBACK RecordingLabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && recordedTexts != nullptr) {
        recordedTexts->emplace_back(reinterpret_cast<const wchar_t*>(lParam));  // NOLINT(performance-no-int-to-ptr)
    }
    return CallWindowProcW(labelProc, window, message, wParam, lParam);
}

constexpr const char* Sentinel = "an older archive that must stay as it was";

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ServerDir().empty()) << "run inside the bench (tests/bench/sandbox.sh)";
        ClearServerLog();
        DeleteFileW(TempArchivePath().c_str());
        CreateProgressWindow(GetModuleHandleW(nullptr));
        ASSERT_NE(StatusLabel, nullptr);
        recordedTexts = &texts;
        labelProc = reinterpret_cast<WNDPROC>(  // NOLINT(performance-no-int-to-ptr)
            SetWindowLongPtrW(StatusLabel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingLabelProc)));
    }
    void TearDown() override
    {
        CloseProgressWindow();
        recordedTexts = nullptr;
        SetServerMode("ok");
        DeleteFileW(TempArchivePath().c_str());
    }
    std::vector<std::wstring> texts;
};

int PercentOf(const std::wstring& text)
{
    const std::size_t blank = text.rfind(L' ');
    if (blank == std::wstring::npos || text.back() != L'%') {
        return -1;
    }
    return std::stoi(text.substr(blank + 1));
}

TEST_F(Download, WholeArchiveWithPercentsThatOnlyRise)
{
    SetServerMode("ok");
    const std::wstring path = DownloadArchive();
    ASSERT_EQ(path, TempArchivePath());
    EXPECT_TRUE(ReadBytes(path) == ReadBytes(SuiteZipPath())) << "the archive differs from the served file";
    ASSERT_FALSE(texts.empty());
    int last = -1;
    for (const std::wstring& text : texts) {
        EXPECT_EQ(text.rfind(L"Downloading Pivra Suite All In One\u2026 ", 0), 0U) << text;
        const int percent = PercentOf(text);
        EXPECT_GT(percent, last) << text;
        last = percent;
    }
    EXPECT_EQ(texts.back(), L"Downloading Pivra Suite All In One\u2026 100%");

    const std::vector<std::string> requests = ServerRequests();
    ASSERT_EQ(requests.size(), 1U) << "one GET, no retry";
    EXPECT_NE(requests[0].find("\"method\": \"GET\""), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("\"path\": \"/downloads/PivraSuite-Windows.zip\""), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("\"User-Agent\": \"PivraSuiteLauncher/1\""), std::string::npos) << requests[0];
}

TEST_F(Download, WithoutContentLengthShowsMegabytes)
{
    SetServerMode("large 3145728 chunked");
    ASSERT_EQ(DownloadArchive(), TempArchivePath());
    EXPECT_EQ(ReadBytes(TempArchivePath()).size(), 3145728U);
    const std::vector<std::wstring> expected = {
        L"Downloading Pivra Suite All In One\u2026 0 MB",
        L"Downloading Pivra Suite All In One\u2026 1 MB",
        L"Downloading Pivra Suite All In One\u2026 2 MB",
        L"Downloading Pivra Suite All In One\u2026 3 MB",
    };
    EXPECT_EQ(texts, expected);
}

TEST_F(Download, FailuresLeaveTheTempFolderAsPromised)
{
    enum class Left { Untouched, Empty, Partial };
    struct Row {
        const char* mode;
        Left left;
        std::size_t partialBytes;
    };
    const Row rows[] = {
        {"404", Left::Untouched, 0},
        {"500", Left::Untouched, 0},
        // A man in the middle cannot feed the launcher an archive.
        {"untrusted", Left::Untouched, 0},
        {"empty", Left::Empty, 0},
        // Broken off before the announced length: no archive to unpack.
        {"cut 1000", Left::Partial, 1000},
        {"cut 200000", Left::Partial, 200000},
        {"cut 240000", Left::Partial, 240000},
    };
    for (const Row& row : rows) {
        SetServerMode(row.mode);
        WriteBytes(TempArchivePath(), Sentinel);
        texts.clear();
        EXPECT_EQ(DownloadArchive(), L"") << row.mode;
        const std::string left = ReadBytes(TempArchivePath());
        switch (row.left) {
            case Left::Untouched:
                EXPECT_EQ(left, Sentinel) << row.mode;
                EXPECT_TRUE(texts.empty()) << row.mode;
                break;
            case Left::Empty:
                EXPECT_TRUE(FileExists(TempArchivePath())) << row.mode;
                EXPECT_EQ(left, "") << row.mode;
                break;
            case Left::Partial:
                // Whatever arrived before the break, and never more than was sent.
                EXPECT_TRUE(FileExists(TempArchivePath())) << row.mode;
                EXPECT_LE(left.size(), row.partialBytes) << row.mode;
                std::printf("%s: %zu bytes left in the partial file\n", row.mode, left.size());
                EXPECT_TRUE(left == ReadBytes(SuiteZipPath()).substr(0, left.size()))
                    << row.mode << ": not the served bytes";
                break;
        }
    }
}

TEST_F(Download, HundredMegabytesRefreshTheStatusAtMostOncePerPercent)
{
    SetServerMode("large 104857600");
    ASSERT_EQ(DownloadArchive(), TempArchivePath());
    EXPECT_EQ(ReadBytes(TempArchivePath()).size(), 104857600U);
    std::printf("status refreshes for 100 MB: %zu\n", texts.size());
    EXPECT_LE(texts.size(), 101U);
    EXPECT_GE(texts.size(), 2U);
    EXPECT_EQ(texts.back(), L"Downloading Pivra Suite All In One\u2026 100%");
}

}  // namespace
}  // namespace e2e
