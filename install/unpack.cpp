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

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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
    // The launcher's own file work in the form that no path length stops.
    const std::wstring longPrograms = LongPath(programs);
    const std::wstring installDir = InstallDirIn(longPrograms);
    // A running suite keeps its folder for as long as it runs: told before
    // anything is unpacked, and again just before the swap.
    if (ProgramRunning(SuiteExePathIn(installDir))) {
        return false;
    }
    // A leftover that can't be removed (a scanner may still hold it) is left
    // for a later start; this one unpacks into a staging folder of its own.
    RemoveInstallLeftovers();
    CreateDirectoryW(longPrograms.c_str(), nullptr);
    const std::wstring staging = MakeStagingFolderIn(longPrograms);
    if (staging.empty()) {
        return false;
    }
    const std::wstring unpacked = staging + UnpackedInStaging;
    CreateDirectoryW(unpacked.c_str(), nullptr);
    // Only the suite's own folder leaves the staging folder, and only whole:
    // anything else the archive holds goes with the staging folder.
    const std::wstring unpackedSuite = InstallDirIn(unpacked);
    // The tools get the plain path: what follows the \\?\ prefix, if any.
    const std::wstring plainUnpacked(unpacked, longPrograms.size() - programs.size());
    const bool installed = ExtractWithSystemTools(system, archive, plainUnpacked) &&
                           Exists(SuiteExePathIn(unpackedSuite)) && MoveIntoPlace(unpackedSuite, installDir, staging);
    RemoveFolder(unpacked);
    // Gone when empty; an earlier install in it goes once the suite runs
    // (deleting it here would hold up the window), or stays set aside when
    // it could not be put back.
    RemoveDirectoryW(staging.c_str());
    return installed && Exists(SuiteExePathIn(installDir));
}
