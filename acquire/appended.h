// Copies an archive appended to the launcher's own file into the temp folder.
#pragma once

#include <string>

inline constexpr unsigned long CopyBufferSize = 1048576;  // 1 MiB

// TempArchivePath() once every byte of a valid appended archive was copied
// there; empty otherwise. The trailer ends the file, or, in a signed file,
// stands right before the certificate table; a header that does not fit the
// file counts as no archive. Nothing is created unless the trailer is valid; a
// copy that breaks off leaves its partial file behind.
std::wstring ExtractAppendedArchive();
// The same for a given file, so that tests can point it at their own.
std::wstring ExtractAppendedArchiveFrom(const wchar_t* sourcePath);
// True when the launcher's own file ends in a valid trailer, by the same
// rules; nothing is copied.
bool CarriesAppendedArchive();
bool CarriesAppendedArchiveFrom(const wchar_t* sourcePath);
