#include "acquire/appended.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <array>
#include <vector>

#include "acquire/trailer.h"
#include "launcher/handle.h"
#include "launcher/layout.h"

namespace {

// Chain errors for which Windows' Authenticode policy refuses a signer.
constexpr DWORD UntrustedChain = CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_REVOKED |
                                 CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_EXPLICIT_DISTRUST |
                                 CERT_TRUST_IS_PARTIAL_CHAIN;

// Copies exactly length bytes from the source's current position; false when
// a read fails or ends early, or a write is short.
bool CopyBytes(HANDLE source, HANDLE destination, std::uint64_t length)
{
    std::vector<unsigned char> buffer(CopyBufferSize);
    std::uint64_t remaining = length;
    while (remaining > 0) {
        const DWORD wanted = remaining < CopyBufferSize ? static_cast<DWORD>(remaining) : CopyBufferSize;
        DWORD delivered = 0;
        if (ReadFile(source, buffer.data(), wanted, &delivered, nullptr) == FALSE || delivered == 0) {
            return false;
        }
        DWORD written = 0;
        if (WriteFile(destination, buffer.data(), delivered, &written, nullptr) == FALSE || written != delivered) {
            return false;
        }
        remaining -= delivered;
    }
    return true;
}

// Reads count bytes from offset into data; false unless all of them arrived.
bool ReadAt(HANDLE file, std::int64_t offset, void* data, DWORD count)
{
    LARGE_INTEGER position = {};
    position.QuadPart = offset;
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    DWORD read = 0;
    return ReadFile(file, data, count, &read, nullptr) != FALSE && read == count;
}

// Finds a valid appended archive in source: its length, with its first byte
// at start and whether the file names a certificate table; 0 when there is
// none.
std::uint64_t FindAppendedArchive(HANDLE source, std::int64_t& start, bool& signedFile)
{
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(source, &size) == FALSE || size.QuadPart <= static_cast<LONGLONG>(TrailerSize)) {
        return 0;
    }
    // A signed file's trailer stands before its certificate table, which only
    // the PE header can point out.
    std::array<unsigned char, PeHeaderReadSize> header = {};
    const auto headerSize = static_cast<DWORD>(std::min(size.QuadPart, static_cast<LONGLONG>(PeHeaderReadSize)));
    if (!ReadAt(source, 0, header.data(), headerSize)) {
        return 0;
    }
    const std::int64_t trailerEnd = TrailerEnd(size.QuadPart, header.data(), headerSize);
    ArchiveTrailer trailer = {};
    if (trailerEnd <= static_cast<std::int64_t>(TrailerSize) ||
        !ReadAt(source, trailerEnd - static_cast<std::int64_t>(TrailerSize), trailer.data(), TrailerSize)) {
        return 0;
    }
    const std::uint64_t length = AppendedArchiveLength(trailerEnd, trailer);
    start = trailerEnd - static_cast<std::int64_t>(TrailerSize) - static_cast<std::int64_t>(length);
    signedFile = trailerEnd != size.QuadPart;
    return length;
}

// The launcher's own path, or empty when it can't be read whole.
std::wstring OwnPath()
{
    wchar_t ownPath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    // A path that fills the buffer was cut short: it would name another file.
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return {ownPath, length};
}

}  // namespace

bool SignatureVerifies(const wchar_t* path, void* file)
{
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;  // the very file that is copied from, held open
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // An offline launcher must work offline: nothing is fetched to check.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    bool verified = WinVerifyTrust(nullptr, &action, &data) == 0;
    if (verified) {
        // Windows' WinVerifyTrust refuses these chains itself; Wine's checks
        // the hash alone and passes a signer no trusted root stands behind.
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
        const CRYPT_PROVIDER_SGNR* signer =
            provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        verified = signer != nullptr && signer->pChainContext != nullptr &&
                   (signer->pChainContext->TrustStatus.dwErrorStatus & UntrustedChain) == 0;
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
    return verified;
}

bool CarriesAppendedArchiveFrom(const wchar_t* sourcePath)
{
    const FileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::int64_t start = 0;
    bool signedFile = false;
    return source.Valid() && FindAppendedArchive(source.Get(), start, signedFile) != 0;
}

bool CarriesAppendedArchive()
{
    const std::wstring ownPath = OwnPath();
    return !ownPath.empty() && CarriesAppendedArchiveFrom(ownPath.c_str());
}

std::wstring ExtractAppendedArchiveFrom(const wchar_t* sourcePath, bool& unverified)
{
    unverified = false;
    const FileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!source.Valid()) {
        return {};
    }
    std::int64_t start = 0;
    bool signedFile = false;
    const std::uint64_t length = FindAppendedArchive(source.Get(), start, signedFile);
    if (length == 0) {
        return {};
    }
    // A certificate table says the file was signed: then only what the
    // signature covers may be installed. The source is held open without
    // write sharing, so the bytes checked are the bytes copied.
    if (signedFile && !SignatureVerifies(sourcePath, source.Get())) {
        unverified = true;
        return {};
    }
    LARGE_INTEGER position = {};
    position.QuadPart = start;
    SetFilePointerEx(source.Get(), position, nullptr, FILE_BEGIN);

    std::wstring path = TempArchivePath();
    if (path.empty()) {
        return {};
    }
    FileHandle destination(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!destination.Valid()) {
        return {};
    }
    const bool copied = CopyBytes(source.Get(), destination.Get(), length);
    destination.Reset();
    if (!copied) {
        return {};  // the partial file stays, as after a failed download
    }
    return path;
}

std::wstring ExtractAppendedArchive(bool& unverified)
{
    unverified = false;
    const std::wstring ownPath = OwnPath();
    if (ownPath.empty()) {
        return {};
    }
    return ExtractAppendedArchiveFrom(ownPath.c_str(), unverified);
}
