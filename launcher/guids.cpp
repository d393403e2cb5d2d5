// The GUIDs the steps use (the known folders, the shell's link object and
// its interfaces, the AppUserModelID's property key), defined here from the SDK's own declarations instead of
// linking the uuid library, whose data lld keeps whole. Every other GUID of
// these headers is defined too, each in its own section, and dropped unless
// used.
#include <windows.h>

// Only the headers after this line define their GUIDs.
#include <initguid.h>

#include <shobjidl.h>  // CLSID_ShellLink, IID_IShellLinkW and, through objidl.h, IID_IPersistFile

#include <knownfolders.h>  // made to be included again for this
#include <propkey.h>       // PKEY_AppUserModel_ID
