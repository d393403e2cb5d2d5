#include "acquire/appended.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>

#include "acquire/trailer.h"
#include "launcher/handle.h"
#include "launcher/layout.h"

namespace {

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
// at start; 0 when there is none.
std::uint64_t FindAppendedArchive(HANDLE source, std::int64_t& start)
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

bool CarriesAppendedArchiveFrom(const wchar_t* sourcePath)
{
    const FileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::int64_t start = 0;
    return source.Valid() && FindAppendedArchive(source.Get(), start) != 0;
}

bool CarriesAppendedArchive()
{
    const std::wstring ownPath = OwnPath();
    return !ownPath.empty() && CarriesAppendedArchiveFrom(ownPath.c_str());
}

std::wstring ExtractAppendedArchiveFrom(const wchar_t* sourcePath)
{
    const FileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!source.Valid()) {
        return {};
    }
    std::int64_t start = 0;
    const std::uint64_t length = FindAppendedArchive(source.Get(), start);
    if (length == 0) {
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

std::wstring ExtractAppendedArchive()
{
    const std::wstring ownPath = OwnPath();
    if (ownPath.empty()) {
        return {};
    }
    return ExtractAppendedArchiveFrom(ownPath.c_str());
}
