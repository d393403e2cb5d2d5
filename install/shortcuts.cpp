#include "install/shortcuts.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <propkey.h>
#include <propsys.h>

#include "launcher/handle.h"

namespace {

// Windows 8.1 and later list shortcuts that start one program only once
// unless each names an AppUserModelID of its own. A link object without a
// property store, or one that refuses the value, keeps its shortcut as it is.
void SetAppUserModelId(IShellLinkW* link, std::wstring id)
{
    ComPtr<IPropertyStore> store;
    if (FAILED(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(store.Put())))) {
        return;
    }
    // SetValue copies the string; the variant is never cleared here.
    PROPVARIANT value = {};
    value.vt = VT_LPWSTR;
    value.pwszVal = id.data();
    if (SUCCEEDED(store.Get()->SetValue(PKEY_AppUserModel_ID, value))) {
        store.Get()->Commit();
    }
}

void CreateShortcut(const PlaceEntry& entry, const std::wstring& shortcutFolder, const std::wstring& installDir,
                    const std::wstring& suiteExe)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.Put())))) {
        return;
    }
    link.Get()->SetPath(suiteExe.c_str());
    link.Get()->SetWorkingDirectory(installDir.c_str());
    link.Get()->SetArguments(PlaceArguments(entry).c_str());
    const std::wstring icon = PlaceIconPath(installDir, entry);
    // Without its own icon the place shows the suite executable's first one.
    link.Get()->SetIconLocation(PathFileExistsW(icon.c_str()) != FALSE ? icon.c_str() : suiteExe.c_str(), 0);
    link.Get()->SetDescription(entry.displayName);
    SetAppUserModelId(link.Get(), PlaceAppUserModelId(entry));
    ComPtr<IPersistFile> file;
    if (FAILED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put())))) {
        return;
    }
    file.Get()->Save(ShortcutPath(shortcutFolder, entry).c_str(), TRUE);
}

}  // namespace

std::wstring ShortcutPath(const std::wstring& shortcutFolder, const PlaceEntry& entry)
{
    return shortcutFolder + L"\\" + entry.displayName + ShortcutExtension;
}

std::wstring PlaceIconPath(const std::wstring& installDir, const PlaceEntry& entry)
{
    return installDir + IconsFolder + entry.icon + IconExtension;
}

void CreateShortcuts()
{
    const std::wstring programs = KnownFolderPath(FOLDERID_Programs);
    if (programs.empty()) {
        // A folder from the drive root is no Start menu; write nothing.
        return;
    }
    const std::wstring shortcutFolder = programs + StartMenuFolderName;
    CreateDirectoryW(shortcutFolder.c_str(), nullptr);
    const std::wstring installDir = InstallDir();
    const std::wstring suiteExe = SuiteExePath();
    for (const PlaceEntry& entry : PlaceTable) {
        CreateShortcut(entry, shortcutFolder, installDir, suiteExe);
    }
}
