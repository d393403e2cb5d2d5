// libFuzzer target for TrailerEnd and AppendedArchiveLength. Input: 8 bytes
// of file size (little-endian, signed), the 16 trailer bytes, then the
// file's first bytes (its headers; up to PeHeaderReadSize are used); shorter
// inputs are padded with zeros. Checks the results' ranges, agreement with a
// plain second reading of the rules, and the MakeTrailer round trip.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acquire/trailer.h"

namespace {

using Wide = unsigned __int128;

std::uint64_t Number(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    }
    return value;
}

// Where the trailer ends, as written: 128-bit arithmetic, every field read
// only once it is known to lie within the bytes given.
std::int64_t ExpectedEnd(std::int64_t fileSize, const unsigned char* header, std::size_t headerSize)
{
    if (fileSize <= 0) {
        return 0;
    }
    Wide known = headerSize < 4096 ? headerSize : 4096;
    if (known > static_cast<Wide>(fileSize)) {
        known = static_cast<Wide>(fileSize);
    }
    const auto at = [header](Wide offset) { return header + static_cast<std::size_t>(offset); };
    if (known < 2 || header[0] != 'M' || header[1] != 'Z') {
        return fileSize;
    }
    if (known < 64) {
        return 0;
    }
    const Wide pe = Number(at(60), 4);
    if (pe + 24 > known || std::memcmp(at(pe), "PE\0\0", 4) != 0) {
        return 0;
    }
    const Wide optional = pe + 24;
    const Wide optionalSize = Number(at(pe + 20), 2);
    if (optionalSize < 2 || optional + optionalSize > known) {
        return 0;
    }
    const std::uint64_t magic = Number(at(optional), 2);
    if (magic != 0x10B && magic != 0x20B) {
        return 0;
    }
    const Wide directories = optional + (magic == 0x20B ? 112 : 96);
    if (directories > optional + optionalSize) {
        return 0;
    }
    if (Number(at(directories - 4), 4) < 5) {
        return fileSize;
    }
    const Wide entry = directories + 4 * 8;
    if (entry + 8 > optional + optionalSize) {
        return 0;
    }
    const Wide offset = Number(at(entry), 4);
    const Wide size = Number(at(entry + 4), 4);
    if (offset == 0 && size == 0) {
        return fileSize;
    }
    if (size < 8 || offset < optional + optionalSize || offset + size != static_cast<Wide>(fileSize)) {
        return 0;
    }
    return static_cast<std::int64_t>(offset);
}

std::uint64_t ExpectedLength(std::int64_t trailerEnd, const ArchiveTrailer& trailer)
{
    if (trailerEnd <= 16) {
        return 0;
    }
    if (std::memcmp(trailer.data(), "PIVRAZIP", 8) != 0) {
        return 0;
    }
    const std::uint64_t length = Number(trailer.data() + 8, 8);
    if (length < 1 || static_cast<Wide>(length) + 16 > static_cast<Wide>(trailerEnd)) {
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
    const auto fileSize = static_cast<std::int64_t>(Number(input, 8));
    ArchiveTrailer trailer = {};
    std::memcpy(trailer.data(), input + 8, TrailerSize);
    // The headers in a buffer of their own exact size, so that ASan sees any
    // read past what the caller said it holds.
    const std::size_t headerSize = size > sizeof input ? size - sizeof input : 0;
    auto* header = static_cast<unsigned char*>(std::malloc(headerSize == 0 ? 1 : headerSize));
    if (headerSize != 0) {
        std::memcpy(header, data + sizeof input, headerSize);
    }

    const std::int64_t end = TrailerEnd(fileSize, header, headerSize);
    const std::int64_t expectedEnd = ExpectedEnd(fileSize, header, headerSize);
    std::free(header);
    if (end < 0 || end > (fileSize > 0 ? fileSize : 0)) {
        Violated("trailer end outside 0..S", fileSize, static_cast<std::uint64_t>(end),
                 static_cast<std::uint64_t>(expectedEnd));
    }
    if (end != expectedEnd) {
        Violated("trailer end disagrees with the rule", fileSize, static_cast<std::uint64_t>(end),
                 static_cast<std::uint64_t>(expectedEnd));
    }

    const std::uint64_t got = AppendedArchiveLength(end, trailer);
    const std::uint64_t expected = ExpectedLength(end, trailer);
    if (got != 0 && (end <= 16 || got > static_cast<std::uint64_t>(end) - 16)) {
        Violated("archive outside 0..end-16", fileSize, got, expected);
    }
    if (got != expected) {
        Violated("length disagrees with the rule", fileSize, got, expected);
    }
    if (got != 0) {
        // A valid trailer is exactly what MakeTrailer writes for its length.
        const ArchiveTrailer remade = MakeTrailer(got);
        if (std::memcmp(remade.data(), trailer.data(), TrailerSize) != 0) {
            Violated("MakeTrailer(L) differs from the trailer", fileSize, got, expected);
        }
    }
    // MakeTrailer of any length reads back as that length when it fits.
    const std::uint64_t anyLength = Number(input + 16, 8);
    const std::uint64_t readBack = AppendedArchiveLength(fileSize, MakeTrailer(anyLength));
    const bool fits =
        fileSize > 16 && anyLength >= 1 && static_cast<Wide>(anyLength) + 16 <= static_cast<Wide>(fileSize);
    const std::uint64_t wanted = fits ? anyLength : 0;
    if (readBack != wanted) {
        Violated("MakeTrailer round trip", fileSize, readBack, wanted);
    }
    return 0;
}
