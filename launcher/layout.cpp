#include "launcher/layout.h"

#include <windows.h>
#include <shlobj.h>

#include "launcher/build_config.h"
#include "launcher/handle.h"

const wchar_t* const DownloadHost = PIVRA_DOWNLOAD_HOST;
const wchar_t* const DownloadPath = L"/downloads/PivraSuite-Windows.zip";
const wchar_t* const InstallFolderName = L"Pivra Suite All In One";
const wchar_t* const SuiteExeName = L"PivraSuite.exe";

const wchar_t* const ArchiveFileName = L"PivraSuite-Windows.zip";
const wchar_t* const StartMenuFolderName = L"\\Pivra Suite";
const wchar_t* const IconsFolder = L"\\icons\\";
const wchar_t* const IconExtension = L".ico";
const wchar_t* const ShortcutExtension = L".lnk";
const wchar_t* const PlaceOption = L"--place ";
// Company.Product, then the place: no blanks, at most 128 characters.
const wchar_t* const SuiteAppUserModelId = L"PivraSuite.AllInOne";

const std::array<PlaceEntry, PlaceCount> PlaceTable = {{
    {L"Pivra Suite All In One", L"", L"suite"},
    {L"Pivra Suite Messaging", L"messages", L"chat"},
    {L"Pivra Suite Camera", L"camera", L"camera"},
    {L"Pivra Suite Contacts", L"contacts", L"contacts"},
    {L"Pivra Suite Email", L"email", L"email"},
    {L"Pivra Suite Friends In Common", L"them", L"friends"},
    {L"Pivra Suite Map", L"map", L"map"},
    {L"Pivra Suite Music", L"music", L"music"},
    {L"Pivra Suite Alarm and Reminders", L"alarm", L"alarm"},
    {L"Pivra Suite Storage Management", L"storage", L"storage"},
}};

std::wstring PlaceArguments(const PlaceEntry& entry)
{
    if (entry.place[0] == L'\0') {
        return {};
    }
    return std::wstring(PlaceOption) + entry.place;
}

std::wstring PlaceAppUserModelId(const PlaceEntry& entry)
{
    if (entry.place[0] == L'\0') {
        return SuiteAppUserModelId;
    }
    return std::wstring(SuiteAppUserModelId) + L"." + entry.place;
}

std::wstring KnownFolderPath(const GUID& folderId)
{
    CoTaskString path;
    // The buffer is freed whether or not the call succeeded.
    const HRESULT result = SHGetKnownFolderPath(folderId, KF_FLAG_CREATE, nullptr, path.Put());
    if (FAILED(result) || !path.Valid()) {
        return {};
    }
    return path.Get();
}

std::wstring ChooseProgramsFolder(const std::wstring& userProgramFiles, const std::wstring& localAppData)
{
    if (!userProgramFiles.empty()) {
        return userProgramFiles;
    }
    if (!localAppData.empty()) {
        return localAppData + L"\\Programs";
    }
    return {};
}

std::wstring UserProgramsFolder()
{
    std::wstring userProgramFiles = KnownFolderPath(FOLDERID_UserProgramFiles);
    if (!userProgramFiles.empty()) {
        return userProgramFiles;
    }
    // Only asked when needed; Wine 8, for one, lacks UserProgramFiles.
    return ChooseProgramsFolder({}, KnownFolderPath(FOLDERID_LocalAppData));
}

std::wstring InstallDirIn(const std::wstring& programsFolder)
{
    if (programsFolder.empty()) {
        return {};
    }
    return programsFolder + L"\\" + InstallFolderName;
}

std::wstring InstallDir()
{
    return InstallDirIn(UserProgramsFolder());
}

std::wstring SuiteExePathIn(const std::wstring& installDir)
{
    if (installDir.empty()) {
        return {};
    }
    return installDir + L"\\" + SuiteExeName;
}

std::wstring SuiteExePath()
{
    return SuiteExePathIn(InstallDir());
}

std::wstring TempArchivePath()
{
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    // 0 is failure; a length that fills the buffer means the path did not fit.
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + ArchiveFileName;
}
