#include "install/staging.h"

#include <windows.h>

#include <algorithm>

#include "launcher/handle.h"
#include "launcher/layout.h"
#include "ui/progress.h"

namespace {

constexpr const wchar_t* SetAsideInStaging = L"\\previous";
// A set-aside install that the new one has replaced: never put back.
constexpr const wchar_t* ReplacedInStaging = L"\\replaced";
// A folder found at the suite's place whose files the earlier install holds
// other versions of: kept, never deleted.
constexpr const wchar_t* KeptInStaging = L"\\kept";
// Follows a file's name while its copy is written.
constexpr const wchar_t* CopyPartSuffix = L".pivra-part";
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

// A junction or a symbolic link: a name for something elsewhere. Other
// reparse points (a compressed, deduplicated or cloud file) are the user's
// files like any other.
bool IsLink(const WIN32_FIND_DATAW& found)
{
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(found.dwReserved0);
}

// What scanners and indexers cause for a moment; anything else is final.
bool Transient(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// <folder>\<name>, and <path><tail>: joined in one place each, since every
// joining written out adds to the launcher's size.
std::wstring Child(const std::wstring& folder, const wchar_t* name)
{
    std::wstring path = folder;
    path += L'\\';
    path += name;
    return path;
}

std::wstring Joined(const std::wstring& path, const wchar_t* tail)
{
    std::wstring joined = path;
    joined += tail;
    return joined;
}

// Begins a search of the folder's entries; its "." and ".." are among them,
// and the callers pass them over.
HANDLE FindEntries(const std::wstring& folder, WIN32_FIND_DATAW& found)
{
    return FindFirstFileExW(Child(folder, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH);
}

bool IsDots(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// Only the names launchers make: "<base>", or "<base>.2" to "<base>.9"; a
// user's "….installing-old" is not ours.
bool IsStagingName(const wchar_t* name, const std::wstring& base)
{
    const int length = static_cast<int>(base.size());
    if (static_cast<int>(wcslen(name)) < length ||
        CompareStringOrdinal(name, length, base.c_str(), length, TRUE) != CSTR_EQUAL) {
        return false;
    }
    const wchar_t* rest = name + length;
    return rest[0] == L'\0' || (rest[0] == L'.' && rest[1] >= L'2' && rest[1] <= LastStagingNumber && rest[2] == L'\0');
}

// Read-only goes first: neither DeleteFileW nor RemoveDirectoryW takes it.
void ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

void RemoveContents(const std::wstring& folder)
{
    WIN32_FIND_DATAW found = {};
    const FindHandle search(FindEntries(folder, found));
    if (!search.Valid()) {
        return;
    }
    do {
        // Thousands of files take seconds: the window keeps answering.
        PumpMessages();
        if (IsDots(found.cFileName)) {
            continue;
        }
        const std::wstring path = Child(folder, found.cFileName);
        ClearReadOnly(path, found.dwFileAttributes);
        if (!IsFolder(found.dwFileAttributes)) {
            DeleteFileW(path.c_str());
            continue;
        }
        if (!IsLink(found)) {
            RemoveContents(path);
        }
        RemoveDirectoryW(path.c_str());
    } while (FindNextFileW(search.Get(), &found) != FALSE);
}

// Read-only or not: a part of a copy that a cut left, or one that failed.
void DeletePart(const std::wstring& part)
{
    SetFileAttributesW(part.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(part.c_str());
}

// The copy is written under a name of its own and on disk before it takes
// its name: a cut never leaves a name that passes for a file carried over,
// and NTFS journals the delete of the original, not the copy's data.
bool CopyDurably(const std::wstring& from, const std::wstring& to)
{
    const std::wstring part = Joined(to, CopyPartSuffix);
    DeletePart(part);
    if (CopyFileW(from.c_str(), part.c_str(), TRUE) == FALSE) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(part.c_str());
    bool flushed = false;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        ClearReadOnly(part, attributes);
        {
            const FileHandle copy(
                CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            flushed = copy.Valid() && FlushFileBuffers(copy.Get()) != FALSE;
        }
        SetFileAttributesW(part.c_str(), attributes);
    }
    if (flushed && MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE) {
        return true;
    }
    DeletePart(part);
    return false;
}

// NTFS may give a folder made right after one of the same name was deleted
// that one's creation time (tunnelling); the newest set-aside install is
// told by it.
void StampCreationTime(const std::wstring& folder)
{
    const FileHandle handle(CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    if (handle.Valid()) {
        SetFileTime(handle.Get(), &now, nullptr, nullptr);
    }
}

// The staging folder whose set-aside install was set aside last (the
// staging folders are made anew by each start); empty when none holds one.
std::wstring NewestSetAside(const std::wstring& programsFolder)
{
    std::wstring newest;
    FILETIME newestMade = {};
    for (const std::wstring& staging : StagingFoldersIn(programsFolder)) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (Exists(SetAsideIn(staging)) &&
            GetFileAttributesExW(staging.c_str(), GetFileExInfoStandard, &data) != FALSE &&
            (newest.empty() || CompareFileTime(&data.ftCreationTime, &newestMade) > 0)) {
            newest = staging;
            newestMade = data.ftCreationTime;
        }
    }
    return newest;
}

// Renames a staging folder's set-aside install to the spent name, so that no
// later start takes it, or a part of it, for an install to put back, even
// when deleting it is cut short. Not waited for: one that stays set aside
// goes on a later start.
bool SpendSetAside(const std::wstring& staging)
{
    return RemoveFolder(Joined(staging, ReplacedInStaging)) &&
           MoveFileExW(SetAsideIn(staging).c_str(), (Joined(staging, ReplacedInStaging)).c_str(),
                       MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

std::wstring LongPath(const std::wstring& path)
{
    // Only a drive's path, "X:\…"; one already in that form stays as it is.
    if (path.size() < 2 || path[1] != L':') {
        return path;
    }
    return L"\\\\?\\" + path;
}

std::wstring StagingFolderIn(const std::wstring& programsFolder)
{
    if (programsFolder.empty()) {
        return {};
    }
    return Child(programsFolder, StagingName);
}

std::wstring MakeStagingFolderIn(const std::wstring& programsFolder)
{
    std::wstring folder = StagingFolderIn(programsFolder);
    const std::size_t length = folder.size();
    // "~Pivra", then "~Pivra.2" to "~Pivra.9".
    for (wchar_t number = L'1'; length != 0 && number <= LastStagingNumber; ++number) {
        if (CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
            StampCreationTime(folder);
            return folder;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
        folder.resize(length);
        folder += L'.';
        folder += static_cast<wchar_t>(number + 1);
    }
    return {};
}

std::vector<std::wstring> StagingFoldersIn(const std::wstring& programsFolder)
{
    std::vector<std::wstring> folders;
    if (programsFolder.empty()) {
        return folders;
    }
    WIN32_FIND_DATAW found = {};
    const FindHandle search(FindEntries(programsFolder, found));
    if (!search.Valid()) {
        return folders;
    }
    const std::wstring earlier = std::wstring(InstallFolderName) + EarlierStagingSuffix;
    do {
        if (IsFolder(found.dwFileAttributes) && !IsLink(found) &&
            (IsStagingName(found.cFileName, StagingName) || IsStagingName(found.cFileName, earlier))) {
            folders.push_back(Child(programsFolder, found.cFileName));
        }
    } while (FindNextFileW(search.Get(), &found) != FALSE);
    return folders;
}

std::wstring SetAsideIn(const std::wstring& stagingFolder)
{
    return Joined(stagingFolder, SetAsideInStaging);
}

bool RemoveFolder(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    ClearReadOnly(folder, attributes);
    // An empty folder, or a link, goes at once; what a link points to is
    // never entered.
    if (RemoveDirectoryW(folder.c_str()) == FALSE && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        RemoveContents(folder);
        RemoveDirectoryW(folder.c_str());
    }
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
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE) {
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

bool CarryOverEarlierFiles(const std::wstring& earlierInstall, const std::wstring& newInstall, bool* clashed)
{
    WIN32_FIND_DATAW found = {};
    const FindHandle search(FindEntries(earlierInstall, found));
    if (!search.Valid()) {
        return false;
    }
    do {
        // Thousands of files take seconds: the window keeps answering.
        PumpMessages();
        // A link is neither followed nor carried: one the process could
        // not make would block every reinstall, and what it points to
        // stays as it is.
        if (IsDots(found.cFileName) || IsLink(found)) {
            continue;
        }
        const std::wstring from = Child(earlierInstall, found.cFileName);
        const std::wstring to = Child(newInstall, found.cFileName);
        const DWORD present = GetFileAttributesW(to.c_str());
        const DWORD attributes = found.dwFileAttributes;
        // What the archive holds under the same name comes from the archive.
        if (present != INVALID_FILE_ATTRIBUTES) {
            if (!IsFolder(attributes) || !IsFolder(present)) {
                if (clashed != nullptr) {
                    *clashed = true;
                }
            } else if (!CarryOverEarlierFiles(from, to, clashed)) {
                return false;
            }
        } else if (IsFolder(attributes)) {
            if (CreateDirectoryW(to.c_str(), nullptr) == FALSE || !CarryOverEarlierFiles(from, to, clashed)) {
                return false;
            }
        } else if (((attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
                    CreateHardLinkW(to.c_str(), from.c_str(), nullptr) == FALSE) &&
                   !CopyDurably(from, to)) {
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
        SpendSetAside(staging);
        return true;
    }
    // When even this fails the earlier install stays set aside, and the
    // next start puts it back.
    MovePatiently(aside, installDir);
    return false;
}

bool RestoreEarlierInstall()
{
    const std::wstring programs = LongPath(UserProgramsFolder());
    const std::wstring installDir = InstallDirIn(programs);
    if (programs.empty() || Exists(SuiteExePathIn(installDir))) {
        return true;
    }
    const std::wstring staging = NewestSetAside(programs);
    if (staging.empty()) {
        return true;
    }
    const std::wstring aside = SetAsideIn(staging);
    // A folder at the suite's place without its program is no install (a
    // helper of the suite may have written its log there again): what it
    // holds joins the earlier install, and it steps aside, spent; or kept,
    // when the earlier install holds other versions of some of its files.
    bool clashed = false;
    if (Exists(installDir)) {
        if (!CarryOverEarlierFiles(installDir, aside, &clashed)) {
            return false;
        }
        const std::wstring away = Joined(staging, clashed ? KeptInStaging : ReplacedInStaging);
        if ((!clashed && !RemoveFolder(away)) || !MovePatiently(installDir, away)) {
            return false;
        }
    }
    return MovePatiently(aside, installDir);
}

void RemoveInstallLeftovers()
{
    const std::wstring programs = LongPath(UserProgramsFolder());
    const std::wstring installDir = InstallDirIn(programs);
    const bool installed = Exists(SuiteExePathIn(installDir));
    for (const std::wstring& staging : StagingFoldersIn(programs)) {
        // A set-aside install may hold the only copy of a user's file: it
        // goes once all it holds stands in the install in place too.
        if (Exists(Joined(staging, KeptInStaging)) ||
            (Exists(SetAsideIn(staging)) &&
             (!installed || !CarryOverEarlierFiles(SetAsideIn(staging), installDir) || !SpendSetAside(staging)))) {
            continue;
        }
        RemoveFolder(staging);
    }
}
