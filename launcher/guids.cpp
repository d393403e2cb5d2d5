// The GUIDs the steps use (the known folders, the shell's link object and
// its interfaces), defined here from the SDK's own declarations instead of
// linking the uuid library, whose data lld keeps whole. Every other GUID of
// these headers is defined too, each in its own section, and dropped unless
// used.
#include <initguid.h>

#include <windows.h>
#include <objidl.h>
#include <shlguid.h>  // with the known folders
#include <shobjidl.h>
