// Unpacks the suite's archive with the system's own tools.
#pragma once

#include <string>

// Installs the suite from archive, all or nothing: the system's tar.exe, or
// PowerShell's Expand-Archive when tar is absent or fails (each by its full
// path in the system folder, run there; nothing is started when that folder
// can't be read), unpacks into a staging folder beside the install; the
// suite's folder then moves into InstallDir()'s place (see MoveIntoPlace),
// keeping the files of an earlier install that the archive lacks. A running
// suite is refused before anything is unpacked. True when a tool succeeded
// and SuiteExePath() then exists. Afterwards the staging folder holds at
// most the earlier install, set aside, which RemoveInstallLeftovers deletes
// once the suite runs.
bool UnpackArchive(const std::wstring& archive);

// "<tar>" -xf "<archive>" -C "<destination>"
std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& archive, const std::wstring& destination);
// powershell.exe ... -Command "Expand-Archive -Force -LiteralPath '<archive>'
// -DestinationPath '<destination>'", each path escaped for single quotes.
std::wstring PowerShellCommandLine(const std::wstring& archive, const std::wstring& destination);
// Doubles every character PowerShell takes as a single quote, so the text
// stays one literal inside '...'.
std::wstring EscapeForSingleQuotes(const std::wstring& text);
