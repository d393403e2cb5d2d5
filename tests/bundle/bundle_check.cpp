// bundle_check plain|signed <bundled.exe> <launcher.exe> <archive>
// Reads a bundled launcher as the launcher does (AppendedArchiveLength on
// the last 16 bytes), compares the archive region byte for byte, and checks
// that everything else is the input launcher, changed only where bundling
// may change it. Exit 0 when all holds; 1 with the first difference.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acquire/trailer.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool Load(const char* path, Bytes& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::uint32_t U32(const Bytes& bytes, std::uint64_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8U) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16U) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24U);
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "bundle_check: %s\n", why.c_str());
    return 1;
}

// True when a[from, to) equals b[from, to) outside the 4-byte fields listed.
bool SameExcept(const Bytes& a, const Bytes& b, std::uint64_t from, std::uint64_t to,
                const std::vector<std::uint64_t>& fields, std::uint64_t& at)
{
    for (std::uint64_t i = from; i < to; ++i) {
        bool skipped = false;
        for (const std::uint64_t field : fields) {
            skipped = skipped || (i >= field && i < field + 4);
        }
        if (!skipped && a[i] != b[i]) {
            at = i;
            return false;
        }
    }
    return true;
}

int Check(const std::string& mode, const Bytes& bundled, const Bytes& launcher, const Bytes& archive)
{
    const std::uint64_t size = bundled.size();
    if (size <= TrailerSize) {
        return Fail("the bundled file is too small");
    }
    ArchiveTrailer trailer = {};
    std::copy(bundled.end() - TrailerSize, bundled.end(), trailer.begin());
    const std::uint64_t length = AppendedArchiveLength(static_cast<std::int64_t>(size), trailer);
    if (length == 0) {
        return Fail("no valid trailer at the end of the file");
    }
    if (length != archive.size()) {
        return Fail("the trailer says " + std::to_string(length) + " bytes, the archive has " +
                    std::to_string(archive.size()));
    }
    const std::uint64_t start = size - TrailerSize - length;
    if (!std::equal(archive.begin(), archive.end(), bundled.begin() + static_cast<std::ptrdiff_t>(start))) {
        return Fail("the archive region differs from the archive");
    }

    // The fields bundling may touch, found the plain way.
    if (launcher.size() < 0x40) {
        return Fail("the launcher is too small to be a PE file");
    }
    const std::uint64_t optional = U32(launcher, 0x3C) + 24;
    const std::uint64_t checksum = optional + 64;
    const bool plus = launcher[optional] == 0x0B && launcher[optional + 1] == 0x02;
    const std::uint64_t securityEntry = optional + (plus ? 112U : 96U) + std::uint64_t{4} * 8U;
    std::uint64_t at = 0;

    if (mode == "plain") {
        if (start != launcher.size()) {
            return Fail("the archive starts at " + std::to_string(start) + ", not right after the launcher");
        }
        if (!SameExcept(bundled, launcher, 0, launcher.size(), {checksum}, at)) {
            return Fail("the launcher part differs at offset " + std::to_string(at));
        }
        std::printf("plain: archive of %llu bytes at offset %llu\n", static_cast<unsigned long long>(length),
                    static_cast<unsigned long long>(start));
        return 0;
    }
    if (mode != "signed") {
        return Fail("unknown mode " + mode);
    }
    const std::uint64_t table = U32(launcher, securityEntry);
    const std::uint64_t oldSize = U32(launcher, securityEntry + 4);
    if (oldSize == 0 || table + oldSize != launcher.size()) {
        return Fail("the input launcher is not signed with its certificate table last");
    }
    const std::uint64_t newSize = U32(bundled, securityEntry + 4);
    if (table + newSize != size) {
        return Fail("the certificate table does not reach the end of the file (size " + std::to_string(newSize) + ")");
    }
    if (newSize % 8 != 0) {
        return Fail("the certificate table's size " + std::to_string(newSize) + " is not a multiple of 8");
    }
    if (U32(bundled, table) != newSize) {
        return Fail("dwLength " + std::to_string(U32(bundled, table)) + " differs from the table's size " +
                    std::to_string(newSize));
    }
    if (!SameExcept(bundled, launcher, 0, table, {checksum, securityEntry + 4}, at) ||
        !SameExcept(bundled, launcher, table, table + oldSize, {table}, at)) {
        return Fail("the signed launcher part differs at offset " + std::to_string(at));
    }
    const std::uint64_t padding = start - launcher.size();
    if (start < launcher.size() || padding >= 8) {
        return Fail("the padding before the archive is " + std::to_string(padding) + " bytes");
    }
    for (std::uint64_t i = launcher.size(); i < start; ++i) {
        if (bundled[i] != 0) {
            return Fail("a padding byte is not zero at offset " + std::to_string(i));
        }
    }
    std::printf("signed: archive of %llu bytes at offset %llu, %llu bytes of padding, certificate table %llu bytes\n",
                static_cast<unsigned long long>(length), static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(padding), static_cast<unsigned long long>(newSize));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        return Fail("usage: bundle_check plain|signed <bundled.exe> <launcher.exe> <archive>");
    }
    Bytes bundled;
    Bytes launcher;
    Bytes archive;
    if (!Load(argv[2], bundled) || !Load(argv[3], launcher) || !Load(argv[4], archive)) {
        return Fail("cannot read the files");
    }
    return Check(argv[1], bundled, launcher, archive);
}
