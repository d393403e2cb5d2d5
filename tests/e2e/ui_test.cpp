// The real launcher's question, progress window and failure box, looked at
// from outside as the user meets them. The progress window only lives while
// the download runs, so those tests hold the download up through the bench's
// server ($PIVRA_SERVER_DIR/mode).
#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "e2e/driver.h"
#include "e2e/windows.h"
#include "launcher/layout.h"

namespace e2e {
namespace {

constexpr const wchar_t* Caption = L"Pivra Suite Messaging";
constexpr const wchar_t* DialogClass = L"#32770";
constexpr const wchar_t* ProgressClass = L"PivraSuiteLauncher";
constexpr const wchar_t* QuestionText =
    L"Pivra Suite Messaging is part of Pivra Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
constexpr const wchar_t* DownloadFailureText =
    L"Could not download Pivra Suite All In One. Check the internet connection and try again.\n\n"
    L"You can download Pivra Suite All In One from https://localhost instead.";
constexpr const wchar_t* UnpackFailureText =
    L"Could not unpack Pivra Suite All In One.\n\n"
    L"You can download Pivra Suite All In One from https://localhost instead.";
constexpr const wchar_t* DownloadingText = L"Downloading Pivra Suite All In One\u2026";

constexpr DWORD AppearMs = 20000;  // a cold Wine start of the launcher included
constexpr const char* NeedServer =
    "this test holds the download up through the bench's HTTPS server, and PIVRA_SERVER_DIR is not set: "
    "run it with tests/run-tests.sh";

using ButtonList = std::vector<std::pair<int, std::wstring>>;

// The bench's download server, when this run has one; every mode change is
// undone when the test ends.
class ServerMode {
public:
    ServerMode()
    {
        wchar_t dir[1024] = {};
        const DWORD length = GetEnvironmentVariableW(L"PIVRA_SERVER_DIR", dir, 1024);
        if (length > 0 && length < 1024) {
            dir_ = std::wstring(L"Z:") + dir;
        }
    }
    ~ServerMode() { Restore(); }
    ServerMode(const ServerMode&) = delete;
    ServerMode& operator=(const ServerMode&) = delete;

    [[nodiscard]] bool Present() const { return !dir_.empty(); }

    bool Set(const std::string& line)
    {
        if (!Present()) {
            return false;
        }
        if (!saved_) {
            previous_ = ReadAll(ModeFile());
            saved_ = true;
        }
        return Write(line + "\n");
    }

    void Restore()
    {
        if (saved_) {
            static_cast<void>(Write(previous_.empty() ? std::string("ok\n") : previous_));
            saved_ = false;
        }
    }

    // TCP connections the server has taken, handshake or not.
    [[nodiscard]] std::size_t Connections() const
    {
        const std::string log = ReadAll(dir_ + L"/connections.log");
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    }

private:
    [[nodiscard]] std::wstring ModeFile() const { return dir_ + L"/mode"; }

    static std::string ReadAll(const std::wstring& path)
    {
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        return {(std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()};
    }

    [[nodiscard]] bool Write(const std::string& content) const
    {
        // Whole or not at all: the server reads the file on every connection.
        const std::wstring part = ModeFile() + L".part";
        {
            std::ofstream out(std::filesystem::path(part), std::ios::binary | std::ios::trunc);
            out << content;
            if (!out.flush()) {
                return false;
            }
        }
        return MoveFileExW(part.c_str(), ModeFile().c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }

    std::wstring dir_;
    std::string previous_;
    bool saved_ = false;
};

LauncherRun StartLauncherOn(const std::wstring& desktop)
{
    LauncherRun run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring desktopName = desktop;
    startup.lpDesktop = desktopName.data();
    std::wstring commandLine = L"\"" + LauncherPath() + L"\"";
    run.started = CreateProcessW(LauncherPath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &run.info) != FALSE;
    return run;
}

// One run of the real launcher, killed and reaped however the test ends.
class Launch {
public:
    Launch() : Launch(StartLauncher()) {}
    explicit Launch(const std::wstring& desktop) : Launch(StartLauncherOn(desktop)) {}
    ~Launch()
    {
        if (run_.started) {
            FinishLauncher(run_, 0);  // still running: killed
        }
    }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    [[nodiscard]] bool Started() const { return run_.started; }
    [[nodiscard]] DWORD Id() const { return run_.info.dwProcessId; }
    [[nodiscard]] HANDLE Process() const { return run_.info.hProcess; }
    WindowLog& Log() { return log_; }
    // The exit code once the launcher has ended by itself; -1 when it had to
    // be killed at the timeout.
    int Finish(DWORD timeoutMs = LaunchTimeoutMs)
    {
        WaitForExit(Process(), timeoutMs, &log_);
        return FinishLauncher(run_, 0);
    }

private:
    explicit Launch(const LauncherRun& run) : run_(run), log_(run.started ? run.info.dwProcessId : 0) {}
    LauncherRun run_;
    WindowLog log_;
};

std::vector<HWND> VisibleWindowsOf(DWORD processId)
{
    std::vector<HWND> visible;
    for (const TopWindow& window : TopLevelWindows(processId)) {
        if (window.visible) {
            visible.push_back(window.handle);
        }
    }
    return visible;
}

ButtonList ButtonsOf(const MessageBoxView& view)
{
    ButtonList buttons;
    for (const BoxButton& button : view.buttons) {
        buttons.emplace_back(button.id, button.text);
    }
    std::sort(buttons.begin(), buttons.end());
    return buttons;
}

LONG ButtonStyle(const MessageBoxView& view, int id)
{
    for (const BoxButton& button : view.buttons) {
        if (button.id == id) {
            return button.style & BS_TYPEMASK;
        }
    }
    return -1;
}

void ExpectRect(const RECT& actual, const RECT& expected, const char* what)
{
    EXPECT_EQ(actual.left, expected.left) << what;
    EXPECT_EQ(actual.top, expected.top) << what;
    EXPECT_EQ(actual.right, expected.right) << what;
    EXPECT_EQ(actual.bottom, expected.bottom) << what;
}

bool DirectoryExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Saves the screen into the build tree's artifacts, for people to look at.
void Screenshot(const char* name)
{
    Sleep(300);  // let the last paint reach the X server
    std::wstring why;
    const std::string png = std::string(PIVRA_ARTIFACTS_DIR) + "/" + name + ".png";
    EXPECT_TRUE(SaveScreenshot(PIVRA_SCREENSHOT_SCRIPT, png, 20000, why)) << why;
}

std::string IconScratch()
{
    return std::string(PIVRA_ARTIFACTS_DIR) + "/icon-scratch.ppm";
}

// Clicks a button of the box and waits for the box to go.
[[nodiscard]] bool Answer(HWND box, int buttonId, WindowLog& log)
{
    return Press(GetDlgItem(box, buttonId)) && WaitForWindowGone(box, 5000, &log);
}

// The status line once it shows a text: the window's first child.
HWND WaitForStatusText(HWND window, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        const std::vector<HWND> children = ChildrenOf(window);
        if (!children.empty() && !TextOf(children.front()).empty()) {
            return children.front();
        }
        Sleep(2);
    } while (GetTickCount64() < deadline && IsWindow(window) != FALSE);
    return nullptr;
}

// After a held-up download: the progress window goes, a failure box comes,
// its OK ends the launcher with 1. Returns the box's text.
std::wstring DismissFailure(Launch& launch, HWND progress, HWND question, DWORD timeoutMs)
{
    EXPECT_TRUE(WaitForWindowGone(progress, timeoutMs, &launch.Log())) << "the progress window never went";
    const HWND failure = WaitForTopWindow(launch.Id(), DialogClass, Caption, AppearMs, &launch.Log());
    EXPECT_NE(failure, nullptr) << "no failure box; windows seen: " << launch.Log().Describe();
    EXPECT_NE(failure, question);
    std::wstring text = failure == nullptr ? L"" : TextOf(GetDlgItem(failure, 0xFFFF));
    EXPECT_TRUE(Answer(failure, IDOK, launch.Log())) << "OK did not close the failure box";
    EXPECT_EQ(launch.Finish(), 1);
    return text;
}

// Wine leaves a captioned window to the X window manager, and Xvfb runs
// none: no caption is drawn, clicks on it go nowhere, and DestroyWindow
// waits two seconds for a withdrawal that never comes. Unmanaged, Wine
// draws the frame itself as Windows does. The setting applies to the
// launcher's file only, and to processes started while it is there.
class UnmanagedLauncherWindows {
public:
    UnmanagedLauncherWindows()
    {
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, &disposition) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        created_ = disposition == REG_CREATED_NEW_KEY;
        set_ = RegSetValueExW(key_, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t)) ==
               ERROR_SUCCESS;
    }
    ~UnmanagedLauncherWindows()
    {
        if (key_ == nullptr) {
            return;
        }
        RegDeleteValueW(key_, L"Managed");
        RegCloseKey(key_);
        if (created_) {
            RegDeleteKeyW(HKEY_CURRENT_USER, KeyPath);
        }
    }
    UnmanagedLauncherWindows(const UnmanagedLauncherWindows&) = delete;
    UnmanagedLauncherWindows& operator=(const UnmanagedLauncherWindows&) = delete;
    [[nodiscard]] bool Set() const { return set_; }

private:
    static constexpr const wchar_t* KeyPath = L"Software\\Wine\\AppDefaults\\PivraSuiteMessaging.exe\\X11 Driver";
    HKEY key_ = nullptr;
    bool created_ = false;
    bool set_ = false;
};

class LauncherUi : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveSuite();
        ClearRecord();
        ASSERT_TRUE(unmanaged_.Set()) << "could not set Wine's Managed=N for the launcher";
    }
    void TearDown() override
    {
        server_.Restore();
        RemoveSuite();
    }

    // The question of a started launcher, once it shows.
    static HWND WaitForQuestion(Launch& launch)
    {
        return WaitForTopWindow(launch.Id(), DialogClass, Caption, AppearMs, &launch.Log());
    }

    ServerMode server_;
    UnmanagedLauncherWindows unmanaged_;
};

class Question : public LauncherUi {};
class Progress : public LauncherUi {};
class Failure : public LauncherUi {};
class UiScreens : public LauncherUi {};

TEST_F(Question, AsksWithTheWholeTextYesAndNoAndYesAsTheDefault)
{
    Launch launch;
    ASSERT_TRUE(launch.Started());
    const HWND box = WaitForQuestion(launch);
    ASSERT_NE(box, nullptr) << "no question box; windows seen: " << launch.Log().Describe();

    MessageBoxView view;
    std::wstring why;
    ASSERT_TRUE(ReadMessageBox(box, view, why)) << why;
    EXPECT_EQ(view.caption, Caption);
    EXPECT_EQ(view.text, QuestionText);
    EXPECT_EQ(ButtonsOf(view), (ButtonList{{IDYES, L"&Yes"}, {IDNO, L"&No"}}));
    // No MB_DEFBUTTON flag: the first button is the default and has the
    // focus. (Wine's DM_GETDEFID names IDOK in every box, so it tells nothing.)
    EXPECT_EQ(ButtonStyle(view, IDYES), BS_DEFPUSHBUTTON);
    EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDYES));
    EXPECT_EQ(ButtonStyle(view, IDNO), BS_PUSHBUTTON);
    EXPECT_EQ(view.exStyle & WS_EX_TOPMOST, 0) << "the question is topmost";
    EXPECT_EQ(view.owner, nullptr) << "the question has an owner window";
    ASSERT_NE(view.icon, nullptr) << "the question shows no icon";
    EXPECT_TRUE(view.iconSet);
    double distance = 0;
    const StockIcon icon = IdentifyIcon(view.icon, PIVRA_SCREENSHOT_SCRIPT, IconScratch(), &distance);
    EXPECT_EQ(icon, StockIcon::Information)
        << "the icon looks like: " << StockIconName(icon) << " (mean difference " << distance << ")";
    EXPECT_EQ(VisibleWindowsOf(launch.Id()), std::vector<HWND>{box}) << launch.Log().Describe();
    Screenshot("question");

    ASSERT_TRUE(Answer(box, IDNO, launch.Log()));
    EXPECT_EQ(launch.Finish(), 0);
}

// Enter in the box presses its focused button: Yes, so the download starts
// and, as the bench lets it fail, the failure box ends the run with 1. No
// would end it with 0 and no second box.
TEST_F(Question, EnterAnswersYes)
{
    if (server_.Present()) {
        ASSERT_TRUE(server_.Set("404"));
    }
    Launch launch;
    ASSERT_TRUE(launch.Started());
    const HWND box = WaitForQuestion(launch);
    ASSERT_NE(box, nullptr) << "no question box; windows seen: " << launch.Log().Describe();
    const HWND focus = FocusOf(box);
    ASSERT_NE(focus, nullptr) << "nothing in the box has the focus";
    // Return's scan code is 0x1C; the key-up form sets the previous-state and transition bits.
    PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 1 | (0x1C << 16));
    PostMessageW(focus, WM_KEYUP, VK_RETURN, 1 | (0x1C << 16) | (1 << 30) | (static_cast<LPARAM>(1) << 31));
    ASSERT_TRUE(WaitForWindowGone(box, 5000, &launch.Log())) << "Enter did not close the question";
    const HWND failure = WaitForTopWindow(launch.Id(), DialogClass, Caption, AppearMs, &launch.Log());
    ASSERT_NE(failure, nullptr) << "Enter did not start the download; windows seen: " << launch.Log().Describe();
    EXPECT_EQ(TextOf(GetDlgItem(failure, 0xFFFF)), DownloadFailureText);
    ASSERT_TRUE(Press(GetDlgItem(failure, IDOK)));
    EXPECT_EQ(launch.Finish(), 1);
}

TEST_F(Question, NoEndsWithZeroWithoutAnotherWindowOrAFile)
{
    const std::size_t connectionsBefore = server_.Connections();
    Launch launch;
    ASSERT_TRUE(launch.Started());
    const HWND box = WaitForQuestion(launch);
    ASSERT_NE(box, nullptr) << "no question box; windows seen: " << launch.Log().Describe();
    ASSERT_TRUE(Press(GetDlgItem(box, IDNO)));
    EXPECT_TRUE(WaitForExit(launch.Process(), 10000, &launch.Log())) << "the launcher goes on after No";
    EXPECT_EQ(launch.Finish(), 0);

    const std::vector<TopWindow>& seen = launch.Log().Seen();
    ASSERT_EQ(seen.size(), 1U) << "windows seen: " << launch.Log().Describe();
    EXPECT_EQ(seen.front().handle, box);
    EXPECT_FALSE(launch.Log().SawClass(ProgressClass));
    EXPECT_FALSE(FileExists(TempArchivePath())) << TempArchivePath();
    EXPECT_FALSE(DirectoryExists(InstallDir())) << InstallDir();
    EXPECT_FALSE(DirectoryExists(KnownFolderPath(FOLDERID_Programs) + StartMenuFolderName));
    if (server_.Present()) {
        EXPECT_EQ(server_.Connections(), connectionsBefore) << "the launcher went to the server after No";
    }
}

TEST_F(Progress, WindowIsCentredTopmostAndFixedWithItsStatusLine)
{
    ASSERT_TRUE(server_.Present()) << NeedServer;
    // Headers, then silence: the status stays at its first text meanwhile.
    ASSERT_TRUE(server_.Set("stall 4"));
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920) << "the positions below are those of a 1920x1080 screen";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080) << "the positions below are those of a 1920x1080 screen";

    Launch launch;
    ASSERT_TRUE(launch.Started());
    const HWND question = WaitForQuestion(launch);
    ASSERT_NE(question, nullptr) << "no question box; windows seen: " << launch.Log().Describe();
    ASSERT_TRUE(Answer(question, IDYES, launch.Log()));
    const HWND window = WaitForTopWindow(launch.Id(), ProgressClass, Caption, AppearMs, &launch.Log());
    ASSERT_NE(window, nullptr) << "no progress window; windows seen: " << launch.Log().Describe();
    const HWND status = WaitForStatusText(window, 5000);
    ASSERT_NE(status, nullptr) << "the status line got no text";

    EXPECT_EQ(VisibleWindowsOf(launch.Id()), std::vector<HWND>{window}) << launch.Log().Describe();
    EXPECT_EQ(TextOf(window), Caption);
    RECT rect = {};
    GetWindowRect(window, &rect);
    ExpectRect(rect, RECT{730, 470, 1190, 610}, "progress window, outer");

    // The system adds WS_VISIBLE and WS_CLIPSIBLINGS to a shown top-level window.
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & ~(WS_VISIBLE | WS_CLIPSIBLINGS), WS_CAPTION | WS_SYSMENU) << std::hex << style;
    const struct {
        const char* name;
        DWORD bit;
    } absent[] = {{"WS_THICKFRAME", WS_THICKFRAME},
                  {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
                  {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
                  {"WS_CHILD", WS_CHILD},
                  {"WS_POPUP", WS_POPUP}};
    for (const auto& row : absent) {
        EXPECT_EQ(static_cast<DWORD>(style) & row.bit, 0U) << row.name;
    }
    EXPECT_NE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "the progress window is not topmost";
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);

    ASSERT_EQ(ChildrenOf(window).size(), 1U) << "the window has more than its status line";
    EXPECT_EQ(ClassNameOf(status), L"Static");
    ExpectRect(RectInParent(status), RECT{20, 24, 430, 84}, "status line, in the client area");
    EXPECT_EQ(GetWindowLongW(status, GWL_STYLE), static_cast<LONG>(WS_CHILD | WS_VISIBLE | SS_LEFT))
        << std::hex << GetWindowLongW(status, GWL_STYLE);
    EXPECT_EQ(GetDlgCtrlID(status), 0);
    EXPECT_EQ(TextOf(status), DownloadingText);

    LOGFONTW font = {};
    std::wstring why;
    ASSERT_TRUE(ReadFontInside(launch.Process(), status, PIVRA_UI_PROBE_PATH, font, why)) << why;
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    const struct {
        const char* field;
        long actual;
        long expected;
    } fields[] = {
        {"lfHeight", font.lfHeight, -16},
        {"lfWidth", font.lfWidth, 0},
        {"lfWeight", font.lfWeight, FW_NORMAL},
        {"lfItalic", font.lfItalic, FALSE},
        {"lfUnderline", font.lfUnderline, FALSE},
        {"lfStrikeOut", font.lfStrikeOut, FALSE},
        {"lfCharSet", font.lfCharSet, DEFAULT_CHARSET},
        {"lfQuality", font.lfQuality, CLEARTYPE_QUALITY},
        {"lfPitchAndFamily", font.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE},
    };
    for (const auto& row : fields) {
        EXPECT_EQ(row.actual, row.expected) << row.field;
    }
    Screenshot("progress");
    // Everything above was read from the window the stall kept up.
    EXPECT_EQ(TextOf(status), DownloadingText);
    EXPECT_TRUE(IsWindow(window)) << "the progress window went before the checks ended";

    EXPECT_EQ(DismissFailure(launch, window, question, 20000), DownloadFailureText);
}

// Each way of asking a window to close must leave this one open. The launcher
// handles its window's messages only when it pumps, so the request goes in
// while the status still lacks its percentage: the pump that shows it comes
// after, and a WM_NULL sent next returns only once a pump has run. Posted
// input is dispatched in that same pump, before the launcher blocks again.
TEST_F(Progress, CloseRequestsLeaveItOpen)
{
    ASSERT_TRUE(server_.Present()) << NeedServer;
    // Wine's WinHttpReadData returns only with its whole 256 KiB buffer (or at
    // the end), so a full buffer is sent: the status shows its percentage
    // and pumps once, then silence.
    ASSERT_TRUE(server_.Set("stall 3 256KiB"));

    // lParam of a key press with Alt held: repeat 1, F4's scan code, context bit.
    constexpr LPARAM AltF4Down = 1 | (0x3E << 16) | (1 << 29);
    constexpr LPARAM AltF4Up = AltF4Down | (1 << 30) | (static_cast<LPARAM>(1) << 31);
    const struct {
        const char* name;
        void (*ask)(HWND window);
    } routes[] = {
        {"WM_CLOSE", [](HWND window) { SendNotifyMessageW(window, WM_CLOSE, 0, 0); }},
        {"Close in the window menu (SC_CLOSE)",
         [](HWND window) { SendNotifyMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Alt+F4",
         [](HWND window) {
             PostMessageW(window, WM_SYSKEYDOWN, VK_F4, AltF4Down);
             PostMessageW(window, WM_SYSKEYUP, VK_F4, AltF4Up);
         }},
        {"a click on the close button", [](HWND window) { ClickAt(CloseButtonCentre(window)); }},
    };
    for (const auto& route : routes) {
        SCOPED_TRACE(route.name);
        bool tested = false;
        for (int attempt = 1; attempt <= 3 && !tested; ++attempt) {
            RemoveSuite();
            Launch launch;
            ASSERT_TRUE(launch.Started());
            const HWND question = WaitForQuestion(launch);
            ASSERT_NE(question, nullptr) << "no question box; windows seen: " << launch.Log().Describe();
            ASSERT_TRUE(Press(GetDlgItem(question, IDYES)));
            const HWND window = WaitForTopWindow(launch.Id(), ProgressClass, Caption, AppearMs);
            ASSERT_NE(window, nullptr) << "no progress window; windows seen: " << launch.Log().Describe();
            route.ask(window);
            const std::vector<HWND> children = ChildrenOf(window);
            const std::wstring statusNow = children.empty() ? L"" : TextOf(children.front());
            if (statusNow.find(L'%') != std::wstring::npos) {
                std::printf("%s: attempt %d came after the last pump, once more\n", route.name, attempt);
                continue;  // the launcher is killed with this run
            }
            const bool pumped = SendWithin(window, WM_NULL, 0, 0, 10000);
            tested = true;
            if (IsWindow(window) == FALSE) {
                ADD_FAILURE() << "the window closed";
                continue;
            }
            EXPECT_TRUE(pumped) << "the launcher did not pump again";
            EXPECT_TRUE(StaysOpen(window, 1500, &launch.Log())) << "the window closed";
            if (pumped && IsWindow(window) != FALSE) {
                // The download breaks off after its byte; either failure box may follow.
                const std::wstring text = DismissFailure(launch, window, question, 15000);
                EXPECT_TRUE(text == DownloadFailureText || text == UnpackFailureText) << text;
            }
        }
        EXPECT_TRUE(tested) << "every attempt missed the launcher's pumps";
    }
}

TEST_F(Failure, DownloadFailureBoxComesAfterTheWindowIsGone)
{
    struct Row {
        const char* name;
        const char* mode;  // null: no server, the connection is refused
        bool windowStays;  // the progress window is up long enough to be seen
        const char* screenshot;
    };
    const Row withServer[] = {
        {"404", "404", false, nullptr},
        {"headers then silence", "stall 1", true, "failure"},
    };
    const Row withoutServer[] = {{"connection refused", nullptr, false, "failure"}};
    const std::vector<Row> rows = server_.Present()
                                      ? std::vector<Row>(std::begin(withServer), std::end(withServer))
                                      : std::vector<Row>(std::begin(withoutServer), std::end(withoutServer));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveSuite();
        if (row.mode != nullptr) {
            ASSERT_TRUE(server_.Set(row.mode));
        }
        Launch launch;
        ASSERT_TRUE(launch.Started());
        const HWND question = WaitForQuestion(launch);
        ASSERT_NE(question, nullptr) << "no question box; windows seen: " << launch.Log().Describe();
        ASSERT_TRUE(Answer(question, IDYES, launch.Log()));
        HWND progress = nullptr;
        if (row.windowStays) {
            progress = WaitForTopWindow(launch.Id(), ProgressClass, Caption, AppearMs, &launch.Log());
            ASSERT_NE(progress, nullptr) << "no progress window; windows seen: " << launch.Log().Describe();
        }
        const HWND box = WaitForTopWindow(launch.Id(), DialogClass, Caption, AppearMs, &launch.Log());
        ASSERT_NE(box, nullptr) << "no failure box; windows seen: " << launch.Log().Describe();
        // The topmost window must be gone before the box shows.
        EXPECT_EQ(FindWindowW(ProgressClass, nullptr), nullptr) << "the progress window is still there";
        if (progress != nullptr) {
            EXPECT_EQ(IsWindow(progress), FALSE);
        }

        MessageBoxView view;
        std::wstring why;
        ASSERT_TRUE(ReadMessageBox(box, view, why)) << why;
        EXPECT_EQ(view.caption, Caption);
        EXPECT_EQ(view.text, DownloadFailureText);
        EXPECT_EQ(ButtonsOf(view), (ButtonList{{IDOK, L"OK"}}));
        EXPECT_EQ(ButtonStyle(view, IDOK), BS_DEFPUSHBUTTON);
        EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDOK));
        EXPECT_EQ(view.exStyle & WS_EX_TOPMOST, 0) << "the failure box is topmost";
        EXPECT_EQ(view.owner, nullptr) << "the failure box has an owner window";
        ASSERT_NE(view.icon, nullptr) << "the failure box shows no icon";
        EXPECT_TRUE(view.iconSet);
        double distance = 0;
        const StockIcon icon = IdentifyIcon(view.icon, PIVRA_SCREENSHOT_SCRIPT, IconScratch(), &distance);
        EXPECT_EQ(icon, StockIcon::Error)
            << "the icon looks like: " << StockIconName(icon) << " (mean difference " << distance << ")";
        EXPECT_EQ(VisibleWindowsOf(launch.Id()), std::vector<HWND>{box}) << launch.Log().Describe();
        if (row.screenshot != nullptr) {
            Screenshot(row.screenshot);
        }

        ASSERT_TRUE(Press(GetDlgItem(box, IDOK)));
        EXPECT_EQ(launch.Finish(), 1);
        const std::vector<TopWindow>& seen = launch.Log().Seen();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front().handle, question) << launch.Log().Describe();
        EXPECT_EQ(seen.back().handle, box) << launch.Log().Describe();
        for (const TopWindow& window : seen) {
            const bool known = window.handle == question || window.handle == box || window.className == ProgressClass;
            EXPECT_TRUE(known) << "unexpected window: " << window.className << " \"" << window.title << "\"";
        }
    }
}

int ExplorerCount()
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE; more = Process32NextW(snapshot, &entry)) {
        count += _wcsicmp(entry.szExeFile, L"explorer.exe") == 0 ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// Moves this thread onto another desktop while it lives: windows there can
// only be found and read from a thread of that desktop.
class OnDesktop {
public:
    explicit OnDesktop(HDESK desktop) : previous_(GetThreadDesktop(GetCurrentThreadId()))
    {
        attached_ = desktop != nullptr && SetThreadDesktop(desktop) != FALSE;
    }
    ~OnDesktop()
    {
        if (attached_) {
            SetThreadDesktop(previous_);
        }
    }
    OnDesktop(const OnDesktop&) = delete;
    OnDesktop& operator=(const OnDesktop&) = delete;
    [[nodiscard]] bool Attached() const { return attached_; }

private:
    HDESK previous_;
    bool attached_ = false;
};

// A Wine desktop of its own size: Wine reads it from the registry when the
// desktop is first used. The setting and the handle go with this object.
class SizedDesktop {
public:
    SizedDesktop(const std::wstring& name, const std::wstring& size) : name_(name)
    {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        set_ = RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(size.c_str()),
                              static_cast<DWORD>((size.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    ~SizedDesktop()
    {
        if (desktop_ != nullptr) {
            CloseDesktop(desktop_);
        }
        if (key_ != nullptr) {
            RegDeleteValueW(key_, name_.c_str());
            RegCloseKey(key_);
        }
    }
    SizedDesktop(const SizedDesktop&) = delete;
    SizedDesktop& operator=(const SizedDesktop&) = delete;
    [[nodiscard]] bool Set() const { return set_; }
    // The desktop once the launcher has made it by connecting to it.
    HDESK WaitForIt(DWORD timeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (desktop_ == nullptr && GetTickCount64() < deadline) {
            desktop_ = OpenDesktopW(name_.c_str(), 0, FALSE, GENERIC_ALL);
            Sleep(10);
        }
        return desktop_;
    }

private:
    std::wstring name_;
    HKEY key_ = nullptr;
    HDESK desktop_ = nullptr;
    bool set_ = false;
};

// The same launcher on Wine desktops of other sizes: the halves of the
// centring truncate toward zero, so 457 pixels give x = -1.
TEST_F(UiScreens, ProgressWindowIsCentredOnOtherScreenSizes)
{
    ASSERT_TRUE(server_.Present()) << NeedServer;
    ASSERT_TRUE(server_.Set("stall 2"));
    const struct {
        int width;
        int height;
        LONG x;
        LONG y;
    } screens[] = {{1365, 767, 452, 313}, {457, 300, -1, 80}};
    const int explorers = ExplorerCount();
    for (const auto& screen : screens) {
        const std::wstring size = std::to_wstring(screen.width) + L"x" + std::to_wstring(screen.height);
        SCOPED_TRACE(std::string(size.begin(), size.end()));
        RemoveSuite();
        // Wine gives a new desktop the size of one whose explorer still runs.
        const ULONGLONG deadline = GetTickCount64() + 15000;
        while (ExplorerCount() > explorers && GetTickCount64() < deadline) {
            Sleep(50);
        }
        ASSERT_EQ(ExplorerCount(), explorers) << "the last desktop's explorer is still running";
        SizedDesktop sized(L"PivraScreen" + size, size);
        ASSERT_TRUE(sized.Set());
        Launch launch(L"PivraScreen" + size);
        ASSERT_TRUE(launch.Started());
        const HDESK desktop = sized.WaitForIt(AppearMs);
        ASSERT_NE(desktop, nullptr) << "the desktop never came";
        const OnDesktop here(desktop);
        ASSERT_TRUE(here.Attached()) << "SetThreadDesktop failed, error " << GetLastError();

        const HWND question = WaitForQuestion(launch);
        ASSERT_NE(question, nullptr) << "no question box on the desktop";
        RECT desk = {};
        GetWindowRect(GetDesktopWindow(), &desk);
        ExpectRect(desk, RECT{0, 0, screen.width, screen.height}, "the desktop");
        ASSERT_TRUE(Answer(question, IDYES, launch.Log()));
        const HWND window = WaitForTopWindow(launch.Id(), ProgressClass, Caption, AppearMs, &launch.Log());
        ASSERT_NE(window, nullptr) << "no progress window; windows seen: " << launch.Log().Describe();
        RECT rect = {};
        GetWindowRect(window, &rect);
        ExpectRect(rect, RECT{screen.x, screen.y, screen.x + 460, screen.y + 140}, "progress window, outer");
        EXPECT_EQ(DismissFailure(launch, window, question, 15000), DownloadFailureText);
    }
}

}  // namespace
}  // namespace e2e
