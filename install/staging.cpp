#include "install/staging.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "launcher/handle.h"
#include "launcher/layout.h"
#include "ui/progress.h"

namespace {

constexpr const wchar_t* SetAsideInStaging = L"\\previous";
// A set-aside install that the new one has replaced: never put back.
constexpr const wchar_t* ReplacedInStaging = L"\\replaced";
constexpr DWORD FirstMoveWaitMs = 10;
constexpr wchar_t LastStagingNumber = L'9';

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What scanners and indexers cause for a moment; anything else is final.
bool Transient(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Begins a search for the entries that match pattern; a folder's "." and
// ".." are among them, and the callers pass them over.
HANDLE FindEntries(const std::wstring& pattern, WIN32_FIND_DATAW& found)
{
    return FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH);
}

bool IsDots(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

}  // namespace

std::wstring StagingFolderIn(const std::wstring& programsFolder)
{
    if (programsFolder.empty()) {
        return {};
    }
    return programsFolder + L"\\" + InstallFolderName + StagingSuffix;
}

std::wstring MakeStagingFolderIn(const std::wstring& programsFolder)
{
    std::wstring folder = StagingFolderIn(programsFolder);
    if (folder.empty() || CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
        return folder;
    }
    folder += L".1";
    for (wchar_t& number = folder.back(); number < LastStagingNumber;) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
        ++number;
        if (CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
            return folder;
        }
    }
    return {};
}

std::vector<std::wstring> StagingFoldersIn(const std::wstring& programsFolder)
{
    std::vector<std::wstring> folders;
    const std::wstring first = StagingFolderIn(programsFolder);
    if (first.empty()) {
        return folders;
    }
    WIN32_FIND_DATAW found = {};
    const FindHandle search(FindEntries(first + L"*", found));
    if (!search.Valid()) {
        return folders;
    }
    const std::size_t length = wcslen(InstallFolderName) + wcslen(StagingSuffix);
    do {
        // Only the names this launcher makes: a user's "….installing-old" is not ours.
        const wchar_t* rest = found.cFileName + length;
        const bool ours = rest[0] == L'\0' ||
                          (rest[0] == L'.' && rest[1] >= L'2' && rest[1] <= LastStagingNumber && rest[2] == L'\0');
        if (ours && IsFolder(found.dwFileAttributes)) {
            folders.push_back(programsFolder + L"\\" + found.cFileName);
        }
    } while (FindNextFileW(search.Get(), &found) != FALSE);
    return folders;
}

std::wstring SetAsideIn(const std::wstring& stagingFolder)
{
    return stagingFolder + SetAsideInStaging;
}

bool RemoveFolder(const std::wstring& folder)
{
    if (!Exists(folder)) {
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
    return !Exists(folder);
}

bool MovePatiently(const std::wstring& from, const std::wstring& to)
{
    // Windows refuses to move a folder while a file in it is open without
    // delete sharing, as scanners hold each new program for a moment.
    const ULONGLONG deadline = GetTickCount64() + MoveRetryLimitMs;
    DWORD wait = FirstMoveWaitMs;
    for (;;) {
        // Whatever took the target's place meanwhile is never moved over.
        if (Exists(to)) {
            return false;
        }
        if (MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE) {
            return true;
        }
        const DWORD error = GetLastError();
        const ULONGLONG now = GetTickCount64();
        if (!Transient(error) || now >= deadline) {
            return false;
        }
        WaitPumping(static_cast<DWORD>(std::min<ULONGLONG>(wait, deadline - now)));
        wait = std::min<DWORD>(wait * 2, LongestMoveWaitMs);
    }
}

bool ProgramRunning(const std::wstring& program)
{
    // Not a DELETE probe: a running program's file opens for that, since
    // Windows lets it be renamed.
    const HANDLE opened =
        CreateFileW(program.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    const FileHandle file(opened);
    return !file.Valid() && error == ERROR_SHARING_VIOLATION;
}

bool CarryOverEarlierFiles(const std::wstring& earlierInstall, const std::wstring& newInstall)
{
    WIN32_FIND_DATAW found = {};
    const FindHandle search(FindEntries(earlierInstall + L"\\*", found));
    if (!search.Valid()) {
        return false;
    }
    do {
        // Thousands of files take seconds: the window keeps answering.
        PumpMessages();
        if (IsDots(found.cFileName)) {
            continue;
        }
        const std::wstring from = earlierInstall + L"\\" + found.cFileName;
        const std::wstring to = newInstall + L"\\" + found.cFileName;
        const DWORD present = GetFileAttributesW(to.c_str());
        const DWORD attributes = found.dwFileAttributes;
        // A link (a junction, a symbolic link) is neither followed nor
        // carried: one the process could not make would block every
        // reinstall, and what it points to stays as it is.
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            continue;
        }
        // What the archive holds under the same name comes from the archive.
        if (present != INVALID_FILE_ATTRIBUTES) {
            if (IsFolder(attributes) && IsFolder(present) && !CarryOverEarlierFiles(from, to)) {
                return false;
            }
        } else if (IsFolder(attributes)) {
            if (CreateDirectoryW(to.c_str(), nullptr) == FALSE || !CarryOverEarlierFiles(from, to)) {
                return false;
            }
        } else if (((attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
                    CreateHardLinkW(to.c_str(), from.c_str(), nullptr) == FALSE) &&
                   CopyFileW(from.c_str(), to.c_str(), TRUE) == FALSE) {
            // A read-only file is copied: a link shares the attribute, and
            // deleting the other name would clear it.
            return false;
        }
    } while (FindNextFileW(search.Get(), &found) != FALSE);
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool MoveIntoPlace(const std::wstring& unpackedSuite, const std::wstring& installDir, const std::wstring& staging)
{
    if (!Exists(installDir)) {
        return MovePatiently(unpackedSuite, installDir);
    }
    const std::wstring aside = SetAsideIn(staging);
    // A running suite holds its folder for as long as it runs: no waiting.
    if (ProgramRunning(SuiteExePathIn(installDir)) || !CarryOverEarlierFiles(installDir, unpackedSuite) ||
        !MovePatiently(installDir, aside)) {
        return false;
    }
    if (MovePatiently(unpackedSuite, installDir)) {
        // Spent now: under this name no later start takes it for an install
        // to put back, even when deleting it is cut short.
        MovePatiently(aside, staging + ReplacedInStaging);
        return true;
    }
    // When even this fails the earlier install stays set aside, and the
    // next start puts it back.
    MovePatiently(aside, installDir);
    return false;
}

bool RestoreEarlierInstall()
{
    const std::wstring programs = UserProgramsFolder();
    const std::wstring installDir = InstallDirIn(programs);
    if (programs.empty() || Exists(installDir)) {
        return true;
    }
    for (const std::wstring& staging : StagingFoldersIn(programs)) {
        if (Exists(SetAsideIn(staging))) {
            return MovePatiently(SetAsideIn(staging), installDir);
        }
    }
    return true;
}

void RemoveInstallLeftovers()
{
    const std::wstring programs = UserProgramsFolder();
    // Once the suite's folder is in place, a set-aside install's files are
    // in it too: they were carried over before the move.
    const bool installed = Exists(InstallDirIn(programs));
    for (const std::wstring& staging : StagingFoldersIn(programs)) {
        const std::wstring aside = SetAsideIn(staging);
        // Renamed first, as after a move-in, so that a delete cut short
        // never leaves a part of it to be put back.
        if (Exists(aside) &&
            (!installed || MoveFileExW(aside.c_str(), (staging + ReplacedInStaging).c_str(), 0) == FALSE)) {
            continue;
        }
        RemoveFolder(staging);
    }
}
