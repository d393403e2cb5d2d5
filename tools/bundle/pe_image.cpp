#include "pe_image.h"

namespace {

constexpr std::uint64_t DosHeaderSize = 0x40;
constexpr std::uint64_t NewHeaderPointer = 0x3C;  // e_lfanew
constexpr std::uint64_t CoffHeaderSize = 20;
constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::uint64_t ChecksumField = 64;  // the same in PE32 and PE32+
constexpr std::uint32_t SecurityDirectoryIndex = 4;
constexpr std::uint64_t DataDirectorySize = 8;

}  // namespace

std::uint16_t ReadU16(const std::vector<unsigned char>& bytes, std::uint64_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8U));
}

std::uint32_t ReadU32(const std::vector<unsigned char>& bytes, std::uint64_t offset)
{
    std::uint32_t value = 0;
    for (std::uint64_t i = 4; i > 0; --i) {
        value = (value << 8U) | bytes[offset + i - 1];
    }
    return value;
}

void WriteU32(std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint32_t value)
{
    for (std::uint64_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<unsigned char>(value & 0xFFU);
        value >>= 8U;
    }
}

bool ReadPeImage(const std::vector<unsigned char>& image, PeImage& pe, std::string& why)
{
    pe = PeImage{};
    const std::uint64_t size = image.size();
    if (size < DosHeaderSize || image[0] != 'M' || image[1] != 'Z') {
        why = "no MZ header";
        return false;
    }
    const std::uint64_t peHeader = ReadU32(image, NewHeaderPointer);
    if (peHeader + 4 + CoffHeaderSize > size) {
        why = "the PE header lies past the end of the file";
        return false;
    }
    if (image[peHeader] != 'P' || image[peHeader + 1] != 'E' || image[peHeader + 2] != 0 || image[peHeader + 3] != 0) {
        why = "no PE signature";
        return false;
    }
    const std::uint64_t optionalSize = ReadU16(image, peHeader + 4 + 16);
    const std::uint64_t optional = peHeader + 4 + CoffHeaderSize;
    if (optionalSize < 2 || optional + optionalSize > size) {
        why = "the optional header is cut short";
        return false;
    }
    const std::uint16_t magic = ReadU16(image, optional);
    std::uint64_t countField = 0;
    if (magic == Pe32Magic) {
        countField = 92;
    } else if (magic == Pe32PlusMagic) {
        countField = 108;
    } else {
        why = "unknown optional header magic";
        return false;
    }
    if (optionalSize < countField + 4) {
        why = "the optional header is cut short";
        return false;
    }
    pe.checksumOffset = optional + ChecksumField;
    pe.checksum = ReadU32(image, pe.checksumOffset);
    const std::uint32_t directoryCount = ReadU32(image, optional + countField);
    const std::uint64_t entry = optional + countField + 4 + SecurityDirectoryIndex * DataDirectorySize;
    if (directoryCount > SecurityDirectoryIndex && entry + DataDirectorySize <= optional + optionalSize) {
        pe.hasSecurityEntry = true;
        pe.securityEntryOffset = entry;
        pe.certTableOffset = ReadU32(image, entry);
        pe.certTableSize = ReadU32(image, entry + 4);
    }
    return true;
}

void PeChecksum::Add(const unsigned char* data, std::size_t size)
{
    std::size_t i = 0;
    if (odd_ && size > 0) {
        sum_ += std::uint64_t{data[0]} << 8U;
        i = 1;
        odd_ = false;
    }
    for (; i + 1 < size; i += 2) {
        sum_ += data[i] | (std::uint64_t{data[i + 1]} << 8U);
    }
    if (i < size) {
        sum_ += data[i];
        odd_ = true;
    }
    length_ += size;
}

std::uint32_t PeChecksum::Value() const
{
    std::uint64_t folded = sum_;
    while ((folded >> 16U) != 0) {
        folded = (folded & 0xFFFFU) + (folded >> 16U);
    }
    return static_cast<std::uint32_t>(folded + length_);
}
