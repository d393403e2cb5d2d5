// One install at a time: the ten places' launchers share one install, so
// at most one of them may ask, download and unpack at once.
#pragma once

#include <string>

#include "launcher/handle.h"

// The lock's name in the user's session, the same for every place.
std::wstring InstallLockName();

// Takes the install lock into lock, owned by this thread; false when another
// launcher holds it, or when the lock is there but denies this launcher
// access (an elevated launcher's). A lock that cannot be made at all leaves
// lock empty and gives true. It dies with its process, so a launcher that was killed never
// blocks the next one.
bool TakeInstallLock(OwnedMutex& lock);
