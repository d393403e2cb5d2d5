// The staging folders beside the suite's folder, and the moves that put a
// freshly unpacked suite in the place of an earlier one without ever losing
// the earlier one or what the user keeps in it.
#pragma once

#include <string>
#include <vector>

// The staging folder's name in the Programs folder. Short: the tools unpack
// the suite into "~Pivra\new", so its files lie 11 characters deeper there
// than once installed (13 in "~Pivra.2" to "~Pivra.9"), and PowerShell's
// Expand-Archive stops at MAX_PATH.
inline constexpr const wchar_t* StagingName = L"~Pivra";
// Earlier launchers staged in "<InstallFolderName>.installing" (and ".2" to
// ".9"): still recognised, for the install one of them may have set aside.
inline constexpr const wchar_t* EarlierStagingSuffix = L".installing";
// How long a move outwaits a virus scanner that holds a new file, and the
// longest single wait between two tries.
inline constexpr unsigned long MoveRetryLimitMs = 30000;
inline constexpr unsigned long LongestMoveWaitMs = 1000;

// A drive's path in the \\?\ form, which no path length stops; the
// launcher's own file work in the Programs folder uses it. Any other path
// (empty, a network share's) stays as it is.
std::wstring LongPath(const std::wstring& path);

// <Programs folder>\~Pivra; empty without a folder.
std::wstring StagingFolderIn(const std::wstring& programsFolder);
// Makes a new, empty staging folder: that name, or when a leftover that
// could not be removed holds it, the same with ".2" to ".9" after it.
// Empty when none can be made.
std::wstring MakeStagingFolderIn(const std::wstring& programsFolder);
// The staging folders now in the Programs folder, this launcher's and
// earlier launchers', left by earlier starts.
std::vector<std::wstring> StagingFoldersIn(const std::wstring& programsFolder);
// Where a staging folder keeps the earlier install while the new one moves in.
std::wstring SetAsideIn(const std::wstring& stagingFolder);

// Deletes a folder with all it holds, read-only files too, while the
// progress window keeps answering; a link in it (a junction, a symbolic
// link) goes itself, never what it points to. True when it is gone (or
// never was).
bool RemoveFolder(const std::wstring& folder);

// Renames from to to, the target still absent, writing through; a refusal
// a scanner causes (access denied, a sharing or lock violation) is tried
// again, with waits from 10 ms up to LongestMoveWaitMs, for
// MoveRetryLimitMs, while the progress window keeps answering. Any other
// error fails at once.
bool MovePatiently(const std::wstring& from, const std::wstring& to);

// True when the program is running: its file then opens for renaming on
// Windows and Wine alike, but not for writing.
bool ProgramRunning(const std::wstring& program);

// Links (or, where the file system has no hard links, and for read-only
// files, copies, flushed to disk) into the new install every file and
// folder of the earlier one that it lacks; links to folders or files
// elsewhere are not carried. The earlier install is left as it is. False
// when one could not be carried. clashed, when given, is set when a file's
// name stands in both, as other versions.
bool CarryOverEarlierFiles(const std::wstring& earlierInstall, const std::wstring& newInstall, bool* clashed = nullptr);

// Puts the unpacked suite at installDir. An earlier install there is kept
// whole: refused at once while the suite runs; otherwise its files are
// carried over, it is set aside in the staging folder, and it goes back
// when the new one cannot follow. It is never deleted here: once replaced it
// waits in the staging folder, under another name, for
// RemoveInstallLeftovers.
bool MoveIntoPlace(const std::wstring& unpackedSuite, const std::wstring& installDir, const std::wstring& staging);

// Without the suite's program in place, puts back the newest earlier
// install that a start cut off between its two moves left set aside; a
// folder at the suite's place that lacks the program is carried into it
// first and goes (kept in the staging folder when the two hold other
// versions of one file). False when one is there and could not be put back.
bool RestoreEarlierInstall();
// Removes the staging folders earlier starts left, best effort. A set-aside
// install in one goes only once the suite's program is in place and all it
// holds has been carried into the suite's folder too; a kept folder never.
void RemoveInstallLeftovers();
