// pivra-bundle <launcher.exe> <suite.zip> <output.exe>: a launcher that
// installs the suite from the archive it carries, without a download.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

#include "bundle.h"

namespace {

constexpr std::string_view Usage =
    "usage: pivra-bundle <launcher.exe> <suite.zip> <output.exe>\n"
    "Writes output.exe: the launcher, then the archive and its trailer, ending on an\n"
    "8-byte boundary. Bundle the unsigned launcher, then sign output.exe (signtool,\n"
    "osslsigncode): the signature then covers the archive. Signed input is refused.\n";

int Run(const std::vector<std::filesystem::path>& arguments)
{
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << Usage;
        return 0;
    }
    if (arguments.size() != 3) {
        std::cerr << "pivra-bundle: expected 3 arguments, got " << arguments.size() << "\n" << Usage;
        return static_cast<int>(BundleResult::Usage);
    }
    const BundleOutcome outcome = BundleLauncher(arguments[0], arguments[1], arguments[2]);
    if (outcome.result != BundleResult::Done) {
        std::cerr << "pivra-bundle: " << outcome.message << "\n";
        return static_cast<int>(outcome.result);
    }
    std::cout << "pivra-bundle: " << outcome.archiveLength << " archive bytes appended after " << outcome.padding
              << " bytes of padding\n";
    return 0;
}

int Guarded(const std::vector<std::filesystem::path>& arguments)
{
    try {
        return Run(arguments);
    } catch (const std::exception& failure) {
        std::cerr << "pivra-bundle: " << failure.what() << "\n";
    }
    return static_cast<int>(BundleResult::Internal);
}

}  // namespace

// Wide arguments on Windows, so that any path can be named.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    std::vector<std::filesystem::path> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return Guarded(arguments);
}
