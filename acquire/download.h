// Fetches the suite's archive with one HTTPS GET into the temp folder.
#pragma once

#include <cstdint>
#include <string>

inline constexpr unsigned long DownloadBufferSize = 262144;  // 256 KiB
inline constexpr std::size_t StatusTextCapacity = 160;
inline constexpr const wchar_t* UserAgent = L"PivraSuiteLauncher/1";

// TempArchivePath() when a 200 response's whole body arrived and was written
// in full: at least one byte, exactly the announced length when one was
// given, and no failed read. Empty otherwise. The file is created only after
// a 200; after a later failure its partial content stays in place.
std::wstring DownloadArchive();

// The value the status line shows after `received` bytes: the whole
// percentage when a length was announced, else -1 (the megabyte form).
int DownloadProgressValue(std::uint64_t received, std::uint32_t contentLength);
// The status text for that value.
std::wstring DownloadProgressText(int value, std::uint64_t received);
