// Times the launcher's own copy-out of an appended archive
// (ExtractAppendedArchiveFrom, with the signature check of a signed file)
// and reports the process's peak memory.
//   copyout_timer <file with an appended archive> <archive bytes> [keep]
// Prints "bytes=... seconds=... peak_working_set_kib=... peak_private_kib=...
// base_working_set_kib=..." and "copy=<its Windows path>"; the copy is deleted
// unless "keep" is given. Exits 1 when the copy fails or has another size.
//   copyout_timer unpack <zip>
// Times the launcher's first install from a zip (UnpackArchive: staging, tar,
// the move into place, the clean-up) against one bare tar run straight into
// the Programs folder, and prints "bare_seconds=... unpack_seconds=...".
//   copyout_timer reinstall <zip> <files>
// Times a reinstall over an install that holds that many small files of the
// user's (carried over), and over one that holds none, then the removal of
// the earlier install once the suite would run; prints "files=...
// bare_reinstall_seconds=... reinstall_seconds=... leftovers_seconds=...".
#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "acquire/appended.h"
#include "install/run_hidden.h"
#include "install/staging.h"
#include "install/unpack.h"
#include "launcher/layout.h"

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

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring BareFolder()
{
    return UserProgramsFolder() + L"\\bench-bare-unpack";
}

// Both runs start alike: neither the bare run's folder nor an installed
// suite is there.
void ClearBothRuns()
{
    RemoveFolder(BareFolder());
    RemoveFolder(InstallDir());
}

// One bare tar run into a fresh folder of the Programs folder; its seconds,
// or a negative number when it failed.
double TimeBareTar(const std::wstring& zip)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring tar = std::wstring(system) + L"\\tar.exe";
    const std::wstring bare = BareFolder();
    ClearBothRuns();
    CreateDirectoryW(bare.c_str(), nullptr);
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    QueryPerformanceCounter(&start);
    const bool done = RunHidden(tar, TarCommandLine(tar, zip, bare), system, true) &&
                      PathFileExistsW(SuiteExePathIn(InstallDirIn(bare)).c_str()) != FALSE;
    QueryPerformanceCounter(&end);
    return done ? Seconds(start, end) : -1.0;
}

// One first install with the launcher's UnpackArchive: no earlier suite to
// set aside, as the bare run has none.
double TimeFirstInstall(const std::wstring& zip)
{
    ClearBothRuns();
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    QueryPerformanceCounter(&start);
    const bool done = UnpackArchive(zip);
    QueryPerformanceCounter(&end);
    return done ? Seconds(start, end) : -1.0;
}

int TimeUnpack(const std::wstring& zip)
{
    // In the order bare, launcher, launcher, bare: a drift of the machine
    // (writeback of the runs before) falls on both alike.
    const double bare1 = TimeBareTar(zip);
    const double unpack1 = TimeFirstInstall(zip);
    const double unpack2 = TimeFirstInstall(zip);
    double bare2 = TimeBareTar(zip);
    // The road's suite is installed again for the runs that follow.
    RemoveFolder(BareFolder());
    if (!UnpackArchive(zip)) {
        bare2 = -1.0;
    }
    RemoveInstallLeftovers();  // as the launcher does once the suite runs
    if (bare1 < 0 || unpack1 < 0 || unpack2 < 0 || bare2 < 0) {
        (void)std::fwprintf(stderr, L"copyout_timer: unpacking %ls failed\n", zip.c_str());
        return 1;
    }
    (void)std::printf("bare_seconds=%.4f unpack_seconds=%.4f\n", (bare1 + bare2) / 2, (unpack1 + unpack2) / 2);
    return 0;
}

// One reinstall over the installed suite; its seconds, or negative on failure.
double TimeReinstall(const std::wstring& zip, LARGE_INTEGER& end)
{
    LARGE_INTEGER start = {};
    QueryPerformanceCounter(&start);
    const bool done = UnpackArchive(zip);
    QueryPerformanceCounter(&end);
    return done ? Seconds(start, end) : -1.0;
}

int TimeReinstalls(const std::wstring& zip, unsigned long files)
{
    ClearBothRuns();
    RemoveInstallLeftovers();
    LARGE_INTEGER end = {};
    if (!UnpackArchive(zip) || TimeReinstall(zip, end) < 0) {
        return 1;
    }
    RemoveInstallLeftovers();
    const double bare = TimeReinstall(zip, end);
    RemoveInstallLeftovers();
    const std::wstring userFolder = InstallDir() + L"\\user";
    CreateDirectoryW(userFolder.c_str(), nullptr);
    for (unsigned long i = 0; i < files; ++i) {
        const std::wstring name = userFolder + L"\\file" + std::to_wstring(i) + L".txt";
        HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "user data", 9, &written, nullptr);
        CloseHandle(file);
    }
    const double reinstall = TimeReinstall(zip, end);
    LARGE_INTEGER removed = {};
    RemoveInstallLeftovers();
    QueryPerformanceCounter(&removed);
    const bool kept = PathFileExistsW((userFolder + L"\\file0.txt").c_str()) != FALSE;
    if (bare < 0 || reinstall < 0 || !kept) {
        (void)std::fwprintf(stderr, L"copyout_timer: a reinstall failed or lost the user's files\n");
        return 1;
    }
    (void)std::printf("files=%lu bare_reinstall_seconds=%.4f reinstall_seconds=%.4f leftovers_seconds=%.4f\n", files,
                      bare, reinstall, Seconds(end, removed));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring(argv[1]) == L"reinstall") {
        return TimeReinstalls(argv[2], std::wcstoul(argv[3], nullptr, 10));
    }
    if (argc == 3 && std::wstring(argv[1]) == L"unpack") {
        return TimeUnpack(argv[2]);
    }
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
