// How the stand-ins read their command lines: tar's "-xf <a> -C <d>" and
// PowerShell's one Expand-Archive command with single-quoted paths.
#pragma once

#include <string>
#include <vector>

struct UnpackRequest {
    bool valid = false;
    std::wstring archive;
    std::wstring destination;
};

// argv after the program name, as CommandLineToArgvW splits it.
UnpackRequest ParseTarArguments(const std::vector<std::wstring>& arguments);

// The -Command text: exactly
//   Expand-Archive -Force -LiteralPath '<a>' -DestinationPath '<d>'
// where a doubled quote character (any of PowerShell's five single quotes)
// stands for one, and any other quote ends the string. Anything left over is
// what PowerShell would run as code: then the request is not valid.
UnpackRequest ParseExpandArchiveCommand(const std::wstring& command);

// argv after the program name of a powershell.exe run.
UnpackRequest ParsePowerShellArguments(const std::vector<std::wstring>& arguments);
