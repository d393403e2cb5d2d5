// Times the launcher's own copy-out of an appended archive
// (ExtractAppendedArchiveFrom, with the signature check of a signed file)
// and reports the process's peak memory.
//   copyout_timer <file with an appended archive> <archive bytes> [keep]
// Prints "bytes=... seconds=... peak_working_set_kib=... peak_private_kib=...
// base_working_set_kib=..." and "copy=<its Windows path>"; the copy is deleted
// unless "keep" is given. Exits 1 when the copy fails or has another size.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "acquire/appended.h"

namespace {

PROCESS_MEMORY_COUNTERS Memory()
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return memory;
}

unsigned long long Kib(SIZE_T bytes)
{
    return static_cast<unsigned long long>(bytes / 1024U);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && std::wstring(argv[3]) != L"keep")) {
        (void)std::fwprintf(stderr, L"usage: copyout_timer <file> <archive bytes> [keep]\n");
        return 2;
    }
    const unsigned long long expected = std::wcstoull(argv[2], nullptr, 10);
    const PROCESS_MEMORY_COUNTERS before = Memory();

    LARGE_INTEGER frequency = {};
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool unverified = false;
    const std::wstring path = ExtractAppendedArchiveFrom(argv[1], unverified);
    QueryPerformanceCounter(&end);
    const PROCESS_MEMORY_COUNTERS after = Memory();
    if (path.empty()) {
        (void)std::fwprintf(stderr, L"copyout_timer: the copy-out of %ls failed%ls\n", argv[1],
                            unverified ? L": its signature does not verify" : L"");
        return 1;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    const unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32U) | data.nFileSizeLow;
    const bool keep = argc == 4;
    if (!keep) {
        DeleteFileW(path.c_str());
    }
    if (bytes != expected) {
        (void)std::fwprintf(stderr, L"copyout_timer: the copy has %llu bytes, not %llu\n", bytes, expected);
        return 1;
    }
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    (void)std::printf(
        "bytes=%llu seconds=%.4f peak_working_set_kib=%llu peak_private_kib=%llu base_working_set_kib=%llu\n", bytes,
        seconds, Kib(after.PeakWorkingSetSize), Kib(after.PeakPagefileUsage), Kib(before.PeakWorkingSetSize));
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    (void)std::printf("copy=%s\n", utf8.c_str());
    return 0;
}
