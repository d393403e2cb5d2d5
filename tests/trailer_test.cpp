#include "acquire/trailer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

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
        std::int64_t trailerEnd;
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
        EXPECT_EQ(AppendedArchiveLength(row.trailerEnd, row.trailer), row.expected) << row.what;
    }
}

// The first bytes of a PE file: "MZ", e_lfanew, "PE\0\0", the COFF header
// and the optional header with its data directories, the certificate
// table's entry set as given.
struct PeFields {
    std::uint32_t peHeader = 0x80;
    std::uint16_t magic = 0x20B;  // PE32+; 0x10B is PE32
    std::uint32_t directoryCount = 16;
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    std::uint16_t optionalSize = 0;  // 0: the standard size for the magic
    const char* signature = "PE";
};

void Put(std::vector<unsigned char>& bytes, std::size_t offset, std::uint64_t value, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::vector<unsigned char> PeHeader(const PeFields& fields)
{
    // Room for the headers where the pointer puts them, within reason.
    const std::size_t room = fields.peHeader < 0x10000 ? fields.peHeader + 0x200 : 0;
    std::vector<unsigned char> bytes(std::max<std::size_t>(0x400, room), 0xCC);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put(bytes, 0x3C, fields.peHeader, 4);
    const std::size_t pe = fields.peHeader;
    if (pe + 0x200 > bytes.size()) {
        return bytes;  // a pointer that points outside: nothing more to write
    }
    std::memcpy(bytes.data() + pe, fields.signature, 2);
    Put(bytes, pe + 2, 0, 2);
    const bool plus = fields.magic == 0x20B;
    const std::uint16_t optionalSize =
        fields.optionalSize != 0 ? fields.optionalSize : static_cast<std::uint16_t>(plus ? 240 : 224);
    Put(bytes, pe + 4 + 16, optionalSize, 2);
    const std::size_t optional = pe + 24;
    Put(bytes, optional, fields.magic, 2);
    const std::size_t countField = plus ? 108 : 92;
    Put(bytes, optional + countField, fields.directoryCount, 4);
    Put(bytes, optional + countField + 4 + std::size_t{4} * 8, fields.tableOffset, 4);
    Put(bytes, optional + countField + 4 + std::size_t{4} * 8 + 4, fields.tableSize, 4);
    return bytes;
}

TEST(Trailer, EndsAtTheFileOrBeforeALastCertificateTable)
{
    const auto with = [](auto change) {
        PeFields fields;
        change(fields);
        return PeHeader(fields);
    };
    const auto table = [&](std::uint32_t offset, std::uint32_t size) {
        return with([=](PeFields& f) {
            f.tableOffset = offset;
            f.tableSize = size;
        });
    };
    struct Row {
        const char* what;
        std::int64_t fileSize;
        std::vector<unsigned char> header;
        std::int64_t expected;
    };
    const std::vector<unsigned char> notPe(0x400, 'P');
    const std::vector<unsigned char> zipAtStart = {'P', 'K', 3, 4, 0, 0};
    const Row rows[] = {
        {"unsigned PE32+", 100000, table(0, 0), 100000},
        {"unsigned PE32", 100000, with([](PeFields& f) { f.magic = 0x10B; }), 100000},
        {"signed, table last", 100000, table(98000, 2000), 98000},
        {"signed PE32, table last", 100000, with([](PeFields& f) {
             f.magic = 0x10B;
             f.tableOffset = 98000;
             f.tableSize = 2000;
         }),
         98000},
        {"table in a file over 4 GiB", 0x100000008LL, table(0xFFFFFFF0U, 0x18), 0xFFFFFFF0LL},
        {"no PE file: the end", 5000, notPe, 5000},
        {"an archive from offset 0", 5000, zipAtStart, 5000},
        {"no room for a security entry (4 directories)", 100000, with([](PeFields& f) {
             f.directoryCount = 4;
             f.tableOffset = 1;  // beyond the count: not read
         }),
         100000},
        {"bytes after the table", 100001, table(98000, 2000), 0},
        {"table past the end", 99999, table(98000, 2000), 0},
        {"table's end wraps around 32 bits onto the size", 0x1000, table(0xFFFFFF00U, 0x1100), 0},
        {"table within the headers", 0x200 + 2000, table(0x100, 0x100 + 2000), 0},
        {"table of fewer than 8 bytes", 98004, table(98000, 4), 0},
        {"table size without offset", 2000, table(0, 2000), 0},
        {"table offset without size", 98000, table(98000, 0), 0},
        {"the count names an entry the optional header lacks", 100000, with([](PeFields& f) {
             f.optionalSize = 140;
             f.tableOffset = 98000;
             f.tableSize = 2000;
         }),
         0},
        {"optional header shorter than its count field", 100000, with([](PeFields& f) { f.optionalSize = 100; }), 0},
        {"unknown optional header magic", 100000, with([](PeFields& f) { f.magic = 0x107; }), 0},
        {"no PE signature", 100000, with([](PeFields& f) { f.signature = "NE"; }), 0},
        {"PE header beyond the first 4096 bytes, all of them given", 100000, with([](PeFields& f) {
             f.peHeader = 0x1000;
             f.tableOffset = 98000;
             f.tableSize = 2000;
         }),
         0},
        {"PE header pointer wraps", 100000, with([](PeFields& f) { f.peHeader = 0xFFFFFFF0U; }), 0},
        {"MZ and no DOS header", 10, {'M', 'Z', 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"empty file", 0, {}, 0},
        {"negative size", -1, table(0, 0), 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TrailerEnd(row.fileSize, row.header.data(), row.header.size()), row.expected) << row.what;
    }
    // Headers cut short by the file's end.
    const std::vector<unsigned char> signedHeader = table(98000, 2000);
    for (const std::size_t known : {std::size_t{0x3F}, std::size_t{0x80 + 23}, std::size_t{0x80 + 24 + 239}}) {
        EXPECT_EQ(TrailerEnd(100000, signedHeader.data(), known), 0) << known << " bytes";
        EXPECT_EQ(TrailerEnd(static_cast<std::int64_t>(known), signedHeader.data(), signedHeader.size()), 0)
            << "a file of " << known << " bytes";
    }
}

}  // namespace
