#include "acquire/download.h"

#include <windows.h>
#include <winhttp.h>

#include <string_view>
#include <vector>

#include "launcher/handle.h"
#include "launcher/layout.h"
#include "ui/progress.h"
#include "ui/texts.h"

namespace {

DWORD QueryNumberHeader(HINTERNET request, DWORD query)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                        WINHTTP_NO_HEADER_INDEX);
    return value;
}

// Streams the body into file; true when it ended cleanly after at least one
// byte and, with a known length, exactly that many bytes arrived.
bool ReceiveBody(HINTERNET request, HANDLE file, std::uint32_t contentLength)
{
    std::vector<unsigned char> buffer(DownloadBufferSize);
    std::uint64_t received = 0;
    int lastShown = -1;
    bool first = true;
    for (;;) {
        DWORD delivered = 0;
        if (WinHttpReadData(request, buffer.data(), DownloadBufferSize, &delivered) == FALSE) {
            // A connection lost mid-body must not pass for a whole archive.
            return false;
        }
        if (delivered == 0) {
            break;
        }
        DWORD written = 0;
        const bool complete =
            WriteFile(file, buffer.data(), delivered, &written, nullptr) != FALSE && written == delivered;
        received += delivered;
        const int value = DownloadProgressValue(received, contentLength);
        // Percent form: once per whole step. Megabyte form: once per new MB.
        bool moved = false;
        if (value >= 0) {
            moved = value != lastShown;
        } else {
            moved = first || (received >> 20U) != ((received - delivered) >> 20U);
        }
        if (moved) {
            lastShown = value;
            SetStatus(DownloadProgressText(value, received).c_str());
        }
        first = false;
        if (!complete) {
            return false;
        }
    }
    if (received == 0) {
        return false;
    }
    return contentLength == 0 || received == contentLength;
}

}  // namespace

int DownloadProgressValue(std::uint64_t received, std::uint32_t contentLength)
{
    if (contentLength == 0) {
        return -1;
    }
    return static_cast<int>((received * 100U) / contentLength);
}

std::wstring DownloadProgressText(int value, std::uint64_t received)
{
    // user32's formatter, already loaded; the texts stay far below its
    // 1024-character limit and StatusTextCapacity.
    wchar_t text[StatusTextCapacity] = {};
    if (value >= 0) {
        const int length = wsprintfW(text, StatusDownloadPercent, value);
        return {text, static_cast<std::size_t>(length > 0 ? length : 0)};
    }
    // wsprintfW reads no %llu, so the count is written in that specifier's
    // place; as its 32-bit %lu, which holds any count below 4 PiB.
    const std::wstring_view format = StatusDownloadMegabytes;
    const std::wstring_view specifier = L"%llu";
    const std::size_t at = format.find(specifier);
    const int length = wsprintfW(text, L"%lu", static_cast<unsigned long>(received >> 20U));
    std::wstring shown(format.substr(0, at));
    shown.append(text, static_cast<std::size_t>(length > 0 ? length : 0));
    shown.append(format.substr(at + specifier.size()));
    return shown;
}

std::wstring DownloadArchive()
{
    std::wstring path = TempArchivePath();
    if (path.empty()) {
        return {};
    }
    const InternetHandle session(
        WinHttpOpen(UserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.Valid()) {
        return {};
    }
    const InternetHandle connection(WinHttpConnect(session.Get(), DownloadHost, INTERNET_DEFAULT_HTTPS_PORT, 0));
    if (!connection.Valid()) {
        return {};
    }
    const InternetHandle request(WinHttpOpenRequest(connection.Get(), L"GET", DownloadPath, nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request.Valid()) {
        return {};
    }
    if (WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ==
            FALSE ||
        WinHttpReceiveResponse(request.Get(), nullptr) == FALSE) {
        return {};
    }
    const DWORD status = QueryNumberHeader(request.Get(), WINHTTP_QUERY_STATUS_CODE);
    const DWORD contentLength = QueryNumberHeader(request.Get(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (status != HTTP_STATUS_OK) {
        return {};  // nothing in the temp folder has been touched
    }
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return {};
    }
    const bool whole = ReceiveBody(request.Get(), file.Get(), contentLength);
    file.Reset();  // closed before any WinHTTP handle
    if (!whole) {
        return {};
    }
    return path;
}
