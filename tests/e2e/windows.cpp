#include "e2e/windows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

// This file is also built as the probe DLL that ReadFontInside loads into the
// launcher, so it uses nothing but Win32 and the C++ library.

namespace {

// The request and answer of ReadFontInside, in a section both processes map.
struct FontProbe {
    HWND control;
    DWORD status;
    LOGFONTW font;
};
enum : DWORD { ProbeNotRun = 0, ProbeDone = 1, ProbeForeignWindow = 2, ProbeNoFont = 3, ProbeNoObject = 4 };

std::wstring ProbeSectionName(DWORD processId)
{
    return L"Local\\PivraFontProbe-" + std::to_wstring(processId);
}

constexpr DWORD PollMs = 2;

struct Collect {
    DWORD processId;
    std::vector<e2e::TopWindow>* windows;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM parameter)
{
    auto* collect = reinterpret_cast<Collect*>(parameter);  // NOLINT(performance-no-int-to-ptr): EnumWindows' way
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == collect->processId) {
        collect->windows->push_back(
            {window, e2e::ClassNameOf(window), e2e::TextOf(window), IsWindowVisible(window) != FALSE});
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumChildWindows' way
    auto* children = reinterpret_cast<std::vector<HWND>*>(parameter);
    children->push_back(window);
    return TRUE;
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
           });
}

std::wstring Widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

bool FileThere(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A binary PPM ("P6") of exactly that size, as ImageMagick writes it.
bool ReadPpm(const std::wstring& path, int width, int height, std::vector<std::uint8_t>& rgb)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::string magic;
    int fileWidth = 0;
    int fileHeight = 0;
    int maximum = 0;
    in >> magic >> fileWidth >> fileHeight >> maximum;
    in.get();  // the one white-space character before the pixels
    if (!in || magic != "P6" || fileWidth != width || fileHeight != height || maximum != 255) {
        return false;
    }
    rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    return static_cast<std::size_t>(in.gcount()) == rgb.size();
}

std::wstring Win32Error(const wchar_t* what)
{
    return std::wstring(what) + L" failed, error " + std::to_wstring(GetLastError());
}

// Inside the launcher: the control's thread may be blocked, so its window
// procedure is called directly rather than sent a message.
void ReadOwnFont(FontProbe& probe)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(probe.control, &owner);
    if (owner != GetCurrentProcessId()) {
        probe.status = ProbeForeignWindow;
        return;
    }
    // NOLINTBEGIN(performance-no-int-to-ptr): window longs and results carry pointers and handles
    const auto procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(probe.control, GWLP_WNDPROC));
    const auto font = reinterpret_cast<HFONT>(CallWindowProcW(procedure, probe.control, WM_GETFONT, 0, 0));
    // NOLINTEND(performance-no-int-to-ptr)
    if (font == nullptr) {
        probe.status = ProbeNoFont;
    } else if (GetObjectW(font, sizeof(LOGFONTW), &probe.font) != static_cast<int>(sizeof(LOGFONTW))) {
        probe.status = ProbeNoObject;
    } else {
        probe.status = ProbeDone;
    }
}

// The part of ReadFontInside that needs the other process to answer: Wine
// serves these calls through the process's own threads and can leave them
// waiting for good, so they run here, on a thread the caller can give up on.
struct Injection {
    HANDLE process = nullptr;
    std::wstring dll;
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::wstring why;
    ~Injection()
    {
        CloseHandle(finished);
        if (process != nullptr) {
            CloseHandle(process);
        }
    }
};

void Inject(Injection& job)
{
    const std::size_t pathBytes = (job.dll.size() + 1) * sizeof(wchar_t);
    // Left in place, as the DLL is: the launcher ends soon after the test.
    void* remote = VirtualAllocEx(job.process, nullptr, pathBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T moved = 0;
    if (remote == nullptr) {
        job.why = Win32Error(L"VirtualAllocEx");
        return;
    }
    if (WriteProcessMemory(job.process, remote, job.dll.c_str(), pathBytes, &moved) == FALSE) {
        job.why = Win32Error(L"WriteProcessMemory");
        return;
    }
    // System DLLs sit at the same address in every process of the prefix.
    const FARPROC loadLibrary = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
    HANDLE thread = CreateRemoteThread(
        job.process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(loadLibrary)),
        remote, 0, nullptr);
    if (thread == nullptr) {
        job.why = Win32Error(L"CreateRemoteThread");
        return;
    }
    // Its exit code holds only half of the module's address: whether the DLL
    // loaded shows in the probe's status instead.
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
        job.why = L"LoadLibraryW in the launcher did not end within 10 s";
    }
    CloseHandle(thread);
}

}  // namespace

// Runs in the launcher when ReadFontInside loads this file there as a DLL:
// the request waits in a section named after the process. Under the loader
// lock, which reading one control's font does not mind.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    HANDLE section =
        OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, ProbeSectionName(GetCurrentProcessId()).c_str());
    if (section == nullptr) {
        return TRUE;
    }
    auto* probe =
        static_cast<FontProbe*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(FontProbe)));
    if (probe != nullptr) {
        ReadOwnFont(*probe);
        UnmapViewOfFile(probe);
    }
    CloseHandle(section);
    return TRUE;
}

namespace e2e {

std::vector<TopWindow> TopLevelWindows(DWORD processId)
{
    std::vector<TopWindow> windows;
    Collect collect{processId, &windows};
    EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&collect));
    return windows;
}

void WindowLog::Poll()
{
    for (const TopWindow& window : TopLevelWindows(processId_)) {
        const bool known = std::any_of(seen_.begin(), seen_.end(),
                                       [&](const TopWindow& seen) { return seen.handle == window.handle; });
        if (window.visible && !known) {
            seen_.push_back(window);
        }
    }
}

bool WindowLog::SawClass(const std::wstring& className) const
{
    return std::any_of(seen_.begin(), seen_.end(),
                       [&](const TopWindow& seen) { return SameText(seen.className, className); });
}

std::wstring WindowLog::Describe() const
{
    std::wstring text;
    for (const TopWindow& seen : seen_) {
        text += L"[" + seen.className + L" \"" + seen.title + L"\"] ";
    }
    return text.empty() ? L"(none)" : text;
}

HWND WaitForTopWindow(DWORD processId, const std::wstring& className, const std::wstring& title, DWORD timeoutMs,
                      WindowLog* log)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const TopWindow& window : TopLevelWindows(processId)) {
            if (window.visible && SameText(window.className, className) && window.title == title) {
                if (log != nullptr) {
                    log->Poll();  // the log must hold what was found
                }
                return window.handle;
            }
        }
        if (log != nullptr) {
            log->Poll();
        }
        if (GetTickCount64() > deadline) {
            return nullptr;
        }
        Sleep(PollMs);
    }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs, WindowLog* log)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(window) != FALSE) {
        if (log != nullptr) {
            log->Poll();
        }
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(PollMs);
    }
    return true;
}

bool StaysOpen(HWND window, DWORD forMs, WindowLog* log)
{
    const ULONGLONG end = GetTickCount64() + forMs;
    do {
        if (log != nullptr) {
            log->Poll();
        }
        if (IsWindow(window) == FALSE) {
            return false;
        }
        Sleep(PollMs);
    } while (GetTickCount64() < end);
    return IsWindow(window) != FALSE;
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, WindowLog* log)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (log != nullptr) {
            log->Poll();
        }
        if (WaitForSingleObject(process, PollMs) == WAIT_OBJECT_0) {
            return true;
        }
        if (GetTickCount64() > deadline) {
            return false;
        }
    }
}

std::wstring ClassNameOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window)
{
    // For another process's window GetWindowTextW reads the stored text
    // instead of sending WM_GETTEXT; grow until the text fits with room left.
    for (int capacity = 1024; capacity <= 65536; capacity *= 4) {
        std::wstring text(static_cast<std::size_t>(capacity), L'\0');
        const int length = GetWindowTextW(window, text.data(), capacity);
        if (length < capacity - 1) {
            text.resize(static_cast<std::size_t>(std::max(length, 0)));
            return text;
        }
    }
    return L"(text longer than 64K)";
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> all;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> direct;
    std::copy_if(all.begin(), all.end(), std::back_inserter(direct),
                 [&](HWND child) { return GetParent(child) == parent; });
    return direct;
}

RECT RectInParent(HWND child)
{
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) == FALSE) {
        return nullptr;
    }
    return info.hwndFocus;
}

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result)
{
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &answer);
    if (result != nullptr) {
        *result = static_cast<LRESULT>(answer);
    }
    return sent != 0;
}

bool Press(HWND button, DWORD timeoutMs)
{
    return button != nullptr && SendWithin(button, BM_CLICK, 0, 0, timeoutMs);
}

bool ReadMessageBox(HWND box, MessageBoxView& view, std::wstring& why)
{
    view = MessageBoxView{};
    if (IsWindow(box) == FALSE) {
        why = L"no box";
        return false;
    }
    view.caption = TextOf(box);
    view.style = GetWindowLongW(box, GWL_STYLE);
    view.exStyle = GetWindowLongW(box, GWL_EXSTYLE);
    view.owner = GetWindow(box, GW_OWNER);
    const HWND text = GetDlgItem(box, 0xFFFF);
    if (text == nullptr) {
        why = L"the box has no text control (id 0xFFFF)";
        return false;
    }
    view.text = TextOf(text);
    for (HWND child : ChildrenOf(box)) {
        if (IsWindowVisible(child) == FALSE) {
            continue;
        }
        const std::wstring className = ClassNameOf(child);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (SameText(className, L"Button")) {
            view.buttons.push_back({GetDlgCtrlID(child), TextOf(child), style});
        } else if (SameText(className, L"Static") && (style & SS_TYPEMASK) == SS_ICON) {
            view.icon = child;
        }
    }
    if (view.icon != nullptr) {
        LRESULT icon = 0;
        if (!SendWithin(view.icon, STM_GETICON, 0, 0, 5000, &icon)) {
            why = L"STM_GETICON got no answer";
            return false;
        }
        view.iconSet = icon != 0;
    }
    return true;
}

const wchar_t* StockIconName(StockIcon icon)
{
    switch (icon) {
        case StockIcon::Information:
            return L"information";
        case StockIcon::Error:
            return L"error";
        case StockIcon::Warning:
            return L"warning";
        case StockIcon::Question:
            return L"question";
        case StockIcon::None:
            break;
    }
    return L"none";
}

StockIcon IdentifyIcon(HWND iconControl, const std::string& script, const std::string& scratchPpm, double* distance)
{
    if (distance != nullptr) {
        *distance = -1;
    }
    RECT rect = {};
    if (GetWindowRect(iconControl, &rect) == FALSE || rect.left < 1) {
        return StockIcon::None;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) {
        return StockIcon::None;
    }
    // One column more on the left: the box's own background under the icon.
    const std::string crop = std::to_string(width + 1) + "x" + std::to_string(height) + "+" +
                             std::to_string(rect.left - 1) + "+" + std::to_string(rect.top);
    std::wstring why;
    std::vector<std::uint8_t> shown;  // RGB, (width + 1) x height
    if (!SaveScreenshot(script, scratchPpm, 20000, why, crop) ||
        !ReadPpm(WinePathOf(scratchPpm), width + 1, height, shown)) {
        return StockIcon::None;
    }
    DeleteFileW(WinePathOf(scratchPpm).c_str());
    const auto shownAt = [&](int x, int y, int channel) {
        return static_cast<int>(
            shown[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width + 1) + static_cast<std::size_t>(x)) *
                      3 +
                  static_cast<std::size_t>(channel)]);
    };
    const COLORREF background = RGB(shownAt(0, 0, 0), shownAt(0, 0, 1), shownAt(0, 0, 2));

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const auto* pixels = static_cast<const std::uint8_t*>(bits);  // BGRA

    struct Candidate {
        StockIcon icon;
        const wchar_t* resource;
    };
    const Candidate candidates[] = {
        {StockIcon::Information, IDI_INFORMATION},
        {StockIcon::Error, IDI_ERROR},
        {StockIcon::Warning, IDI_WARNING},
        {StockIcon::Question, IDI_QUESTION},
    };
    StockIcon best = StockIcon::None;
    double bestDistance = 1e9;
    HBRUSH brush = CreateSolidBrush(background);
    const RECT whole = {0, 0, width, height};
    for (const Candidate& candidate : candidates) {
        // As the icon control paints: its background, then the icon at its size.
        FillRect(memory, &whole, brush);
        DrawIconEx(memory, 0, 0, LoadIconW(nullptr, candidate.resource), width, height, 0, nullptr, DI_NORMAL);
        GdiFlush();
        double total = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t at =
                    (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
                for (int channel = 0; channel < 3; ++channel) {
                    // DIB pixels are blue, green, red; the PPM's red, green, blue.
                    total += std::abs(shownAt(x + 1, y, channel) -
                                      static_cast<int>(pixels[at + 2 - static_cast<std::size_t>(channel)]));
                }
            }
        }
        const double mean = total / (static_cast<double>(width) * height * 3.0);
        if (mean < bestDistance) {
            bestDistance = mean;
            best = candidate.icon;
        }
    }
    DeleteObject(brush);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (distance != nullptr) {
        *distance = bestDistance;
    }
    // Far from every drawing: the screen shows something else there.
    return bestDistance <= 12.0 ? best : StockIcon::None;
}

void ClickAt(POINT screenPoint)
{
    // Absolute positions on every event: Wine takes a button event without
    // one at the X pointer, which SetCursorPos does not always move.
    const LONG width = GetSystemMetrics(SM_CXSCREEN);
    const LONG height = GetSystemMetrics(SM_CYSCREEN);
    const auto normalise = [](LONG value, LONG size) { return (value * 65536 + size - 1) / size; };
    INPUT inputs[3] = {};
    const DWORD flags[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        inputs[i].type = INPUT_MOUSE;
        inputs[i].mi.dx = normalise(screenPoint.x, width);
        inputs[i].mi.dy = normalise(screenPoint.y, height);
        inputs[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(3, inputs, sizeof(INPUT));
}

POINT CloseButtonCentre(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    const int frameX = GetSystemMetrics(SM_CXFIXEDFRAME);
    const int frameY = GetSystemMetrics(SM_CYFIXEDFRAME);
    return POINT{rect.right - frameX - GetSystemMetrics(SM_CXSIZE) / 2,
                 rect.top + frameY + GetSystemMetrics(SM_CYCAPTION) / 2};
}

bool ReadFontInside(HANDLE process, HWND control, const std::wstring& probeDll, LOGFONTW& font, std::wstring& why)
{
    const DWORD processId = GetProcessId(process);
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(FontProbe),
                                        ProbeSectionName(processId).c_str());
    if (section == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        why = section == nullptr ? Win32Error(L"CreateFileMappingW") : L"the launcher was probed once already";
        if (section != nullptr) {
            CloseHandle(section);
        }
        return false;
    }
    auto* probe =
        static_cast<FontProbe*>(MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(FontProbe)));
    if (probe == nullptr) {
        why = Win32Error(L"MapViewOfFile");
        CloseHandle(section);
        return false;
    }
    probe->control = control;
    probe->status = ProbeNotRun;

    auto job = std::make_shared<Injection>();
    job->dll = probeDll;
    DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &job->process, 0, FALSE, DUPLICATE_SAME_ACCESS);
    std::thread([job] {
        Inject(*job);
        SetEvent(job->finished);
    }).detach();
    bool done = false;
    if (WaitForSingleObject(job->finished, 15000) != WAIT_OBJECT_0) {
        why = L"Wine never ran the probe's thread in the launcher (15 s)";
    } else if (!job->why.empty()) {
        why = job->why;
    } else if (probe->status != ProbeDone) {
        why = L"the probe found " + std::wstring(probe->status == ProbeForeignWindow ? L"the control in another process"
                                                 : probe->status == ProbeNoFont ? L"no font set (WM_GETFONT gave null)"
                                                 : probe->status == ProbeNoObject
                                                     ? L"a font GetObjectW can't read"
                                                     : L"nothing: it did not run (was the DLL loaded?)");
    } else {
        font = probe->font;
        done = true;
    }
    UnmapViewOfFile(probe);
    CloseHandle(section);
    return done;
}

bool SaveScreenshot(const std::string& script, const std::string& path, DWORD timeoutMs, std::wstring& why,
                    const std::string& crop)
{
    const std::wstring png = WinePathOf(path);
    DeleteFileW(png.c_str());
    // Wine runs a Unix program but gives no handle to it: wait for its file.
    std::wstring commandLine = L"/bin/sh \"" + Widen(script) + L"\" \"" + Widen(path) + L"\"";
    if (!crop.empty()) {
        commandLine += L" " + Widen(crop);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) ==
        FALSE) {
        why = Win32Error(L"CreateProcessW of the screenshot script");
        return false;
    }
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!FileThere(png)) {
        if (GetTickCount64() > deadline) {
            why = L"no screenshot at " + png + L" after " + std::to_wstring(timeoutMs) + L" ms";
            return false;
        }
        Sleep(20);
    }
    return true;
}

std::wstring WinePathOf(const std::string& unixPath)
{
    return L"Z:" + Widen(unixPath);
}

}  // namespace e2e
