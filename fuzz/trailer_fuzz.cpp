// libFuzzer target for AppendedArchiveLength. Input: 8 bytes of file size
// (little-endian, signed), then the 16 trailer bytes; shorter inputs are
// padded with zeros. Checks the result's range, agreement with a plain
// second reading of the rule, and the MakeTrailer round trip.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acquire/trailer.h"

namespace {

// The rule as written, in 128-bit arithmetic so that nothing can wrap.
std::uint64_t Expected(std::int64_t fileSize, const ArchiveTrailer& trailer)
{
    if (fileSize <= 16) {
        return 0;
    }
    if (std::memcmp(trailer.data(), "PIVRAZIP", 8) != 0) {
        return 0;
    }
    std::uint64_t length = 0;
    for (int i = 0; i < 8; ++i) {
        length |= static_cast<std::uint64_t>(trailer[8 + i]) << (8 * i);
    }
    if (length < 1 || static_cast<unsigned __int128>(length) + 16 > static_cast<unsigned __int128>(fileSize)) {
        return 0;
    }
    return length;
}

[[noreturn]] void Violated(const char* what, std::int64_t fileSize, std::uint64_t got, std::uint64_t expected)
{
    std::fprintf(stderr, "invariant violated: %s (size %lld, got %llu, expected %llu)\n", what,
                 static_cast<long long>(fileSize), static_cast<unsigned long long>(got),
                 static_cast<unsigned long long>(expected));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    unsigned char input[24] = {};
    std::memcpy(input, data, size < sizeof input ? size : sizeof input);
    std::uint64_t rawSize = 0;
    for (int i = 0; i < 8; ++i) {
        rawSize |= static_cast<std::uint64_t>(input[i]) << (8 * i);
    }
    const auto fileSize = static_cast<std::int64_t>(rawSize);
    ArchiveTrailer trailer = {};
    std::memcpy(trailer.data(), input + 8, TrailerSize);

    const std::uint64_t got = AppendedArchiveLength(fileSize, trailer);
    const std::uint64_t expected = Expected(fileSize, trailer);
    if (got != 0 && (fileSize <= 16 || got > static_cast<std::uint64_t>(fileSize) - 16)) {
        Violated("result outside 1..S-16", fileSize, got, expected);
    }
    if (got != expected) {
        Violated("disagrees with the rule", fileSize, got, expected);
    }
    if (got != 0) {
        // A valid trailer is exactly what MakeTrailer writes for its length.
        const ArchiveTrailer remade = MakeTrailer(got);
        if (std::memcmp(remade.data(), trailer.data(), TrailerSize) != 0) {
            Violated("MakeTrailer(L) differs from the trailer", fileSize, got, expected);
        }
    }
    // MakeTrailer of any length reads back as that length when it fits.
    std::uint64_t anyLength = 0;
    std::memcpy(&anyLength, input + 16, sizeof anyLength);
    const std::uint64_t readBack = AppendedArchiveLength(fileSize, MakeTrailer(anyLength));
    const bool fits = fileSize > 16 && anyLength >= 1 &&
                      static_cast<unsigned __int128>(anyLength) + 16 <= static_cast<unsigned __int128>(fileSize);
    const std::uint64_t wanted = fits ? anyLength : 0;
    if (readBack != wanted) {
        Violated("MakeTrailer round trip", fileSize, readBack, wanted);
    }
    return 0;
}
