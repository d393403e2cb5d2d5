#include "acquire/trailer.h"

#include <algorithm>

std::uint64_t AppendedArchiveLength(std::int64_t fileSize, const ArchiveTrailer& trailer)
{
    if (fileSize <= static_cast<std::int64_t>(TrailerSize)) {
        return 0;
    }
    if (!std::equal(TrailerMagic.begin(), TrailerMagic.end(), trailer.begin())) {
        return 0;
    }
    std::uint64_t length = 0;
    for (std::size_t i = TrailerSize; i > TrailerMagic.size(); --i) {
        length = (length << 8U) | trailer[i - 1];
    }
    const auto room = static_cast<std::uint64_t>(fileSize) - TrailerSize;
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
