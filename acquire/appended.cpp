#include "acquire/appended.h"

#include <windows.h>

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

}  // namespace

std::wstring ExtractAppendedArchiveFrom(const wchar_t* sourcePath)
{
    const FileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!source.Valid()) {
        return {};
    }
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(source.Get(), &size) == FALSE || size.QuadPart <= static_cast<LONGLONG>(TrailerSize)) {
        return {};
    }
    LARGE_INTEGER position = {};
    position.QuadPart = size.QuadPart - static_cast<LONGLONG>(TrailerSize);
    SetFilePointerEx(source.Get(), position, nullptr, FILE_BEGIN);
    ArchiveTrailer trailer = {};
    DWORD read = 0;
    if (ReadFile(source.Get(), trailer.data(), TrailerSize, &read, nullptr) == FALSE || read != TrailerSize) {
        return {};
    }
    const std::uint64_t length = AppendedArchiveLength(size.QuadPart, trailer);
    if (length == 0) {
        return {};
    }
    position.QuadPart -= static_cast<LONGLONG>(length);
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
    wchar_t ownPath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    // A path that fills the buffer was cut short: it would name another file.
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return ExtractAppendedArchiveFrom(ownPath);
}
