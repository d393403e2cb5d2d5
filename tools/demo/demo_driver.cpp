// Plays the user's part for tools/demo.sh: starts the launcher, answers its
// question, watches the progress window, takes the screenshots and says what
// happened, one line at a time on stdout (UTF-8).
//   demo_driver first-start <launcher.exe> <its place's name> <screenshot script> <output folder>
//   demo_driver second-start <launcher.exe>
//   demo_driver show-folder <folder> <screenshot script> <output folder>
// Folders of the output are Unix paths (the screenshot script is a Unix
// program); the launcher and the shown folder are Windows paths. Every wait
// has a limit; exit code 0 only when the step went as the user should see it.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "e2e/windows.h"

namespace {

constexpr const wchar_t* DialogClass = L"#32770";
constexpr const wchar_t* ProgressClass = L"PivraSuiteLauncher";
constexpr DWORD AppearMs = 30000;  // a cold Wine start included
constexpr DWORD RunMs = 60000;
constexpr DWORD ShotMs = 20000;
constexpr DWORD PaintMs = 400;  // for the last paint to reach the X server

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// Straight to the handle: the C library would translate the UTF-8 bytes.
void Say(const std::wstring& line)
{
    const std::string bytes = Utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Box texts break lines with line feeds; the narration indents them.
std::wstring Indented(const std::wstring& text, const std::wstring& indent)
{
    std::wstring result = indent;
    for (const wchar_t c : text) {
        result += c;
        if (c == L'\n') {
            result += indent;
        }
    }
    return result;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\u201C" + text + L"\u201D";
}

std::wstring Widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

// "WxH+X+Y" of a window's rectangle on the screen, a margin around it.
std::string CropOf(HWND window, int margin)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    const LONG left = std::max<LONG>(rect.left - margin, 0);
    const LONG top = std::max<LONG>(rect.top - margin, 0);
    const LONG right = std::min<LONG>(rect.right + margin, GetSystemMetrics(SM_CXSCREEN));
    const LONG bottom = std::min<LONG>(rect.bottom + margin, GetSystemMetrics(SM_CYSCREEN));
    return std::to_string(right - left) + "x" + std::to_string(bottom - top) + "+" + std::to_string(left) + "+" +
           std::to_string(top);
}

bool Shoot(const std::string& script, const std::string& folder, const char* name, HWND window, DWORD paintMs = PaintMs)
{
    Sleep(paintMs);
    const std::string png = folder + "/" + name;
    std::wstring why;
    if (!e2e::SaveScreenshot(script, png, ShotMs, why, window != nullptr ? CropOf(window, 12) : "")) {
        Say(L"   ! no screenshot: " + why);
        return false;
    }
    Say(L"   [screenshot " + Widen(png) + L"]");
    return true;
}

// The launcher, ended and closed however the step ends.
class Launcher {
public:
    explicit Launcher(const std::wstring& path)
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + path + L"\"";
        started_ = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &info_) != FALSE;
        if (started_) {
            CloseHandle(info_.hThread);
            log_ = e2e::WindowLog(info_.dwProcessId);
        }
    }
    ~Launcher()
    {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
            CloseHandle(info_.hProcess);
        }
    }
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    [[nodiscard]] bool Started() const { return started_; }
    [[nodiscard]] DWORD Id() const { return info_.dwProcessId; }
    e2e::WindowLog& Log() { return log_; }

    // The exit code, or -1 when it was still running at the limit.
    int Finish(DWORD timeoutMs)
    {
        if (!e2e::WaitForExit(info_.hProcess, timeoutMs, &log_)) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
    e2e::WindowLog log_;
};

// The percentage at the end of a status text, or -1.
int PercentOf(const std::wstring& status)
{
    if (status.size() < 2 || status.back() != L'%') {
        return -1;
    }
    std::size_t start = status.size() - 1;
    while (start > 0 && std::iswdigit(static_cast<wint_t>(status[start - 1])) != 0) {
        --start;
    }
    if (start == status.size() - 1) {
        return -1;
    }
    return std::stoi(status.substr(start, status.size() - 1 - start));
}

// Status texts in the order shown; runs of percentages are kept as ranges.
std::vector<std::wstring> Summarise(const std::vector<std::wstring>& shown)
{
    std::vector<std::wstring> lines;
    std::size_t i = 0;
    while (i < shown.size()) {
        std::size_t end = i + 1;
        if (PercentOf(shown[i]) >= 0) {
            while (end < shown.size() && PercentOf(shown[end]) >= 0) {
                ++end;
            }
        }
        if (end - i > 2) {
            lines.push_back(Quoted(shown[i]) + L" \u2192 \u2026 \u2192 " + Quoted(shown[end - 1]) + L"  (" +
                            std::to_wstring(end - i) + L" different percentages)");
        } else {
            for (std::size_t j = i; j < end; ++j) {
                lines.push_back(Quoted(shown[j]));
            }
        }
        i = end;
    }
    return lines;
}

// caption: the display name of the launcher's place, its boxes' caption and
// its window's title.
int FirstStart(const std::wstring& launcherPath, const std::wstring& caption, const std::string& script,
               const std::string& folder)
{
    Launcher launcher(launcherPath);
    if (!launcher.Started()) {
        Say(L"   ! the launcher did not start (error " + std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    const HWND box = e2e::WaitForTopWindow(launcher.Id(), DialogClass, caption, AppearMs, &launcher.Log());
    if (box == nullptr) {
        Say(L"   ! no question box within " + std::to_wstring(AppearMs / 1000) + L" s; windows seen: " +
            launcher.Log().Describe());
        return 1;
    }
    e2e::MessageBoxView view;
    std::wstring why;
    if (!e2e::ReadMessageBox(box, view, why)) {
        Say(L"   ! cannot read the question box: " + why);
        return 1;
    }
    Say(L"   A box titled " + Quoted(view.caption) + L" asks:");
    Say(Indented(view.text, L"      | "));
    std::wstring buttons;
    for (const e2e::BoxButton& button : view.buttons) {
        buttons += (buttons.empty() ? L"" : L", ") + Quoted(button.text) + L" (id " + std::to_wstring(button.id) + L")";
    }
    Say(L"   Buttons: " + buttons);
    const bool questionShot = Shoot(script, folder, "1-question.png", box);

    Say(L"   The user clicks Yes.");
    if (!e2e::Press(GetDlgItem(box, IDYES)) || !e2e::WaitForWindowGone(box, 5000, &launcher.Log())) {
        Say(L"   ! the Yes button did not close the box");
        return 1;
    }
    const HWND window = e2e::WaitForTopWindow(launcher.Id(), ProgressClass, caption, AppearMs, &launcher.Log());
    if (window == nullptr) {
        Say(L"   ! no progress window; windows seen: " + launcher.Log().Describe());
        return 1;
    }
    RECT rect = {};
    GetWindowRect(window, &rect);
    Say(L"   The progress window " + Quoted(e2e::TextOf(window)) + L" appears (" +
        std::to_wstring(rect.right - rect.left) + L"\u00D7" + std::to_wstring(rect.bottom - rect.top) + L" at " +
        std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L", always on top).");

    std::vector<std::wstring> shown;
    bool progressShot = false;
    const ULONGLONG deadline = GetTickCount64() + RunMs;
    while (IsWindow(window) != FALSE && GetTickCount64() < deadline) {
        const std::vector<HWND> children = e2e::ChildrenOf(window);
        const std::wstring status = children.empty() ? std::wstring() : e2e::TextOf(children.front());
        if (!status.empty() && (shown.empty() || shown.back() != status)) {
            shown.push_back(status);
        }
        const int percent = PercentOf(status);
        // Well inside the download, so the picture shows it under way.
        if (!progressShot && percent >= 15 && percent <= 70) {
            progressShot = true;
            Say(L"   While the status line reads " + Quoted(status) + L":");
            // A status line repaints at once; a shorter wait catches the text read.
            Shoot(script, folder, "2-progress.png", window, 50);
            const std::wstring after = children.empty() ? std::wstring() : e2e::TextOf(children.front());
            Say(L"   (when the screenshot was done it read " + Quoted(after) + L")");
        }
        Sleep(10);
    }
    if (IsWindow(window) != FALSE) {
        Say(L"   ! the progress window was still open after " + std::to_wstring(RunMs / 1000) + L" s");
        return 1;
    }
    Say(L"   The status line showed, in order:");
    for (const std::wstring& line : Summarise(shown)) {
        Say(L"      " + line);
    }
    Say(L"   The progress window closed by itself.");
    const int code = launcher.Finish(RunMs);
    if (code < 0) {
        Say(L"   ! the launcher did not end within " + std::to_wstring(RunMs / 1000) + L" s (ended by the demo)");
        return 1;
    }
    Say(L"   The launcher exited with code " + std::to_wstring(code) + L".");
    Say(L"   Windows it showed: " + launcher.Log().Describe());
    if (!progressShot) {
        Say(L"   ! no percentage between 15 and 70 % was seen, so no progress screenshot");
    }
    return code == 0 && questionShot && progressShot ? 0 : 1;
}

int SecondStart(const std::wstring& launcherPath)
{
    Launcher launcher(launcherPath);
    if (!launcher.Started()) {
        Say(L"   ! the launcher did not start (error " + std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    const int code = launcher.Finish(RunMs);
    if (code < 0) {
        Say(L"   ! the launcher did not end within " + std::to_wstring(RunMs / 1000) + L" s (ended by the demo)");
        return 1;
    }
    const bool quiet = launcher.Log().Seen().empty();
    Say(L"   The launcher exited with code " + std::to_wstring(code) + L" and showed " +
        (quiet ? std::wstring(L"no window at all.") : L"these windows: " + launcher.Log().Describe()));
    return code == 0 && quiet ? 0 : 1;
}

BOOL CALLBACK CollectListView(HWND window, LPARAM parameter)
{
    if (e2e::ClassNameOf(window) == WC_LISTVIEWW) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): how EnumChildWindows passes its pointer
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    }
    return TRUE;
}

struct Found {
    std::wstring title;
    HWND window = nullptr;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM parameter)
{
    auto* found = reinterpret_cast<Found*>(parameter);  // NOLINT(performance-no-int-to-ptr): EnumWindows' way
    if (IsWindowVisible(window) != FALSE && e2e::TextOf(window).find(found->title) != std::wstring::npos) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

// The folder in Wine's own Explorer window, placed and sized so that every
// entry shows, then photographed and closed.
int ShowFolder(const std::wstring& folder, const std::string& script, const std::string& outputFolder)
{
    wchar_t windowsFolder[MAX_PATH] = {};
    GetWindowsDirectoryW(windowsFolder, MAX_PATH);
    const std::wstring explorer = std::wstring(windowsFolder) + L"\\explorer.exe";
    std::wstring commandLine = L"\"" + explorer + L"\" /root,\"" + folder + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(explorer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info) == FALSE) {
        Say(L"   ! Explorer did not start (error " + std::to_wstring(GetLastError()) + L")");
        return 1;
    }
    CloseHandle(info.hThread);
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    Found found{name, nullptr};
    const ULONGLONG deadline = GetTickCount64() + AppearMs;
    while (found.window == nullptr && GetTickCount64() < deadline) {
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&found));
        Sleep(50);
    }
    int result = 1;
    if (found.window == nullptr) {
        Say(L"   ! no Explorer window titled " + Quoted(name) + L" within " + std::to_wstring(AppearMs / 1000) + L" s");
    } else {
        Say(L"   Explorer shows the folder in a window titled " + Quoted(e2e::TextOf(found.window)) + L".");
        SetWindowPos(found.window, HWND_TOP, 240, 160, 900, 560, SWP_SHOWWINDOW);
        Sleep(1000);  // the listing fills in and lays out at the new size
        // The name column as wide as the longest name, so none is cut short.
        std::vector<HWND> lists;
        EnumChildWindows(found.window, CollectListView, reinterpret_cast<LPARAM>(&lists));
        for (HWND list : lists) {
            e2e::SendWithin(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(LVSCW_AUTOSIZE, 0), 5000);
        }
        RedrawWindow(found.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        Sleep(1000);
        result = Shoot(script, outputFolder, "3-start-menu.png", found.window) ? 0 : 1;
        e2e::SendWithin(found.window, WM_CLOSE, 0, 0, 5000);
    }
    if (WaitForSingleObject(info.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 0);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> args(argv, argv + argc);
    if (args.size() == 6 && args[1] == L"first-start") {
        return FirstStart(args[2], args[3], Utf8(args[4]), Utf8(args[5]));
    }
    if (args.size() == 3 && args[1] == L"second-start") {
        return SecondStart(args[2]);
    }
    if (args.size() == 5 && args[1] == L"show-folder") {
        return ShowFolder(args[2], Utf8(args[3]), Utf8(args[4]));
    }
    Say(L"usage: demo_driver first-start <launcher.exe> <its place's name> <screenshot script> <output folder>\n"
        L"       demo_driver second-start <launcher.exe>\n"
        L"       demo_driver show-folder <folder> <screenshot script> <output folder>");
    return 2;
}
