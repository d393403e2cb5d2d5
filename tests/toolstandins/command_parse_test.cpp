#include "command_parse.h"

#include <gtest/gtest.h>

namespace {

TEST(StandinParse, ExpandArchiveReadsSingleQuotedPathsAsPowerShellDoes)
{
    struct Row {
        const wchar_t* command;
        bool valid;
        const wchar_t* archive;
        const wchar_t* destination;
    };
    const Row rows[] = {
        {L"Expand-Archive -Force -LiteralPath 'C:\\a b\\x.zip' -DestinationPath 'C:\\P'", true, L"C:\\a b\\x.zip",
         L"C:\\P"},
        {L"Expand-Archive -Force -LiteralPath 'C:\\O''Neil\\x.zip' -DestinationPath 'C:\\O''Neil'", true,
         L"C:\\O'Neil\\x.zip", L"C:\\O'Neil"},
        {L"Expand-Archive -Force -LiteralPath 'a\u2019\u2019b' -DestinationPath '\u201A\u201A'", true, L"a\u2019b",
         L"\u201A"},
        // An apostrophe left undoubled ends the string: the rest would run as code.
        {L"Expand-Archive -Force -LiteralPath 'C:\\O'Neil\\x.zip' -DestinationPath 'C:\\P'", false, L"", L""},
        {L"Expand-Archive -Force -LiteralPath 'C:\\x.zip' -DestinationPath 'C:\\O\u2019Neil'", false, L"", L""},
        {L"Expand-Archive -Force -LiteralPath 'C:\\x.zip' -DestinationPath 'C:\\P'; Remove-Item x", false, L"", L""},
        {L"Expand-Archive -LiteralPath 'C:\\x.zip' -DestinationPath 'C:\\P'", false, L"", L""},
        {L"Expand-Archive -Force -LiteralPath 'C:\\x.zip' -DestinationPath 'C:\\P", false, L"", L""},
        {L"Expand-Archive -Force -LiteralPath '' -DestinationPath 'C:\\P'", false, L"", L""},
    };
    for (const Row& row : rows) {
        const UnpackRequest request = ParseExpandArchiveCommand(row.command);
        EXPECT_EQ(request.valid, row.valid) << row.command;
        if (row.valid) {
            EXPECT_EQ(request.archive, row.archive) << row.command;
            EXPECT_EQ(request.destination, row.destination) << row.command;
        }
    }
}

TEST(StandinParse, TarTakesExactlyExtractFileAndDirectory)
{
    EXPECT_TRUE(ParseTarArguments({L"-xf", L"C:\\a.zip", L"-C", L"C:\\P"}).valid);
    EXPECT_EQ(ParseTarArguments({L"-xf", L"C:\\a.zip", L"-C", L"C:\\P"}).destination, L"C:\\P");
    EXPECT_FALSE(ParseTarArguments({L"-xf", L"C:\\a.zip"}).valid);
    EXPECT_FALSE(ParseTarArguments({L"-cf", L"C:\\a.zip", L"-C", L"C:\\P"}).valid);
    EXPECT_FALSE(ParseTarArguments({L"-xf", L"C:\\a.zip", L"-C", L"C:\\P", L"extra"}).valid);
}

TEST(StandinParse, PowerShellNeedsItsFixedOptions)
{
    const wchar_t* command = L"Expand-Archive -Force -LiteralPath 'a' -DestinationPath 'b'";
    EXPECT_TRUE(ParsePowerShellArguments({L"-NoProfile", L"-ExecutionPolicy", L"Bypass", L"-Command", command}).valid);
    EXPECT_FALSE(ParsePowerShellArguments({L"-ExecutionPolicy", L"Bypass", L"-Command", command}).valid);
}

}  // namespace
