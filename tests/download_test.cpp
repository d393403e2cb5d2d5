#include "acquire/download.h"

#include <gtest/gtest.h>

namespace {

TEST(DownloadProgress, PercentOrMegabytes)
{
    struct Row {
        std::uint64_t received;
        std::uint32_t contentLength;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {1000, 1'000'000, L"Downloading Pivra Suite All In One\u2026 0%"},  // first chunk under 1 %
        {262144, 1'000'000, L"Downloading Pivra Suite All In One\u2026 26%"},
        {1'000'000, 1'000'000, L"Downloading Pivra Suite All In One\u2026 100%"},
        {4'294'967'295ULL, 4'294'967'295U, L"Downloading Pivra Suite All In One\u2026 100%"},  // no overflow
        {1'048'575, 0, L"Downloading Pivra Suite All In One\u2026 0 MB"},
        {1'048'576, 0, L"Downloading Pivra Suite All In One\u2026 1 MB"},
        {250ULL << 20U, 0, L"Downloading Pivra Suite All In One\u2026 250 MB"},
        {(5ULL << 30U) + 1, 0, L"Downloading Pivra Suite All In One\u2026 5120 MB"},  // past 32-bit bytes
    };
    for (const Row& row : rows) {
        const int value = DownloadProgressValue(row.received, row.contentLength);
        EXPECT_EQ(DownloadProgressText(value, row.received), row.expected)
            << row.received << " of " << row.contentLength;
    }
}

TEST(DownloadProgress, AtMostOneValuePerWholePercent)
{
    // 100 MB in 256 KiB chunks: the values only rise, 0 to 100, so the
    // status line changes at most 101 times.
    const std::uint32_t length = 100U << 20U;
    int last = -1;
    int changes = 0;
    for (std::uint64_t received = DownloadBufferSize; received <= length; received += DownloadBufferSize) {
        const int value = DownloadProgressValue(received, length);
        EXPECT_GE(value, last);
        if (value != last) {
            ++changes;
            last = value;
        }
    }
    EXPECT_EQ(last, 100);
    EXPECT_LE(changes, 101);
}

}  // namespace
