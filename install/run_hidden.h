// Runs a child process without a window and waits for it, pumping messages.
#pragma once

#include <string>

inline constexpr unsigned long ChildWaitSlice = 100;  // milliseconds

// Starts program, a full path, with commandLine (whose first token names it
// again, as the tools expect) in the folder currentFolder. True exactly when
// the child was created, has ended and its exit code is 0. While it runs,
// the thread's messages are dispatched every 100 ms.
bool RunHidden(const std::wstring& program, const std::wstring& commandLine, const std::wstring& currentFolder,
               bool hidden);
