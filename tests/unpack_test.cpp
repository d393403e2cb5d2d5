#include "install/unpack.h"

#include <gtest/gtest.h>

namespace {

TEST(Unpack, TarCommandLineQuotesEveryPath)
{
    EXPECT_EQ(
        TarCommandLine(LR"(C:\windows\system32\tar.exe)", LR"(C:\Users\Zoë O'Neil\Temp\PivraSuite-Windows.zip)",
                       LR"(C:\Users\Zoë O'Neil\AppData\Local\Programs)"),
        LR"("C:\windows\system32\tar.exe" -xf "C:\Users\Zoë O'Neil\Temp\PivraSuite-Windows.zip" -C "C:\Users\Zoë O'Neil\AppData\Local\Programs")");
}

TEST(Unpack, PowerShellCommandLine)
{
    EXPECT_EQ(
        PowerShellCommandLine(LR"(C:\T\a.zip)", LR"(C:\Program Files\P)"),
        LR"(powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "Expand-Archive -Force -LiteralPath 'C:\T\a.zip' -DestinationPath 'C:\Program Files\P'")");
    EXPECT_EQ(
        PowerShellCommandLine(LR"(C:\Users\O'Neil\a.zip)", LR"(C:\Users\O'Neil\P)"),
        LR"(powershell.exe -NoProfile -ExecutionPolicy Bypass -Command "Expand-Archive -Force -LiteralPath 'C:\Users\O''Neil\a.zip' -DestinationPath 'C:\Users\O''Neil\P'")");
}

TEST(Unpack, EveryPowerShellSingleQuoteIsDoubled)
{
    struct Row {
        const wchar_t* text;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {L"plain", L"plain"},
        {L"O'Neil", L"O''Neil"},
        {L"'", L"''"},
        {L"''", L"''''"},
        {L"a\u2018b\u2019c\u201Ad\u201Be", L"a\u2018\u2018b\u2019\u2019c\u201A\u201Ad\u201B\u201Be"},
        {L"Zo\u00eb \"x\" `y` $z", L"Zo\u00eb \"x\" `y` $z"},  // not quotes inside '...'
        {L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(EscapeForSingleQuotes(row.text), row.expected) << row.text;
    }
}

}  // namespace
