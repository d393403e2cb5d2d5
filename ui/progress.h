// The always-on-top progress window with its one status line, and the
// message pump that keeps it alive while the one thread works.
#pragma once

#include <windows.h>

extern HWND MainWindow;   // null whenever there is no progress window
extern HWND StatusLabel;  // null whenever there is no status line

inline constexpr const wchar_t* ProgressClassName = L"PivraSuiteLauncher";
inline constexpr int ProgressWidth = 460;
inline constexpr int ProgressHeight = 140;

// Top-left corner that centres the window on a screen of the given size;
// the halves truncate toward zero, so a narrow screen gives a negative x.
POINT CentredOrigin(int screenWidth, int screenHeight);

// Registers the class, shows the window with an empty status line and pumps
// once. A failed creation leaves the handles null; the launcher goes on.
void CreateProgressWindow(HINSTANCE instance);
// Replaces the status text when there is a status line, then pumps.
void SetStatus(const wchar_t* text);
// Dispatches every pending message of the thread; never waits.
void PumpMessages();
// Waits about that long, dispatching the thread's messages as they come.
void WaitPumping(DWORD milliseconds);
// Destroys the window if there is one; both handles are null afterwards.
void CloseProgressWindow();
// Swallows WM_CLOSE, so the install cannot be cut off half-way.
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
