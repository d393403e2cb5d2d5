#include "launcher/install_lock.h"

#include <windows.h>

#include "launcher/layout.h"

std::wstring InstallLockName()
{
    return std::wstring(L"Local\\") + InstallFolderName + L" install";
}

bool TakeInstallLock(OwnedMutex& lock)
{
    const std::wstring name = InstallLockName();
    const HANDLE made = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    KernelHandle mutex(made);
    if (!mutex.Valid()) {
        // An elevated launcher's lock denies a normal one access: it is at
        // work. Any other failure: go on alone rather than never install.
        return error != ERROR_ACCESS_DENIED;
    }
    // An abandoned lock is ours too: its holder was cut off, and what it
    // left is cleared by the install that follows.
    const DWORD wait = WaitForSingleObject(mutex.Get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        return false;
    }
    lock = OwnedMutex(mutex.Release());
    return true;
}
