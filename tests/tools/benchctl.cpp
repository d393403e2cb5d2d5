// Bench control inside the test prefix:
//   benchctl path install-dir|suite-exe|programs|start-menu|temp-archive
//   benchctl trust-ca <certificate.der>   adds a CA to LocalMachine\Root
//   benchctl make-shortcuts               the launcher's own CreateShortcuts()
//   benchctl download                     the launcher's own DownloadArchive(),
//                                         timed, with the process's peak memory
//   benchctl hold <folder> <ms>           plays a virus scanner: holds the
//                                         folder open, without delete sharing,
//                                         from the moment it appears, for ms
//                                         (0: until killed); exit 1 when it
//                                         never appeared within 90 s
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acquire/download.h"
#include "install/shortcuts.h"
#include "launcher/layout.h"

namespace {

int PrintPath(const std::wstring& which)
{
    std::wstring path;
    if (which == L"install-dir") {
        path = InstallDir();
    } else if (which == L"suite-exe") {
        path = SuiteExePath();
    } else if (which == L"programs") {
        path = UserProgramsFolder();
    } else if (which == L"start-menu") {
        path = KnownFolderPath(FOLDERID_Programs) + StartMenuFolderName;
    } else if (which == L"temp-archive") {
        path = TempArchivePath();
    } else {
        std::fwprintf(stderr, L"unknown path %ls\n", which.c_str());
        return 2;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());
    return path.empty() ? 1 : 0;
}

int TrustCa(const wchar_t* derPath)
{
    std::ifstream in(derPath, std::ios::binary);
    const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"cannot read %ls\n", derPath);
        return 1;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        std::fwprintf(stderr, L"cannot open the Root store: %lu\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (added == FALSE) {
        std::fwprintf(stderr, L"cannot add the certificate: %lu\n", error);
        return 1;
    }
    return 0;
}

int TimeDownload()
{
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const std::wstring path = DownloadArchive();
    QueryPerformanceCounter(&end);
    if (path.empty()) {
        std::fwprintf(stderr, L"the download failed\n");
        return 1;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    const unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32U) | data.nFileSizeLow;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("bytes=%llu seconds=%.3f peak_working_set_kib=%llu peak_private_kib=%llu\n", bytes, seconds,
                static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024U),
                static_cast<unsigned long long>(memory.PeakPagefileUsage / 1024U));
    DeleteFileW(path.c_str());
    return 0;
}

int HoldFolder(const wchar_t* folder, const wchar_t* milliseconds)
{
    const ULONGLONG deadline = GetTickCount64() + 90000;
    HANDLE held = INVALID_HANDLE_VALUE;
    while ((held = CreateFileW(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr)) == INVALID_HANDLE_VALUE) {
        if (GetTickCount64() > deadline) {
            return 1;
        }
        Sleep(1);
    }
    const unsigned long hold = std::wcstoul(milliseconds, nullptr, 10);
    Sleep(hold == 0 ? INFINITE : hold);
    CloseHandle(held);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (argc == 3 && std::wstring(argv[1]) == L"path") {
        return PrintPath(argv[2]);
    }
    if (argc == 3 && std::wstring(argv[1]) == L"trust-ca") {
        return TrustCa(argv[2]);
    }
    if (argc == 2 && std::wstring(argv[1]) == L"download") {
        return TimeDownload();
    }
    if (argc == 2 && std::wstring(argv[1]) == L"make-shortcuts") {
        CreateShortcuts();
        return 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"hold") {
        return HoldFolder(argv[2], argv[3]);
    }
    std::fwprintf(stderr,
                  L"usage: benchctl path <which> | trust-ca <der> | make-shortcuts | download | hold <folder> <ms>\n");
    return 2;
}
