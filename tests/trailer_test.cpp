#include "acquire/trailer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

ArchiveTrailer TrailerWith(const char* magic, std::uint64_t length)
{
    ArchiveTrailer trailer = MakeTrailer(length);
    std::memcpy(trailer.data(), magic, 8);
    return trailer;
}

TEST(Trailer, EncodesMagicThenLittleEndianLength)
{
    const ArchiveTrailer trailer = MakeTrailer(0x0102030405060708ULL);
    const unsigned char expected[16] = {'P', 'I', 'V', 'R', 'A', 'Z', 'I', 'P', 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(trailer.data(), expected, 16), 0);
}

TEST(Trailer, Validation)
{
    struct Row {
        const char* what;
        std::int64_t fileSize;
        ArchiveTrailer trailer;
        std::uint64_t expected;
    };
    const Row rows[] = {
        {"ordinary archive", 1000, MakeTrailer(600), 600},
        {"archive from offset 0", 1000, MakeTrailer(984), 984},
        {"one byte too long", 1000, MakeTrailer(985), 0},
        {"zero length", 1000, MakeTrailer(0), 0},
        {"one-byte archive", 17, MakeTrailer(1), 1},
        {"file of exactly the trailer", 16, MakeTrailer(1), 0},
        {"empty file", 0, MakeTrailer(1), 0},
        {"negative size", -1, MakeTrailer(1), 0},
        {"lower-case magic", 1000, TrailerWith("pivrazip", 10), 0},
        {"one letter off", 1000, TrailerWith("PIVRAZIQ", 10), 0},
        {"huge length", 1000, MakeTrailer(~0ULL), 0},
        {"length wraps with the trailer", 1000, MakeTrailer(~0ULL - 15), 0},
        {"large file", 5'000'000'000LL, MakeTrailer(4'999'999'984ULL), 4'999'999'984ULL},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AppendedArchiveLength(row.fileSize, row.trailer), row.expected) << row.what;
    }
}

}  // namespace
