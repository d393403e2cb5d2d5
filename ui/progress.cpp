#include "ui/progress.h"

#include "launcher/layout.h"

HWND MainWindow = nullptr;
HWND StatusLabel = nullptr;

namespace {

constexpr DWORD ProgressStyle = WS_CAPTION | WS_SYSMENU;  // no sizing, no min/max
constexpr int StatusX = 20;
constexpr int StatusY = 24;
constexpr int StatusWidth = 410;
constexpr int StatusHeight = 60;

}  // namespace

POINT CentredOrigin(int screenWidth, int screenHeight)
{
    // Integer division in C++ truncates toward zero, as the layout wants.
    return POINT{(screenWidth - ProgressWidth) / 2, (screenHeight - ProgressHeight) / 2};
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CreateProgressWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // A system colour index + 1 is how a class names a stock background brush.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(  // NOLINT(performance-no-int-to-ptr)
        static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = ProgressClassName;
    RegisterClassW(&windowClass);

    const POINT origin = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    MainWindow = CreateWindowExW(WS_EX_TOPMOST, ProgressClassName, OwnPlace.displayName, ProgressStyle, origin.x,
                                 origin.y, ProgressWidth, ProgressHeight, nullptr, nullptr, instance, nullptr);
    StatusLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, StatusX, StatusY, StatusWidth,
                                  StatusHeight, MainWindow, nullptr, instance, nullptr);
    // The font lives until the process ends, like the class.
    const HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
    SendMessageW(StatusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ShowWindow(MainWindow, SW_SHOW);
    PumpMessages();
}

void SetStatus(const wchar_t* text)
{
    if (StatusLabel != nullptr) {
        SetWindowTextW(StatusLabel, text);
    }
    PumpMessages();
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void WaitPumping(DWORD milliseconds)
{
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        PumpMessages();
    }
}

void CloseProgressWindow()
{
    if (MainWindow != nullptr) {
        DestroyWindow(MainWindow);
    }
    MainWindow = nullptr;
    StatusLabel = nullptr;
}
