// Unpacks the suite's archive with the system's own tools.
#pragma once

#include <string>

// Extracts archive into the user's Programs folder with the system's
// tar.exe, or with PowerShell's Expand-Archive when tar is absent or fails,
// each started by its full path in the system folder (nothing is started
// when that folder can't be read). True when a tool succeeded and
// SuiteExePath() then exists.
bool UnpackArchive(const std::wstring& archive);

// "<tar>" -xf "<archive>" -C "<destination>"
std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& archive, const std::wstring& destination);
// powershell.exe ... -Command "Expand-Archive -Force -LiteralPath '<archive>'
// -DestinationPath '<destination>'", each path escaped for single quotes.
std::wstring PowerShellCommandLine(const std::wstring& archive, const std::wstring& destination);
// Doubles every character PowerShell takes as a single quote, so the text
// stays one literal inside '...'.
std::wstring EscapeForSingleQuotes(const std::wstring& text);
