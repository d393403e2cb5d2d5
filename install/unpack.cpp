#include "install/unpack.h"

#include <windows.h>
#include <shlwapi.h>

#include "install/run_hidden.h"
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

bool UnpackArchive(const std::wstring& archive)
{
    const std::wstring destination = UserProgramsFolder();
    if (destination.empty()) {
        return false;
    }
    // Without the system folder no tool can be named by its full path, and
    // one found by a search might be a planted copy.
    const std::wstring system = SystemFolder();
    if (system.empty()) {
        return false;
    }
    CreateDirectoryW(destination.c_str(), nullptr);
    const std::wstring tarPath = system + TarInSystemFolder;
    const bool tarDone = PathFileExistsW(tarPath.c_str()) != FALSE &&
                         RunHidden(tarPath, TarCommandLine(tarPath, archive, destination), true);
    if (!tarDone && !RunHidden(system + PowerShellInSystemFolder, PowerShellCommandLine(archive, destination), true)) {
        return false;
    }
    return PathFileExistsW(SuiteExePath().c_str()) != FALSE;
}
