// Stand-in for the system's tar.exe or powershell.exe (PIVRA_STANDIN_TOOL
// says which) in the test prefix: records its command line and current
// folder, obeys the PIVRA_STANDIN_<TOOL>_{DELAY_MS,EXTRACT,EXIT} controls
// and PAUSE_AFTER (pause after that many entries, for PAUSE_MS or until it
// is killed), and really extracts the zip with minizip.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_parse.h"
#include "unzip.h"
// After unzip.h, which brings the zlib macros it needs.
#include "iowin32.h"

namespace {

constexpr const wchar_t* ToolName = PIVRA_STANDIN_TOOL;  // L"tar" or L"powershell"

std::wstring Environment(const std::wstring& name)
{
    wchar_t value[32768] = {};
    const DWORD length = GetEnvironmentVariableW(name.c_str(), value, 32768);
    return length == 0 || length >= 32768 ? std::wstring() : std::wstring(value, length);
}

std::wstring Control(const wchar_t* what)
{
    std::wstring tool = ToolName;
    for (wchar_t& c : tool) {
        c = static_cast<wchar_t>(towupper(c));
    }
    return Environment(L"PIVRA_STANDIN_" + tool + L"_" + what);
}

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// Appends "<tool>\t<what>" to the log.
void Record(const std::wstring& what)
{
    const std::wstring log = Environment(L"PIVRA_STANDIN_LOG");
    if (log.empty()) {
        return;
    }
    const std::string line = Utf8(ToolName) + "\t" + Utf8(what) + "\n";
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
}

std::wstring EntryName(const char* name, bool utf8)
{
    const UINT codePage = utf8 ? CP_UTF8 : 437;
    const int size = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size - 1 : 0), L'\0');
    MultiByteToWideChar(codePage, 0, name, -1, result.data(), size);
    for (wchar_t& c : result) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return result;
}

// Refuses names that would land outside the destination. tar, as bsdtar
// does, first strips the root of an absolute name.
bool SafeName(std::wstring& name)
{
    if (std::wstring(ToolName) == L"tar") {
        name.erase(0, name.find_first_not_of(L'\\'));
    }
    if (name.empty() || name[0] == L'\\' || name.find(L':') != std::wstring::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find(L'\\', start), name.size());
        if (name.compare(start, end - start, L"..") == 0 && end - start == 2) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool WriteEntry(unzFile zip, const std::wstring& path)
{
    const std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
    SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    std::vector<char> buffer(1 << 16);
    for (int read = 0;
         ok && (read = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) != 0;) {
        DWORD written = 0;
        ok = read > 0 && WriteFile(file, buffer.data(), static_cast<DWORD>(read), &written, nullptr) != FALSE &&
             written == static_cast<DWORD>(read);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    // unzCloseCurrentFile checks the entry's CRC.
    return unzCloseCurrentFile(zip) == UNZ_OK && ok;
}

bool Extract(const UnpackRequest& request)
{
    zlib_filefunc64_def files;
    fill_win32_filefunc64W(&files);
    unzFile zip = unzOpen2_64(request.archive.c_str(), &files);
    if (zip == nullptr) {
        std::fwprintf(stderr, L"%ls: cannot open %ls\n", ToolName, request.archive.c_str());
        return false;
    }
    SHCreateDirectoryExW(nullptr, request.destination.c_str(), nullptr);
    bool ok = true;
    const std::wstring pauseAfter = Control(L"PAUSE_AFTER");
    unsigned long entries = 0;
    for (int status = unzGoToFirstFile(zip); ok && status == UNZ_OK; status = unzGoToNextFile(zip)) {
        if (!pauseAfter.empty() && entries++ == std::wcstoul(pauseAfter.c_str(), nullptr, 10)) {
            Record(L"paused");
            const std::wstring pause = Control(L"PAUSE_MS");
            Sleep(pause.empty() ? INFINITE : static_cast<DWORD>(std::wcstoul(pause.c_str(), nullptr, 10)));
        }
        unz_file_info64 info = {};
        char name[4096] = {};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
            ok = false;
            break;
        }
        std::wstring entry = EntryName(name, (info.flag & 0x800U) != 0);
        if (!SafeName(entry)) {
            std::fwprintf(stderr, L"%ls: refusing entry %ls\n", ToolName, entry.c_str());
            ok = false;
            break;
        }
        const std::wstring path = request.destination + L"\\" + entry;
        if (entry.back() == L'\\') {
            SHCreateDirectoryExW(nullptr, path.substr(0, path.size() - 1).c_str(), nullptr);
        } else {
            ok = WriteEntry(zip, path);
        }
    }
    unzClose(zip);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    Record(std::wstring(GetCommandLineW()) + L"\t" + folder);
    const std::wstring delay = Control(L"DELAY_MS");
    if (!delay.empty()) {
        Sleep(static_cast<DWORD>(std::wcstoul(delay.c_str(), nullptr, 10)));
    }
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const UnpackRequest request =
        std::wstring(ToolName) == L"tar" ? ParseTarArguments(arguments) : ParsePowerShellArguments(arguments);
    if (!request.valid) {
        std::fwprintf(stderr, L"%ls: cannot make sense of this command line\n", ToolName);
        return 64;
    }
    if (Control(L"EXTRACT") != L"0" && !Extract(request)) {
        return 1;
    }
    const std::wstring exitCode = Control(L"EXIT");
    return exitCode.empty() ? 0 : static_cast<int>(std::wcstol(exitCode.c_str(), nullptr, 10));
}
