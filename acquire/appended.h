// Copies an archive appended to the launcher's own file into the temp folder.
#pragma once

#include <string>

inline constexpr unsigned long CopyBufferSize = 1048576;  // 1 MiB

// TempArchivePath() once every byte of a valid appended archive was copied
// there; empty otherwise. The trailer ends the file, or, in a signed file,
// stands right before the certificate table; a header that does not fit the
// file counts as no archive. Nothing is created unless the trailer is valid; a
// copy that breaks off leaves its partial file behind.
// A file that carries an archive and names a certificate table must verify
// (SignatureVerifies) before anything is copied: if it does not, the result
// is empty, nothing is created and unverified is set. It is cleared otherwise.
std::wstring ExtractAppendedArchive(bool& unverified);
// The same for a given file, so that tests can point it at their own.
std::wstring ExtractAppendedArchiveFrom(const wchar_t* sourcePath, bool& unverified);
// True when the launcher's own file ends in a valid trailer, by the same
// rules; nothing is copied.
bool CarriesAppendedArchive();
bool CarriesAppendedArchiveFrom(const wchar_t* sourcePath);

// True when WinVerifyTrust finds the file's Authenticode signature intact and
// its signer's chain complete up to a root this machine trusts. Offline: no
// revocation check and no retrieval of anything over the network. file is an
// open handle to path.
bool SignatureVerifies(const wchar_t* path, void* file);
