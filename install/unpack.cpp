#include "install/unpack.h"

#include <windows.h>
#include <shlwapi.h>

#include "install/run_hidden.h"
#include "install/staging.h"
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

// Inside the staging folder: where the tools unpack. Short, as the staging
// folder's own name: it adds to the depth of every unpacked file.
constexpr const wchar_t* UnpackedInStaging = L"\\new";

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
    // An earlier install that a cut-off start set aside comes back first:
    // the clean-up that follows must never take it for a leftover.
    if (!RestoreEarlierInstall()) {
        return false;
    }
    // A running suite keeps its folder for as long as it runs: told before
    // anything is unpacked, and again just before the swap.
    if (ProgramRunning(SuiteExePath())) {
        return false;
    }
    // A leftover that can't be removed (a scanner may still hold it) is left
    // for a later start; this one unpacks into a staging folder of its own.
    RemoveInstallLeftovers();
    CreateDirectoryW(programs.c_str(), nullptr);
    const std::wstring staging = MakeStagingFolderIn(programs);
    if (staging.empty()) {
        return false;
    }
    // The tools get the plain path; the launcher's own file work, the form
    // that no path length stops.
    const std::wstring unpacked = staging + UnpackedInStaging;
    const std::wstring longStaging = LongPath(staging);
    const std::wstring longUnpacked = LongPath(unpacked);
    CreateDirectoryW(longUnpacked.c_str(), nullptr);
    // Only the suite's own folder leaves the staging folder, and only whole:
    // anything else the archive holds goes with the staging folder.
    const std::wstring unpackedSuite = InstallDirIn(longUnpacked);
    const bool installed = ExtractWithSystemTools(system, archive, unpacked) &&
                           GetFileAttributesW(SuiteExePathIn(unpackedSuite).c_str()) != INVALID_FILE_ATTRIBUTES &&
                           MoveIntoPlace(unpackedSuite, InstallDirIn(LongPath(programs)), longStaging);
    RemoveFolder(longUnpacked);
    // Gone when empty; an earlier install in it goes once the suite runs
    // (deleting it here would hold up the window), or stays set aside when
    // it could not be put back.
    RemoveDirectoryW(longStaging.c_str());
    return installed && PathFileExistsW(SuiteExePath().c_str()) != FALSE;
}
