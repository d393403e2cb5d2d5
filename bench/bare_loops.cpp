// The least the download and the copy-out can cost: the launcher's calls for
// each, with its buffer sizes, and nothing else (no progress, no status line).
//   bare_loops download <host> <path> <output file>
//       one HTTPS GET on port 443 read in 256 KiB pieces into the file;
//   bare_loops copy <file with an appended archive> <output file>
//       the archive before the trailer copied out in 1 MiB pieces.
// Prints "bytes=... seconds=... peak_working_set_kib=... peak_private_kib=..."
// as benchctl download and copyout_timer do, the time taken in-process around
// the calls. The output file is left for the caller. Exits 1 on any failure.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "acquire/appended.h"
#include "acquire/download.h"
#include "acquire/trailer.h"

namespace {

LARGE_INTEGER Now()
{
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return now;
}

int Report(unsigned long long bytes, LARGE_INTEGER start)
{
    const LARGE_INTEGER end = Now();
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    (void)std::printf("bytes=%llu seconds=%.4f peak_working_set_kib=%llu peak_private_kib=%llu\n", bytes, seconds,
                      static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024U),
                      static_cast<unsigned long long>(memory.PeakPagefileUsage / 1024U));
    return 0;
}

// Reads until the body ends; the byte count, or -1 after a failed read or write.
long long ReadBody(HINTERNET request, HANDLE file)
{
    std::vector<unsigned char> buffer(DownloadBufferSize);
    long long total = 0;
    for (;;) {
        DWORD delivered = 0;
        if (WinHttpReadData(request, buffer.data(), DownloadBufferSize, &delivered) == FALSE) {
            return -1;
        }
        if (delivered == 0) {
            return total;
        }
        DWORD written = 0;
        if (WriteFile(file, buffer.data(), delivered, &written, nullptr) == FALSE || written != delivered) {
            return -1;
        }
        total += delivered;
    }
}

int Download(const wchar_t* host, const wchar_t* path, const wchar_t* output)
{
    const LARGE_INTEGER start = Now();
    HINTERNET session =
        WinHttpOpen(UserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session == nullptr ? nullptr : WinHttpConnect(session, host, INTERNET_DEFAULT_HTTPS_PORT, 0);
    HINTERNET request = connection == nullptr
                            ? nullptr
                            : WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    long long bytes = -1;
    if (request != nullptr &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE &&
        WinHttpReceiveResponse(request, nullptr) != FALSE) {
        DWORD status = 0;
        DWORD size = sizeof(status);
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        HANDLE file = status != HTTP_STATUS_OK ? INVALID_HANDLE_VALUE
                                               : CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            bytes = ReadBody(request, file);
            CloseHandle(file);
        }
    }
    for (HINTERNET handle : {request, connection, session}) {
        if (handle != nullptr) {
            WinHttpCloseHandle(handle);
        }
    }
    if (bytes <= 0) {
        (void)std::fwprintf(stderr, L"bare_loops: the download failed\n");
        return 1;
    }
    return Report(static_cast<unsigned long long>(bytes), start);
}

// Copies length bytes from the source's current position; false on a short read or write.
bool CopyLoop(HANDLE source, HANDLE destination, unsigned long long length)
{
    std::vector<unsigned char> buffer(CopyBufferSize);
    while (length > 0) {
        const DWORD wanted = length < CopyBufferSize ? static_cast<DWORD>(length) : CopyBufferSize;
        DWORD delivered = 0;
        DWORD written = 0;
        if (ReadFile(source, buffer.data(), wanted, &delivered, nullptr) == FALSE || delivered == 0 ||
            WriteFile(destination, buffer.data(), delivered, &written, nullptr) == FALSE || written != delivered) {
            return false;
        }
        length -= delivered;
    }
    return true;
}

int Copy(const wchar_t* sourcePath, const wchar_t* output)
{
    const LARGE_INTEGER start = Now();
    HANDLE source = CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        (void)std::fwprintf(stderr, L"bare_loops: cannot open %ls\n", sourcePath);
        return 1;
    }
    bool copied = false;
    std::uint64_t length = 0;
    LARGE_INTEGER size = {};
    ArchiveTrailer trailer = {};
    DWORD read = 0;
    LARGE_INTEGER position = {};
    if (GetFileSizeEx(source, &size) != FALSE && size.QuadPart > static_cast<LONGLONG>(TrailerSize)) {
        position.QuadPart = size.QuadPart - static_cast<LONGLONG>(TrailerSize);
        SetFilePointerEx(source, position, nullptr, FILE_BEGIN);
        if (ReadFile(source, trailer.data(), TrailerSize, &read, nullptr) != FALSE && read == TrailerSize) {
            length = AppendedArchiveLength(size.QuadPart, trailer);
        }
    }
    if (length > 0) {
        position.QuadPart -= static_cast<LONGLONG>(length);
        SetFilePointerEx(source, position, nullptr, FILE_BEGIN);
        HANDLE destination =
            CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (destination != INVALID_HANDLE_VALUE) {
            copied = CopyLoop(source, destination, length);
            CloseHandle(destination);
        }
    }
    CloseHandle(source);
    if (!copied) {
        (void)std::fwprintf(stderr, L"bare_loops: the copy-out of %ls failed\n", sourcePath);
        return 1;
    }
    return Report(length, start);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && std::wcscmp(argv[1], L"download") == 0) {
        return Download(argv[2], argv[3], argv[4]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"copy") == 0) {
        return Copy(argv[2], argv[3]);
    }
    (void)std::fwprintf(stderr, L"usage: bare_loops download <host> <path> <output> | copy <file> <output>\n");
    return 2;
}
