// Finding, reading and working the windows of another process, for the
// end-to-end tests. Reading never waits for the other process to pump its
// messages, except in the calls that take a timeout for it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// A top-level window as it was at one moment.
struct TopWindow {
    HWND handle = nullptr;
    std::wstring className;
    std::wstring title;
    bool visible = false;
};

// The top-level windows of a process on this thread's desktop. (Windows of
// another desktop read as hidden: attach the thread there to watch them.)
std::vector<TopWindow> TopLevelWindows(DWORD processId);

// Every visible top-level window a process showed while it was watched,
// once per handle, in the order first seen.
class WindowLog {
public:
    explicit WindowLog(DWORD processId = 0) : processId_(processId) {}
    void Poll();
    [[nodiscard]] const std::vector<TopWindow>& Seen() const { return seen_; }
    [[nodiscard]] bool SawClass(const std::wstring& className) const;
    [[nodiscard]] std::wstring Describe() const;  // for failure messages

private:
    DWORD processId_;
    std::vector<TopWindow> seen_;
};

// Polls for a visible top-level window of the process with that class and
// title; null when none appeared in time. Every poll also feeds log.
HWND WaitForTopWindow(DWORD processId, const std::wstring& className, const std::wstring& title, DWORD timeoutMs,
                      WindowLog* log = nullptr);
// True once the window no longer exists; false if it is still there in the end.
bool WaitForWindowGone(HWND window, DWORD timeoutMs, WindowLog* log = nullptr);
// True when the window existed through the whole time.
bool StaysOpen(HWND window, DWORD forMs, WindowLog* log = nullptr);
// Polls until the process has ended; false at the timeout.
bool WaitForExit(HANDLE process, DWORD timeoutMs, WindowLog* log = nullptr);

std::wstring ClassNameOf(HWND window);
// The text the system keeps for the window. No WM_GETTEXT is sent, so this
// works while the owning thread is busy; empty for no window.
std::wstring TextOf(HWND window);
// Direct children, in Z order.
std::vector<HWND> ChildrenOf(HWND parent);
// The child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);
// The keyboard focus of the thread that owns the window; null for none.
HWND FocusOf(HWND window);

// SendMessageTimeoutW; false when the owner did not answer in time.
bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result = nullptr);
// A click on a button as the button itself takes it (BM_CLICK); false when
// the box's thread did not handle it in time.
bool Press(HWND button, DWORD timeoutMs = 5000);

// A message box as shown.
struct BoxButton {
    int id = 0;
    std::wstring text;
    LONG style = 0;
};
struct MessageBoxView {
    std::wstring caption;
    std::wstring text;               // the text control, id 0xFFFF
    std::vector<BoxButton> buttons;  // visible buttons, in Z order
    HWND icon = nullptr;             // the visible SS_ICON control, if any
    bool iconSet = false;            // STM_GETICON gave an icon
    LONG style = 0;
    LONG exStyle = 0;
    HWND owner = nullptr;
};
// False, with the reason, when a part could not be read.
bool ReadMessageBox(HWND box, MessageBoxView& view, std::wstring& why);

// The stock icons message boxes show.
enum class StockIcon { None, Information, Error, Warning, Question };
const wchar_t* StockIconName(StockIcon icon);
// Matches the icon control's pixels on the X screen (cut out by the
// screenshot script into scratchPpm) against the stock icons drawn here the
// same way; None when nothing is close. Wine's screen DC does not show other
// windows, hence the detour. distance gets the best mean channel difference.
StockIcon IdentifyIcon(HWND iconControl, const std::string& script, const std::string& scratchPpm,
                       double* distance = nullptr);

// A left click at a point of the screen, as hardware input.
void ClickAt(POINT screenPoint);
// The centre of the caption's close button of a window with WS_CAPTION and
// no sizing border, from the system's metrics.
POINT CloseButtonCentre(HWND window);

// Loads probeDll (windows.cpp built as a DLL) into the other process, where
// it reads the font the control reports to WM_GETFONT by calling the
// control's window procedure itself: works while the control's thread is
// blocked. Once per process: the DLL stays loaded. False, with the reason,
// on any failure, at the latest after 15 s.
bool ReadFontInside(HANDLE process, HWND control, const std::wstring& probeDll, LOGFONTW& font, std::wstring& why);

// Runs the screenshot script (a Unix program) for the X screen, or the crop
// ("WxH+X+Y") of it, and waits for the image; path is a Unix path whose
// extension names the format. False, with why, at the timeout.
bool SaveScreenshot(const std::string& script, const std::string& path, DWORD timeoutMs, std::wstring& why,
                    const std::string& crop = "");

// "Z:" + a Unix path: how Wine shows it to Windows programs.
std::wstring WinePathOf(const std::string& unixPath);

}  // namespace e2e
