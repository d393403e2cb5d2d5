// What the shortcuts ask of the shell's link object, seen from the object's
// side. Wine's link object takes an AppUserModelID and stores nothing of it,
// so the test reads the calls: the object's property store and file have
// method tables that all its instances share, and for the test's scope
// SetValue, Commit and Save in them log each call, then do what they did.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "e2e/driver.h"
#include "install/shortcuts.h"

namespace e2e {
namespace {

std::vector<std::wstring> calls;  // "<call>\t<what>\t<the object's answer>"
void* shellsSetValue = nullptr;
void* shellsCommit = nullptr;
void* shellsSave = nullptr;

void Log(const std::wstring& call, HRESULT answer)
{
    wchar_t answerText[16] = {};
    wsprintfW(answerText, L"\t%08lX", static_cast<unsigned long>(answer));
    calls.push_back(call + answerText);
}

HRESULT STDMETHODCALLTYPE LoggedSetValue(IPropertyStore* store, REFPROPERTYKEY key, REFPROPVARIANT value)
{
    const HRESULT answer =
        reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IPropertyStore*, REFPROPERTYKEY, REFPROPVARIANT)>(shellsSetValue)(
            store, key, value);
    wchar_t id[64] = {};
    StringFromGUID2(key.fmtid, id, 64);
    Log(L"SetValue\t" + std::wstring(id) + L" " + std::to_wstring(key.pid) + L"\t" +
            (value.vt == VT_LPWSTR ? value.pwszVal : L"(not a string)"),
        answer);
    return answer;
}

HRESULT STDMETHODCALLTYPE LoggedCommit(IPropertyStore* store)
{
    const HRESULT answer = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IPropertyStore*)>(shellsCommit)(store);
    Log(L"Commit\t", answer);
    return answer;
}

HRESULT STDMETHODCALLTYPE LoggedSave(IPersistFile* file, LPCOLESTR name, BOOL remember)
{
    const HRESULT answer =
        reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IPersistFile*, LPCOLESTR, BOOL)>(shellsSave)(file, name, remember);
    const std::wstring path = name;
    Log(L"Save\t" + path.substr(path.rfind(L'\\') + 1), answer);
    return answer;
}

// Swaps one entry of a method table (read-only data) and gives the old one.
void* Swap(void** entry, void* replacement)
{
    DWORD was = 0;
    VirtualProtect(entry, sizeof(void*), PAGE_READWRITE, &was);
    void* old = *entry;
    *entry = replacement;
    VirtualProtect(entry, sizeof(void*), was, &was);
    return old;
}

// Logs SetValue and Commit of every link object's property store and Save
// of its file while it lives.
class LoggedLinks {
public:
    LoggedLinks()
    {
        IShellLinkW* link = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)),
                  S_OK);
        EXPECT_EQ(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(&store_)), S_OK);
        EXPECT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_)), S_OK);
        link->Release();
        // IPropertyStore: 6 SetValue, 7 Commit; IPersistFile: 6 Save.
        shellsSetValue = Swap(Table(store_) + 6, reinterpret_cast<void*>(&LoggedSetValue));
        shellsCommit = Swap(Table(store_) + 7, reinterpret_cast<void*>(&LoggedCommit));
        shellsSave = Swap(Table(file_) + 6, reinterpret_cast<void*>(&LoggedSave));
    }
    ~LoggedLinks()
    {
        Swap(Table(store_) + 6, shellsSetValue);
        Swap(Table(store_) + 7, shellsCommit);
        Swap(Table(file_) + 6, shellsSave);
        store_->Release();
        file_->Release();
    }
    LoggedLinks(const LoggedLinks&) = delete;
    LoggedLinks& operator=(const LoggedLinks&) = delete;
    LoggedLinks(LoggedLinks&&) = delete;
    LoggedLinks& operator=(LoggedLinks&&) = delete;

private:
    static void** Table(IUnknown* object) { return *reinterpret_cast<void***>(object); }
    IPropertyStore* store_ = nullptr;
    IPersistFile* file_ = nullptr;
};

TEST(Shortcuts, EachPlaceCarriesItsOwnAppUserModelId)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemoveSuite();
    ASSERT_TRUE(InstallFixtureSuite());
    calls.clear();
    {
        const LoggedLinks logged;
        CreateShortcuts();
    }
    // Row by row: the ID set and committed, then the shortcut saved.
    const wchar_t* const rows[][2] = {
        {L"PivraSuite.AllInOne", L"Pivra Suite All In One.lnk"},
        {L"PivraSuite.AllInOne.messages", L"Pivra Suite Messaging.lnk"},
        {L"PivraSuite.AllInOne.camera", L"Pivra Suite Camera.lnk"},
        {L"PivraSuite.AllInOne.contacts", L"Pivra Suite Contacts.lnk"},
        {L"PivraSuite.AllInOne.email", L"Pivra Suite Email.lnk"},
        {L"PivraSuite.AllInOne.them", L"Pivra Suite Friends In Common.lnk"},
        {L"PivraSuite.AllInOne.map", L"Pivra Suite Map.lnk"},
        {L"PivraSuite.AllInOne.music", L"Pivra Suite Music.lnk"},
        {L"PivraSuite.AllInOne.alarm", L"Pivra Suite Alarm and Reminders.lnk"},
        {L"PivraSuite.AllInOne.storage", L"Pivra Suite Storage Management.lnk"},
    };
    std::vector<std::wstring> expected;
    for (const auto& row : rows) {
        expected.push_back(L"SetValue\t{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3} 5\t" + std::wstring(row[0]) +
                           L"\t00000000");
        expected.emplace_back(L"Commit\t\t00000000");
        expected.push_back(L"Save\t" + std::wstring(row[1]) + L"\t00000000");
    }
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(ShortcutNames(), PlaceShortcutNames());
    RemoveSuite();
}

}  // namespace
}  // namespace e2e
