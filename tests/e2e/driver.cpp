#include "e2e/driver.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "e2e/launchers.h"
#include "e2e/windows.h"
#include "launcher/layout.h"

namespace e2e {

namespace {

std::wstring FromUtf8(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
}

}  // namespace

std::wstring LauncherPath()
{
    return PIVRA_LAUNCHER_PATH;
}

std::vector<PlaceLauncher> PlaceLaunchers()
{
    struct Built {
        const wchar_t* key;
        const wchar_t* path;
    };
    struct Expected {
        const wchar_t* key;
        const wchar_t* title;
        const wchar_t* arguments;
    };
    const Built built[] = {PIVRA_E2E_LAUNCHERS};
    const Expected expected[] = {
        {L"messages", L"Pivra Suite Messaging", L"--place messages"},
        {L"suite", L"Pivra Suite All In One", L""},
        {L"them", L"Pivra Suite Friends In Common", L"--place them"},
    };
    std::vector<PlaceLauncher> launchers;
    for (const Built& file : built) {
        PlaceLauncher launcher{file.key, file.path, L"", L""};
        for (const Expected& row : expected) {
            if (launcher.key == row.key) {
                launcher.title = row.title;
                launcher.arguments = row.arguments;
            }
        }
        launchers.push_back(launcher);
    }
    return launchers;
}

std::wstring AfterProgram(const std::wstring& commandLine)
{
    // A quoted program ends at the next quote, any other at the first blank.
    if (commandLine.rfind(L'"', 0) == 0) {
        const std::size_t close = commandLine.find(L'"', 1);
        return close == std::wstring::npos ? L"" : commandLine.substr(close + 1);
    }
    const std::size_t blank = commandLine.find(L' ');
    return blank == std::wstring::npos ? L"" : commandLine.substr(blank);
}

std::wstring FixtureSuitePath()
{
    return PIVRA_FIXTURE_SUITE_PATH;
}

std::wstring SuiteZipPath()
{
    return PIVRA_SUITE_ZIP_PATH;
}

std::wstring StraySuiteZipPath()
{
    return PIVRA_STRAY_SUITE_ZIP_PATH;
}

std::wstring RecordPath()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"pivra-suite-received.txt";
}

void ClearRecord()
{
    DeleteFileW(RecordPath().c_str());
    SetEnvironmentVariableW(L"PIVRA_FIXTURE_RECORD", RecordPath().c_str());
}

bool WaitForRecord(SuiteRecord& record, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // Read again while it comes out empty: Wine's rename that puts it in
    // place holds it for a moment, and a read then fails.
    std::wstring text;
    while (!FileExists(RecordPath()) || (text = ReadUtf8File(RecordPath())).empty()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(20);
    }
    std::wistringstream lines(text);
    std::wstring line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find(L'=');
        const std::wstring key = line.substr(0, equals);
        const std::wstring value = equals == std::wstring::npos ? L"" : line.substr(equals + 1);
        if (key == L"commandline") {
            record.commandLine = value;
        } else if (key == L"arguments") {
            record.arguments = value;
        } else if (key == L"cwd") {
            record.workingFolder = value;
        } else if (key == L"show") {
            record.showCommand = std::stoi(value);
        } else if (key == L"icons") {
            record.icons = std::stoi(value);
        }
    }
    return true;
}

bool InstallFixtureSuite()
{
    const std::wstring dir = InstallDir();
    if (dir.empty() || SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr) != ERROR_SUCCESS) {
        if (!std::filesystem::is_directory(dir)) {
            return false;
        }
    }
    return CopyFileW(FixtureSuitePath().c_str(), SuiteExePath().c_str(), FALSE) != FALSE;
}

void RemoveSuite()
{
    std::error_code ignored;
    std::filesystem::remove_all(InstallDir(), ignored);
    for (const auto& entry : std::filesystem::directory_iterator(UserProgramsFolder(), ignored)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name.rfind(L"~Pivra", 0) == 0 || name.rfind(L"Pivra Suite All In One.installing", 0) == 0) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    std::filesystem::remove_all(KnownFolderPath(FOLDERID_Programs) + StartMenuFolderName, ignored);
    DeleteFileW(TempArchivePath().c_str());
}

void KillProcessesNamed(const wchar_t* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more != FALSE; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) != 0) {
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process != nullptr) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

LauncherRun StartLauncher()
{
    return StartLauncherAt(LauncherPath());
}

LauncherRun StartScanner(const std::wstring& folder, DWORD holdMs)
{
    return StartLauncherAt(PIVRA_BENCHCTL_PATH, L" hold \"" + folder + L"\" " + std::to_wstring(holdMs));
}

LauncherRun StartLauncherAt(const std::wstring& path, const std::wstring& arguments)
{
    LauncherRun run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // Wine now and then fails a CreateProcessW at once with an internal error
    // (1359); such a start is taken once more, and said so.
    for (int attempt = 0; attempt < 2 && !run.started; ++attempt) {
        std::wstring commandLine = L"\"" + path + L"\"";
        commandLine += arguments;
        run.started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &run.info) != FALSE;
        if (!run.started) {
            (void)std::fprintf(stderr, "starting %ls failed with error %lu\n", path.c_str(), GetLastError());
            Sleep(200);
        }
    }
    return run;
}

std::wstring SystemTarPath()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\tar.exe";
}

StandinTar::StandinTar()
{
    if (CopyFileW(PIVRA_STANDIN_TAR_PATH, SystemTarPath().c_str(), FALSE) == FALSE) {
        ADD_FAILURE() << "could not put the stand-in tar in place: " << GetLastError();
    }
}

StandinTar::~StandinTar()
{
    // A test that moved the stand-in aside must not put it back later.
    DeleteFileW((SystemTarPath() + L".away").c_str());
    if (CopyFileW(PIVRA_REAL_TAR_PATH, SystemTarPath().c_str(), FALSE) == FALSE) {
        ADD_FAILURE() << "could not put the real tar back: " << GetLastError();
    }
}

std::wstring StandinLog()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"pivra-standins.log";
}

std::vector<std::wstring> StandinRuns()
{
    std::wistringstream lines(ReadUtf8File(StandinLog()));
    std::vector<std::wstring> runs;
    std::wstring line;
    while (std::getline(lines, line)) {
        runs.push_back(line);
    }
    return runs;
}

std::vector<std::wstring> ShortcutNames()
{
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::directory_iterator(KnownFolderPath(FOLDERID_Programs) + StartMenuFolderName, ignored)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> PlaceShortcutNames()
{
    std::vector<std::wstring> names;
    names.reserve(PlaceTable.size());
    for (const PlaceEntry& entry : PlaceTable) {
        names.push_back(std::wstring(entry.displayName) + L".lnk");
    }
    std::sort(names.begin(), names.end());
    return names;
}

int FinishLauncher(LauncherRun& run, DWORD timeoutMs)
{
    if (!run.started) {
        return -2;
    }
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    int result = -1;
    for (;;) {
        for (const TopWindow& window : TopLevelWindows(run.info.dwProcessId)) {
            if (window.visible) {
                run.windowTitles.push_back(window.title);
            }
        }
        if (WaitForSingleObject(run.info.hProcess, 10) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(run.info.hProcess, &code);
            result = static_cast<int>(code);
            break;
        }
        if (GetTickCount64() > deadline) {
            TerminateProcess(run.info.hProcess, 99);
            WaitForSingleObject(run.info.hProcess, 5000);
            break;
        }
    }
    CloseHandle(run.info.hThread);
    CloseHandle(run.info.hProcess);
    run.started = false;
    return result;
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        HWND window = FindWindowW(className, title);
        if (window != nullptr && IsWindowVisible(window) != FALSE) {
            return window;
        }
        if (GetTickCount64() > deadline) {
            return nullptr;
        }
        Sleep(20);
    }
}

std::wstring BoxText(HWND box)
{
    wchar_t text[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    return text;
}

void AnswerBox(HWND box, int buttonId)
{
    HWND button = GetDlgItem(box, buttonId);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

std::wstring ServerDir()
{
    wchar_t unixPath[4096] = {};
    if (GetEnvironmentVariableW(L"PIVRA_SERVER_DIR", unixPath, 4096) == 0) {
        return {};
    }
    return std::wstring(L"Z:") + unixPath;
}

void SetServerMode(const std::string& mode)
{
    WriteBytes(ServerDir() + L"/mode", mode + "\n");
}

std::vector<std::string> ServerRequests()
{
    std::istringstream lines(ReadBytes(ServerDir() + L"/requests.log"));
    std::vector<std::string> requests;
    std::string line;
    while (std::getline(lines, line)) {
        requests.push_back(line);
    }
    return requests;
}

void ClearServerLog()
{
    DeleteFileW((ServerDir() + L"/requests.log").c_str());
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring ReadUtf8File(const std::wstring& path)
{
    return FromUtf8(ReadBytes(path));
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace e2e
