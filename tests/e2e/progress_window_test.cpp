// The progress window as the launcher creates it, read back through user32.
#include <gtest/gtest.h>

#include <string>

#include "ui/progress.h"
#include "ui/texts.h"

namespace {

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override { CreateProgressWindow(GetModuleHandleW(nullptr)); }
    void TearDown() override { CloseProgressWindow(); }
};

TEST_F(ProgressWindow, GeometryStylesAndFont)
{
    ASSERT_NE(MainWindow, nullptr);
    ASSERT_NE(StatusLabel, nullptr);
    EXPECT_EQ(GetParent(StatusLabel), MainWindow);
    wchar_t text[64] = {};
    GetClassNameW(MainWindow, text, 64);
    EXPECT_STREQ(text, L"PivraSuiteLauncher");
    GetWindowTextW(MainWindow, text, 64);
    EXPECT_STREQ(text, L"Pivra Suite Messaging");

    RECT window = {};
    GetWindowRect(MainWindow, &window);
    const POINT origin = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(window.left, origin.x);
    EXPECT_EQ(window.top, origin.y);
    EXPECT_EQ(window.right - window.left, 460);
    EXPECT_EQ(window.bottom - window.top, 140);
    if (GetSystemMetrics(SM_CXSCREEN) == 1920 && GetSystemMetrics(SM_CYSCREEN) == 1080) {
        EXPECT_EQ(window.left, 730);
        EXPECT_EQ(window.top, 470);
    }

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(MainWindow, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD), 0U);
    EXPECT_NE(style & WS_VISIBLE, 0U);
    EXPECT_NE(GetWindowLongPtrW(MainWindow, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    RECT label = {};
    GetWindowRect(StatusLabel, &label);
    MapWindowPoints(nullptr, MainWindow, reinterpret_cast<POINT*>(&label), 2);
    EXPECT_EQ(label.left, 20);
    EXPECT_EQ(label.top, 24);
    EXPECT_EQ(label.right - label.left, 410);
    EXPECT_EQ(label.bottom - label.top, 60);
    EXPECT_EQ(GetWindowTextLengthW(StatusLabel), 0) << "the status line starts empty";

    LOGFONTW font = {};
    const auto handle = reinterpret_cast<HFONT>(SendMessageW(StatusLabel, WM_GETFONT, 0, 0));  // NOLINT
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(GetObjectW(handle, sizeof(font), &font), 0);
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    EXPECT_EQ(font.lfHeight, -16);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
}

TEST_F(ProgressWindow, CloseRequestsAreIgnoredAndStatusIsShown)
{
    SendMessageW(MainWindow, WM_CLOSE, 0, 0);
    SendMessageW(MainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(MainWindow, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_NE(IsWindow(MainWindow), FALSE);
    SetStatus(StatusDownloading);
    wchar_t text[64] = {};
    GetWindowTextW(StatusLabel, text, 64);
    EXPECT_STREQ(text, StatusDownloading);
    HWND window = MainWindow;
    CloseProgressWindow();
    EXPECT_EQ(IsWindow(window), FALSE);
    EXPECT_EQ(MainWindow, nullptr);
    EXPECT_EQ(StatusLabel, nullptr);
}

}  // namespace
