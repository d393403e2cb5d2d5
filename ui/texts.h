// Every text the launcher shows. "\u2026" is the one-character ellipsis and
// the boxes break lines with single line feeds.
#pragma once

#include <string>

// Follows OwnPlace's display name directly; its leading blank separates them.
inline constexpr const wchar_t* InstallPromptBody =
    L" is part of Pivra Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, "
    L"with a Start menu shortcut for each of its places.";
inline constexpr const wchar_t* StatusDownloading = L"Downloading Pivra Suite All In One\u2026";
inline constexpr const wchar_t* StatusDownloadPercent = L"Downloading Pivra Suite All In One\u2026 %d%%";
inline constexpr const wchar_t* StatusDownloadMegabytes = L"Downloading Pivra Suite All In One\u2026 %llu MB";
inline constexpr const wchar_t* StatusInstalling = L"Installing Pivra Suite All In One\u2026";
inline constexpr const wchar_t* StatusShortcuts = L"Adding the Start menu shortcuts\u2026";
inline constexpr const wchar_t* FailDownload =
    L"Could not download Pivra Suite All In One. Check the internet connection and try again.";
inline constexpr const wchar_t* FailUnpack = L"Could not unpack Pivra Suite All In One.";

// OwnPlace's display name followed by InstallPromptBody.
std::wstring InstallPrompt();
// "\n\nYou can download Pivra Suite All In One from https://<host> instead."
std::wstring DownloadInsteadSuffix();
