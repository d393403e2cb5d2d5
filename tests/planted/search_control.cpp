// The planted-DLL tests' control: a program that trusts the default DLL
// search, as the launcher must not. Run from the planted folder, it loads
// each DLL named on its command line, so the planted copies must leave their
// markers; if they don't, the test set-up could not see a planting at all.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const HMODULE module = LoadLibraryW(argv[i]);
        wchar_t path[MAX_PATH] = {};
        if (module != nullptr) {
            GetModuleFileNameW(module, path, MAX_PATH);
        } else {
            ++failures;
        }
        std::wprintf(L"%ls\t%ls\n", argv[i], module != nullptr ? path : L"(not loaded)");
    }
    return failures;
}
