// Where the suite lives and what it consists of: the build settings, the
// fixed names, the place table and the paths composed from them.
#pragma once

#include <windows.h>

#include <array>
#include <string>

// Build settings, fixed when the launcher is built.
extern const wchar_t* const DownloadHost;
extern const wchar_t* const DownloadPath;
extern const wchar_t* const InstallFolderName;
extern const wchar_t* const SuiteExeName;

extern const wchar_t* const ArchiveFileName;
extern const wchar_t* const StartMenuFolderName;  // begins with its backslash
extern const wchar_t* const IconsFolder;          // "\icons\"
extern const wchar_t* const IconExtension;
extern const wchar_t* const ShortcutExtension;
extern const wchar_t* const PlaceOption;  // "--place ", ending in one blank
extern const wchar_t* const SuiteAppUserModelId;

struct PlaceEntry {
    const wchar_t* displayName;
    const wchar_t* place;  // empty for the whole suite
    const wchar_t* icon;   // base name inside the icons folder
};

inline constexpr std::size_t PlaceCount = 10;
extern const std::array<PlaceEntry, PlaceCount> PlaceTable;
// The place this launcher stands for, the row the build setting OwnPlace
// picks; defined in launcher/own_place.cpp, which each program links.
extern const PlaceEntry& OwnPlace;

// "--place <key>" for a place, or empty for the whole-suite row.
std::wstring PlaceArguments(const PlaceEntry& entry);
// The place's AppUserModelID, its own among the ten: "PivraSuite.AllInOne"
// for the whole suite, "PivraSuite.AllInOne.<key>" for a place.
std::wstring PlaceAppUserModelId(const PlaceEntry& entry);

// The user's own Programs folder: UserProgramFiles, or LocalAppData\Programs
// where that known folder is missing (it lies there by default). Empty when
// neither can be had: a root-relative folder would be writable by any user.
std::wstring UserProgramsFolder();
// Picks the Programs folder from the two lookups' results (empty = failed).
std::wstring ChooseProgramsFolder(const std::wstring& userProgramFiles, const std::wstring& localAppData);

// Programs folder + "\" + InstallFolderName; empty when there is no folder.
std::wstring InstallDir();
std::wstring InstallDirIn(const std::wstring& programsFolder);
// InstallDir() + "\" + SuiteExeName; empty when there is no folder.
std::wstring SuiteExePath();
std::wstring SuiteExePathIn(const std::wstring& installDir);

// The temp folder + ArchiveFileName; empty when the temp folder can't be read
// whole into its 260-character buffer.
std::wstring TempArchivePath();

// A known folder's path, or empty when the lookup fails.
std::wstring KnownFolderPath(const GUID& folderId);
