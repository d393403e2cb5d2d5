// Starts a program inside a job of its own and reports how long after that
// program's creation a process of the given image name was created in the
// same job: the wall time from a launcher's start to the suite's start.
//   launch_timer <suite image name> <program> [arguments...]
// Prints "startup_ms=<ms> exit=<program's exit code>". Exits 1 when no such
// process appears within the time limit, or anything else fails.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr DWORD TimeLimitMs = 20000;

// One argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t character : argument) {
        if (character == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += character;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::uint64_t Ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
}

bool CreationTime(HANDLE process, std::uint64_t& ticks)
{
    FILETIME creation = {};
    FILETIME exit = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (GetProcessTimes(process, &creation, &exit, &kernel, &user) == FALSE) {
        return false;
    }
    ticks = Ticks(creation);
    return true;
}

std::uint64_t Now()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

// Wine stamps a process's creation time when its first thread reports in
// and answers with filler before that: waits for a time between notBefore
// and now.
bool StampedCreationTime(HANDLE process, std::uint64_t notBefore, ULONGLONG deadline, std::uint64_t& ticks)
{
    for (;;) {
        if (CreationTime(process, ticks) && ticks >= notBefore && ticks <= Now()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(1);
    }
}

bool EndsWithName(const std::wstring& path, const std::wstring& name)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return CompareStringOrdinal(base.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The process of the given id when its image bears the name; null otherwise.
HANDLE OpenIfNamed(DWORD id, const std::wstring& name)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
        (void)std::fwprintf(stderr, L"launch_timer: process %lu is gone before it could be opened (%lu)\n", id,
                            GetLastError());
        return nullptr;
    }
    // Wine names a new process only once its loader has mapped the image:
    // ask again for a while.
    wchar_t image[32768] = {};
    for (int attempt = 0; attempt < 2000; ++attempt) {
        DWORD size = 32768;
        if (QueryFullProcessImageNameW(process, 0, image, &size) != FALSE) {
            if (EndsWithName(image, name)) {
                return process;
            }
            break;
        }
        Sleep(1);
    }
    CloseHandle(process);
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        (void)std::fwprintf(stderr, L"usage: launch_timer <suite image name> <program> [arguments...]\n");
        return 2;
    }
    const std::wstring suiteName = argv[1];
    std::wstring commandLine = Quote(argv[2]);
    for (int index = 3; index < argc; ++index) {
        commandLine += L' ';
        commandLine += Quote(argv[index]);
    }

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (job == nullptr || port == nullptr) {
        (void)std::fwprintf(stderr, L"launch_timer: no job or port (%lu)\n", GetLastError());
        return 1;
    }
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = job;
    association.CompletionPort = port;
    // Whatever is left when the timer ends goes with it: no run outlives its measurement.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association, sizeof(association)) ==
            FALSE ||
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) == FALSE) {
        (void)std::fwprintf(stderr, L"launch_timer: cannot set up the job (%lu)\n", GetLastError());
        return 1;
    }

    const ULONGLONG deadline = GetTickCount64() + TimeLimitMs;
    const std::uint64_t beforeStart = Now();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                       &startup, &started) == FALSE) {
        (void)std::fwprintf(stderr, L"launch_timer: cannot start %ls (%lu)\n", argv[2], GetLastError());
        return 1;
    }
    // In the job before its first instruction, so the suite is born inside it.
    if (AssignProcessToJobObject(job, started.hProcess) == FALSE) {
        (void)std::fwprintf(stderr, L"launch_timer: cannot put the program into the job (%lu)\n", GetLastError());
        TerminateProcess(started.hProcess, 1);
        return 1;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);

    std::uint64_t programStart = 0;
    if (!StampedCreationTime(started.hProcess, beforeStart, deadline, programStart)) {
        (void)std::fwprintf(stderr, L"launch_timer: no usable creation time of the program\n");
        return 1;
    }

    HANDLE suite = nullptr;
    while (suite == nullptr && GetTickCount64() < deadline) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED data = nullptr;
        if (GetQueuedCompletionStatus(port, &message, &key, &data, 100) == FALSE) {
            continue;  // nothing new yet
        }
        const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && id != started.dwProcessId) {
            suite = OpenIfNamed(id, suiteName);
        }
    }
    if (suite == nullptr) {
        (void)std::fwprintf(stderr, L"launch_timer: no %ls was started within %lu ms\n", suiteName.c_str(),
                            TimeLimitMs);
        return 1;
    }
    std::uint64_t suiteStart = 0;
    if (!StampedCreationTime(suite, programStart, deadline, suiteStart)) {
        (void)std::fwprintf(stderr, L"launch_timer: no usable creation time of the suite\n");
        return 1;
    }

    // Both must be done before the next run starts.
    const HANDLE both[2] = {started.hProcess, suite};
    if (WaitForMultipleObjects(2, both, TRUE, TimeLimitMs) != WAIT_OBJECT_0) {
        (void)std::fwprintf(stderr, L"launch_timer: the program or the suite did not exit within %lu ms\n",
                            TimeLimitMs);
        return 1;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    const double milliseconds = static_cast<double>(suiteStart - programStart) / 10000.0;
    (void)std::printf("startup_ms=%.3f exit=%lu\n", milliseconds, exitCode);
    return 0;
}
