// Unpacks the suite's archive with the system's own tools.
#pragma once

#include <string>

// Installs the suite from archive, all or nothing: the system's tar.exe, or
// PowerShell's Expand-Archive when tar is absent or fails (each by its full
// path in the system folder, run there; nothing is started when that folder
// can't be read), unpacks into a staging folder beside the install; the
// suite's folder then takes the place of InstallDir() in one rename, and an
// earlier install is replaced only as a whole. True when a tool succeeded
// and SuiteExePath() then exists. The staging folder is gone afterwards,
// and an earlier one, left by a start that was cut off, is removed first.
bool UnpackArchive(const std::wstring& archive);

// Follows InstallFolderName in the staging folder's name, so that it can
// never be taken for the suite's own folder.
inline constexpr const wchar_t* StagingSuffix = L".installing";
// <Programs folder>\<InstallFolderName>.installing; empty without a folder.
std::wstring StagingFolderIn(const std::wstring& programsFolder);
// Deletes a folder with all it holds; true when it is gone (or never was).
bool RemoveFolder(const std::wstring& folder);

// "<tar>" -xf "<archive>" -C "<destination>"
std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& archive, const std::wstring& destination);
// powershell.exe ... -Command "Expand-Archive -Force -LiteralPath '<archive>'
// -DestinationPath '<destination>'", each path escaped for single quotes.
std::wstring PowerShellCommandLine(const std::wstring& archive, const std::wstring& destination);
// Doubles every character PowerShell takes as a single quote, so the text
// stays one literal inside '...'.
std::wstring EscapeForSingleQuotes(const std::wstring& text);
