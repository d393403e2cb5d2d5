// The 16 bytes that end an appended archive: "PIVRAZIP", then the archive's
// length as a little-endian unsigned 64-bit number. They stand at the end of
// the launcher's file, or, once the file is signed, right before its
// certificate table, so that the signature covers the archive.
// No Windows headers here: the bundling tool and the fuzzer use it too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t TrailerSize = 16;
inline constexpr std::array<unsigned char, 8> TrailerMagic = {'P', 'I', 'V', 'R', 'A', 'Z', 'I', 'P'};
// How much of the file's start the PE headers must lie in.
inline constexpr std::size_t PeHeaderReadSize = 4096;

using ArchiveTrailer = std::array<unsigned char, TrailerSize>;

// Where the trailer of a file of fileSize bytes ends, read from the file's
// first headerSize bytes (of which the first PeHeaderReadSize are used):
// fileSize when the file is no PE file (no "MZ") or its PE header names no
// certificate table; the table's offset when the table is the last thing in
// the file. 0 when the file can carry no archive: a size of 0 or less, or any
// header number that does not fit the file (a table that is not last, one
// that overlaps the headers, headers cut short or beyond headerSize).
std::int64_t TrailerEnd(std::int64_t fileSize, const unsigned char* header, std::size_t headerSize);

// The archive length L when the trailer that ends at trailerEnd carries an
// archive (trailerEnd > 16, exact magic, 1 <= L <= trailerEnd - 16); 0 when
// it carries none. The archive's bytes are the L before the trailer.
std::uint64_t AppendedArchiveLength(std::int64_t trailerEnd, const ArchiveTrailer& trailer);

// The trailer for an archive of the given length.
ArchiveTrailer MakeTrailer(std::uint64_t archiveLength);
