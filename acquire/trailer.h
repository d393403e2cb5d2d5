// The 16 bytes that end a launcher carrying an appended archive: "PIVRAZIP",
// then the archive's length as a little-endian unsigned 64-bit number.
// No Windows headers here: the bundling tool and the fuzzer use it too.
#pragma once

#include <array>
#include <cstdint>

inline constexpr std::size_t TrailerSize = 16;
inline constexpr std::array<unsigned char, 8> TrailerMagic = {'P', 'I', 'V', 'R', 'A', 'Z', 'I', 'P'};

using ArchiveTrailer = std::array<unsigned char, TrailerSize>;

// The archive length L when a file of fileSize bytes that ends in trailer
// carries an archive (fileSize > 16, exact magic, 1 <= L <= fileSize - 16);
// 0 when it carries none.
std::uint64_t AppendedArchiveLength(std::int64_t fileSize, const ArchiveTrailer& trailer);

// The trailer for an archive of the given length.
ArchiveTrailer MakeTrailer(std::uint64_t archiveLength);
