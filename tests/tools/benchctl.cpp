// Bench control inside the test prefix:
//   benchctl path install-dir|suite-exe|programs|start-menu|temp-archive
//   benchctl trust-ca <certificate.der>   adds a CA to LocalMachine\Root
//   benchctl make-shortcuts               the launcher's own CreateShortcuts()
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    if (argc == 2 && std::wstring(argv[1]) == L"make-shortcuts") {
        CreateShortcuts();
        return 0;
    }
    std::fwprintf(stderr, L"usage: benchctl path <which> | trust-ca <der> | make-shortcuts\n");
    return 2;
}
