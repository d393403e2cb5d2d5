#include "command_parse.h"

namespace {

bool IsSingleQuote(wchar_t c)
{
    return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

// Reads a single-quoted string at text[position]; false when it is none.
bool ReadQuoted(const std::wstring& text, std::size_t& position, std::wstring& value)
{
    if (position >= text.size() || !IsSingleQuote(text[position])) {
        return false;
    }
    value.clear();
    for (std::size_t i = position + 1; i < text.size(); ++i) {
        if (!IsSingleQuote(text[i])) {
            value += text[i];
            continue;
        }
        if (i + 1 < text.size() && IsSingleQuote(text[i + 1])) {
            value += text[i];
            ++i;
            continue;
        }
        position = i + 1;
        return true;
    }
    return false;  // unterminated
}

bool ReadWord(const std::wstring& text, std::size_t& position, const wchar_t* word)
{
    const std::wstring expected = word;
    if (text.compare(position, expected.size(), expected) != 0) {
        return false;
    }
    position += expected.size();
    return true;
}

void SkipBlanks(const std::wstring& text, std::size_t& position)
{
    while (position < text.size() && text[position] == L' ') {
        ++position;
    }
}

}  // namespace

UnpackRequest ParseTarArguments(const std::vector<std::wstring>& arguments)
{
    UnpackRequest request;
    if (arguments.size() == 4 && arguments[0] == L"-xf" && arguments[2] == L"-C" && !arguments[1].empty() &&
        !arguments[3].empty()) {
        request = {true, arguments[1], arguments[3]};
    }
    return request;
}

UnpackRequest ParseExpandArchiveCommand(const std::wstring& command)
{
    UnpackRequest request;
    std::size_t at = 0;
    SkipBlanks(command, at);
    if (!ReadWord(command, at, L"Expand-Archive -Force -LiteralPath ") || !ReadQuoted(command, at, request.archive) ||
        !ReadWord(command, at, L" -DestinationPath ") || !ReadQuoted(command, at, request.destination)) {
        return {};
    }
    SkipBlanks(command, at);
    request.valid = at == command.size() && !request.archive.empty() && !request.destination.empty();
    return request;
}

UnpackRequest ParsePowerShellArguments(const std::vector<std::wstring>& arguments)
{
    if (arguments.size() != 5 || arguments[0] != L"-NoProfile" || arguments[1] != L"-ExecutionPolicy" ||
        arguments[2] != L"Bypass" || arguments[3] != L"-Command") {
        return {};
    }
    return ParseExpandArchiveCommand(arguments[4]);
}
