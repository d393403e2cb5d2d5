#include "acquire/trailer.h"

#include <algorithm>

namespace {

constexpr std::uint64_t DosHeaderSize = 0x40;
constexpr std::uint64_t NewHeaderPointer = 0x3C;  // e_lfanew
constexpr std::uint64_t CoffHeaderSize = 20;
constexpr std::uint64_t OptionalSizeField = 16;  // within the COFF header
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::uint64_t Pe32CountField = 92;  // NumberOfRvaAndSizes
constexpr std::uint64_t Pe32PlusCountField = 108;
constexpr std::uint32_t SecurityDirectoryIndex = 4;
constexpr std::uint64_t DataDirectorySize = 8;
constexpr std::uint64_t WinCertificateHeaderSize = 8;

std::uint64_t ReadLittleEndian(const unsigned char* bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = count; i > 0; --i) {
        value = (value << 8U) | bytes[i - 1];
    }
    return value;
}

}  // namespace

std::int64_t TrailerEnd(std::int64_t fileSize, const unsigned char* header, std::size_t headerSize)
{
    if (fileSize <= 0) {
        return 0;
    }
    const auto size = static_cast<std::uint64_t>(fileSize);
    // Headers beyond the first PeHeaderReadSize bytes count as cut short,
    // however much the caller holds, so that every reader agrees.
    const std::uint64_t known = std::min({std::uint64_t{headerSize}, std::uint64_t{PeHeaderReadSize}, size});
    // Only a PE file can be signed; anything else ends in its trailer.
    if (known < 2 || header[0] != 'M' || header[1] != 'Z') {
        return fileSize;
    }
    if (known < DosHeaderSize) {
        return 0;
    }
    // 32-bit numbers in 64-bit sums: nothing below can wrap.
    const std::uint64_t peHeader = ReadLittleEndian(header + NewHeaderPointer, 4);
    const std::uint64_t optional = peHeader + 4 + CoffHeaderSize;
    if (optional > known || !std::equal(header + peHeader, header + peHeader + 4, "PE\0\0")) {
        return 0;
    }
    const std::uint64_t optionalSize = ReadLittleEndian(header + peHeader + 4 + OptionalSizeField, 2);
    if (optionalSize < 2 || optional + optionalSize > known) {
        return 0;
    }
    const std::uint64_t magic = ReadLittleEndian(header + optional, 2);
    std::uint64_t countField = 0;
    if (magic == Pe32Magic) {
        countField = Pe32CountField;
    } else if (magic == Pe32PlusMagic) {
        countField = Pe32PlusCountField;
    } else {
        return 0;
    }
    if (countField + 4 > optionalSize) {
        return 0;
    }
    if (ReadLittleEndian(header + optional + countField, 4) <= SecurityDirectoryIndex) {
        return fileSize;  // no room for a certificate table: unsigned
    }
    const std::uint64_t entry = countField + 4 + SecurityDirectoryIndex * DataDirectorySize;
    if (entry + DataDirectorySize > optionalSize) {
        return 0;
    }
    const std::uint64_t tableOffset = ReadLittleEndian(header + optional + entry, 4);
    const std::uint64_t tableSize = ReadLittleEndian(header + optional + entry + 4, 4);
    if (tableOffset == 0 && tableSize == 0) {
        return fileSize;
    }
    // Bytes after the table, or a table within the headers, are outside what
    // the signature covers or what a signing tool writes.
    if (tableSize < WinCertificateHeaderSize || tableOffset < optional + optionalSize ||
        tableOffset + tableSize != size) {
        return 0;
    }
    return static_cast<std::int64_t>(tableOffset);
}

std::uint64_t AppendedArchiveLength(std::int64_t trailerEnd, const ArchiveTrailer& trailer)
{
    if (trailerEnd <= static_cast<std::int64_t>(TrailerSize)) {
        return 0;
    }
    if (!std::equal(TrailerMagic.begin(), TrailerMagic.end(), trailer.begin())) {
        return 0;
    }
    const std::uint64_t length = ReadLittleEndian(trailer.data() + TrailerMagic.size(), 8);
    const auto room = static_cast<std::uint64_t>(trailerEnd) - TrailerSize;
    if (length == 0 || length > room) {
        return 0;
    }
    return length;
}

ArchiveTrailer MakeTrailer(std::uint64_t archiveLength)
{
    ArchiveTrailer trailer = {};
    std::copy(TrailerMagic.begin(), TrailerMagic.end(), trailer.begin());
    for (std::size_t i = TrailerMagic.size(); i < TrailerSize; ++i) {
        trailer[i] = static_cast<unsigned char>(archiveLength & 0xFFU);
        archiveLength >>= 8U;
    }
    return trailer;
}
