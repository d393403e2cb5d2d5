// bundle_check plain|signed <bundled.exe> <launcher.exe> <archive>
// Reads a bundled launcher as the launcher does (TrailerEnd on its headers,
// then AppendedArchiveLength on the trailer there), compares the archive
// region byte for byte, and checks that everything before it is the input
// launcher, changed only where bundling or signing may change it, and then
// fewer than 8 zeros. plain: the trailer ends the file, on an 8-byte
// boundary; signed: a certificate table follows the trailer right away.
// Exit 0 when all holds; 1 with the first difference.
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
    if (mode != "plain" && mode != "signed") {
        return Fail("unknown mode " + mode);
    }
    const auto size = static_cast<std::int64_t>(bundled.size());
    const std::int64_t end = TrailerEnd(size, bundled.data(), bundled.size());
    if (end <= static_cast<std::int64_t>(TrailerSize)) {
        return Fail("the headers name no place for a trailer");
    }
    if (mode == "plain" && (end != size || size % 8 != 0)) {
        return Fail("the trailer ends at " + std::to_string(end) + " of " + std::to_string(size) +
                    " bytes; expected the end, on an 8-byte boundary");
    }
    if (mode == "signed" && end == size) {
        return Fail("the file names no certificate table");
    }
    ArchiveTrailer trailer = {};
    std::copy(bundled.begin() + (end - static_cast<std::int64_t>(TrailerSize)), bundled.begin() + end, trailer.begin());
    const std::uint64_t length = AppendedArchiveLength(end, trailer);
    if (length == 0) {
        return Fail("no valid trailer at offset " + std::to_string(end - static_cast<std::int64_t>(TrailerSize)));
    }
    if (length != archive.size()) {
        return Fail("the trailer says " + std::to_string(length) + " bytes, the archive has " +
                    std::to_string(archive.size()));
    }
    const std::uint64_t start = static_cast<std::uint64_t>(end) - TrailerSize - length;
    if (!std::equal(archive.begin(), archive.end(), bundled.begin() + static_cast<std::ptrdiff_t>(start))) {
        return Fail("the archive region differs from the archive");
    }

    // The fields bundling and signing may touch, found the plain way.
    if (launcher.size() < 0x40 || start < launcher.size()) {
        return Fail("the archive starts at " + std::to_string(start) + ", inside the launcher");
    }
    const std::uint64_t optional = U32(launcher, 0x3C) + 24;
    const std::uint64_t checksum = optional + 64;
    const bool plus = launcher[optional] == 0x0B && launcher[optional + 1] == 0x02;
    const std::uint64_t securityEntry = optional + (plus ? 112U : 96U) + std::uint64_t{4} * 8U;
    std::vector<std::uint64_t> touched = {checksum};
    if (mode == "signed") {
        touched.push_back(securityEntry);
        touched.push_back(securityEntry + 4);
    }
    std::uint64_t at = 0;
    if (!SameExcept(bundled, launcher, 0, launcher.size(), touched, at)) {
        return Fail("the launcher part differs at offset " + std::to_string(at));
    }
    const std::uint64_t padding = start - launcher.size();
    if (padding >= 8) {
        return Fail("the padding before the archive is " + std::to_string(padding) + " bytes");
    }
    for (std::uint64_t i = launcher.size(); i < start; ++i) {
        if (bundled[i] != 0) {
            return Fail("a padding byte is not zero at offset " + std::to_string(i));
        }
    }
    std::printf(
        "%s: archive of %llu bytes at offset %llu after %llu bytes of padding, trailer ending at %lld of %lld\n",
        mode.c_str(), static_cast<unsigned long long>(length), static_cast<unsigned long long>(start),
        static_cast<unsigned long long>(padding), static_cast<long long>(end), static_cast<long long>(size));
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
