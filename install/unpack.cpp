#include "install/unpack.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "install/run_hidden.h"
#include "launcher/handle.h"
#include "launcher/layout.h"

namespace {

constexpr const wchar_t* TarInSystemFolder = L"\\tar.exe";
constexpr const wchar_t* PowerShellInSystemFolder = L"\\WindowsPowerShell\\v1.0\\powershell.exe";
// The command line still names the program without a folder, as PowerShell
// has always been given it; the program itself comes by its full path.
constexpr const wchar_t* PowerShellPrefix =
    L"powershell.exe -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force -LiteralPath '";

bool IsSingleQuote(wchar_t c)
{
    // PowerShell takes the typographic single quotes as apostrophes too.
    return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

// Inside the staging folder: what the tools unpack, and where an earlier
// install waits while the new one takes its place.
constexpr const wchar_t* UnpackedInStaging = L"\\unpacked";
constexpr const wchar_t* PreviousInStaging = L"\\previous";

// The system folder, or empty when it can't be read whole.
std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return {folder, length};
}

}  // namespace

std::wstring EscapeForSingleQuotes(const std::wstring& text)
{
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        escaped += c;
        if (IsSingleQuote(c)) {
            escaped += c;
        }
    }
    return escaped;
}

std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& archive, const std::wstring& destination)
{
    return L"\"" + tarPath + L"\" -xf \"" + archive + L"\" -C \"" + destination + L"\"";
}

std::wstring PowerShellCommandLine(const std::wstring& archive, const std::wstring& destination)
{
    return PowerShellPrefix + EscapeForSingleQuotes(archive) + L"' -DestinationPath '" +
           EscapeForSingleQuotes(destination) + L"'\"";
}

std::wstring StagingFolderIn(const std::wstring& programsFolder)
{
    if (programsFolder.empty()) {
        return {};
    }
    return programsFolder + L"\\" + InstallFolderName + StagingSuffix;
}

bool RemoveFolder(const std::wstring& folder)
{
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    // An empty folder goes at once; the shell's delete takes milliseconds.
    if (RemoveDirectoryW(folder.c_str()) != FALSE) {
        return true;
    }
    // The shell's own recursive delete; its list of paths ends in two nulls.
    std::vector<wchar_t> from(folder.c_str(), folder.c_str() + folder.size() + 1);
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

// Runs tar, then PowerShell when tar is absent or fails; true when one of
// them ended with exit code 0.
bool ExtractWithSystemTools(const std::wstring& systemFolder, const std::wstring& archive,
                            const std::wstring& destination)
{
    const std::wstring tarPath = systemFolder + TarInSystemFolder;
    if (PathFileExistsW(tarPath.c_str()) != FALSE &&
        RunHidden(tarPath, TarCommandLine(tarPath, archive, destination), systemFolder, true)) {
        return true;
    }
    return RunHidden(systemFolder + PowerShellInSystemFolder, PowerShellCommandLine(archive, destination), systemFolder,
                     true);
}

// True when a process holds the file open and lets nobody delete it, as a
// running program is held.
bool InUse(const std::wstring& path)
{
    const HANDLE opened = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    const FileHandle file(opened);
    return !file.Valid() && error == ERROR_SHARING_VIOLATION;
}

// Puts the unpacked suite at installDir with one rename, an earlier install
// first set aside (and put back when the new one cannot follow).
bool MoveIntoPlace(const std::wstring& unpackedSuite, const std::wstring& installDir, const std::wstring& aside)
{
    const bool hadInstall = GetFileAttributesW(installDir.c_str()) != INVALID_FILE_ATTRIBUTES;
    // A running suite holds its folder, and then the old install stays whole.
    // Windows refuses to move a folder with open files; not every file
    // system does, so the program is asked first.
    if (hadInstall &&
        (InUse(SuiteExePathIn(installDir)) || MoveFileExW(installDir.c_str(), aside.c_str(), 0) == FALSE)) {
        return false;
    }
    if (MoveFileExW(unpackedSuite.c_str(), installDir.c_str(), 0) != FALSE) {
        return true;
    }
    if (hadInstall) {
        MoveFileExW(aside.c_str(), installDir.c_str(), 0);
    }
    return false;
}

}  // namespace

bool UnpackArchive(const std::wstring& archive)
{
    const std::wstring programs = UserProgramsFolder();
    if (programs.empty()) {
        return false;
    }
    // Without the system folder no tool can be named by its full path, and
    // one found by a search might be a planted copy.
    const std::wstring system = SystemFolder();
    if (system.empty()) {
        return false;
    }
    // A staging folder left by a start that was cut off is never reused.
    const std::wstring staging = StagingFolderIn(programs);
    if (!RemoveFolder(staging)) {
        return false;
    }
    CreateDirectoryW(programs.c_str(), nullptr);
    CreateDirectoryW(staging.c_str(), nullptr);
    const std::wstring unpacked = staging + UnpackedInStaging;
    CreateDirectoryW(unpacked.c_str(), nullptr);
    // Only the suite's own folder leaves the staging folder, and only whole:
    // anything else the archive holds goes with the staging folder.
    const std::wstring unpackedSuite = InstallDirIn(unpacked);
    const bool installed = ExtractWithSystemTools(system, archive, unpacked) &&
                           PathFileExistsW(SuiteExePathIn(unpackedSuite).c_str()) != FALSE &&
                           MoveIntoPlace(unpackedSuite, InstallDirIn(programs), staging + PreviousInStaging);
    // Empty after a first install, so both go without the shell's delete.
    RemoveFolder(unpacked);
    RemoveFolder(staging);
    return installed && PathFileExistsW(SuiteExePath().c_str()) != FALSE;
}
