// Reads the few PE header fields that bundling looks at: the checksum and the
// certificate table (Authenticode). Portable: no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeImage {
    std::uint64_t checksumOffset = 0;       // of OptionalHeader.CheckSum
    std::uint32_t checksum = 0;             // its value in the file
    bool hasSecurityEntry = false;          // the data directory has room for it
    std::uint64_t securityEntryOffset = 0;  // of the IMAGE_DATA_DIRECTORY (VirtualAddress, Size)
    std::uint32_t certTableOffset = 0;      // a file offset, not an RVA
    std::uint32_t certTableSize = 0;        // 0: not signed
};

// The fields of a PE file held in image; false with why set when it is not a
// PE file (no MZ header, no PE signature, an unknown optional header).
bool ReadPeImage(const std::vector<unsigned char>& image, PeImage& pe, std::string& why);

// The PE checksum (as imagehlp's CheckSumMappedFile computes it): 16-bit
// words summed with end-around carry, plus the file length. Fed in pieces;
// the caller feeds the CheckSum field itself as zeros.
class PeChecksum {
public:
    void Add(const unsigned char* data, std::size_t size);
    [[nodiscard]] std::uint32_t Value() const;

private:
    std::uint64_t sum_ = 0;
    std::uint64_t length_ = 0;
    bool odd_ = false;  // the next byte is the high half of a word
};

std::uint16_t ReadU16(const std::vector<unsigned char>& bytes, std::uint64_t offset);
std::uint32_t ReadU32(const std::vector<unsigned char>& bytes, std::uint64_t offset);
void WriteU32(std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint32_t value);
