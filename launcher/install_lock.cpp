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
    KernelHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex.Valid()) {
        return true;  // no lock to be had: go on alone rather than never install
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
