// Registered in a test prefix for CLSID_ShellLink in place of the shell's:
// each object it makes is the shell's own link object, every call handed on
// to it, with a line in PIVRA_LINK_LOG for each call that shapes the saved
// shortcut's arguments and properties, and for where it is saved:
//   <object>\t<call>\t<what>\t<the shell's answer>
// Wine's link object takes an AppUserModelID and stores nothing of it, so
// the log is where a test sees which ID went into which shortcut.
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shobjidl.h>

#include <atomic>
#include <string>

namespace {

std::atomic<long> objectCount{0};

void Log(long object, const wchar_t* call, const std::wstring& what, HRESULT answer)
{
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"PIVRA_LINK_LOG", path, MAX_PATH) == 0) {
        return;
    }
    wchar_t answerText[16] = {};
    wsprintfW(answerText, L"%08lX", static_cast<unsigned long>(answer));
    const std::wstring line = std::to_wstring(object) + L"\t" + call + L"\t" + what + L"\t" + answerText + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, utf8.data(), static_cast<DWORD>(size - 1), &written, nullptr);
        CloseHandle(file);
    }
}

std::wstring KeyText(REFPROPERTYKEY key)
{
    wchar_t text[64] = {};
    StringFromGUID2(key.fmtid, text, 64);
    return std::wstring(text) + L" " + std::to_wstring(key.pid);
}

class Recorder final : public IShellLinkW, public IPersistFile, public IPropertyStore {
public:
    explicit Recorder(IShellLinkW* link) : link_(link), number_(++objectCount) {}
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    Recorder(Recorder&&) = delete;
    Recorder& operator=(Recorder&&) = delete;

    // The shell's object answers for everything but the three faces logged here.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellLinkW) {
            *out = static_cast<IShellLinkW*>(this);
        } else if (iid == IID_IPersistFile || iid == IID_IPropertyStore) {
            IUnknown* inner = nullptr;
            if (FAILED(link_->QueryInterface(iid, reinterpret_cast<void**>(&inner)))) {
                return E_NOINTERFACE;
            }
            inner->Release();  // link_ keeps it alive
            *out = iid == IID_IPersistFile ? static_cast<void*>(static_cast<IPersistFile*>(this))
                                           : static_cast<void*>(static_cast<IPropertyStore*>(this));
        } else {
            return link_->QueryInterface(iid, out);
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            link_->Release();
            delete this;
        }
        return left;
    }

    // IShellLinkW
    STDMETHODIMP GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data, DWORD flags) override
    {
        return link_->GetPath(file, size, data, flags);
    }
    STDMETHODIMP GetIDList(PIDLIST_ABSOLUTE* list) override { return link_->GetIDList(list); }
    STDMETHODIMP SetIDList(PCIDLIST_ABSOLUTE list) override { return link_->SetIDList(list); }
    STDMETHODIMP GetDescription(LPWSTR name, int size) override { return link_->GetDescription(name, size); }
    STDMETHODIMP SetDescription(LPCWSTR name) override { return link_->SetDescription(name); }
    STDMETHODIMP GetWorkingDirectory(LPWSTR dir, int size) override { return link_->GetWorkingDirectory(dir, size); }
    STDMETHODIMP SetWorkingDirectory(LPCWSTR dir) override { return link_->SetWorkingDirectory(dir); }
    STDMETHODIMP GetArguments(LPWSTR args, int size) override { return link_->GetArguments(args, size); }
    STDMETHODIMP SetArguments(LPCWSTR args) override
    {
        const HRESULT answer = link_->SetArguments(args);
        Log(number_, L"SetArguments", args, answer);
        return answer;
    }
    STDMETHODIMP GetHotkey(WORD* hotkey) override { return link_->GetHotkey(hotkey); }
    STDMETHODIMP SetHotkey(WORD hotkey) override { return link_->SetHotkey(hotkey); }
    STDMETHODIMP GetShowCmd(int* show) override { return link_->GetShowCmd(show); }
    STDMETHODIMP SetShowCmd(int show) override { return link_->SetShowCmd(show); }
    STDMETHODIMP GetIconLocation(LPWSTR path, int size, int* icon) override
    {
        return link_->GetIconLocation(path, size, icon);
    }
    STDMETHODIMP SetIconLocation(LPCWSTR path, int icon) override { return link_->SetIconLocation(path, icon); }
    STDMETHODIMP SetRelativePath(LPCWSTR path, DWORD reserved) override
    {
        return link_->SetRelativePath(path, reserved);
    }
    STDMETHODIMP Resolve(HWND window, DWORD flags) override { return link_->Resolve(window, flags); }
    STDMETHODIMP SetPath(LPCWSTR file) override { return link_->SetPath(file); }

    // IPersistFile
    STDMETHODIMP GetClassID(CLSID* id) override { return Persist()->GetClassID(id); }
    STDMETHODIMP IsDirty() override { return Persist()->IsDirty(); }
    STDMETHODIMP Load(LPCOLESTR name, DWORD mode) override { return Persist()->Load(name, mode); }
    STDMETHODIMP Save(LPCOLESTR name, BOOL remember) override
    {
        const HRESULT answer = Persist()->Save(name, remember);
        Log(number_, L"Save", name != nullptr ? name : L"", answer);
        return answer;
    }
    STDMETHODIMP SaveCompleted(LPCOLESTR name) override { return Persist()->SaveCompleted(name); }
    STDMETHODIMP GetCurFile(LPOLESTR* name) override { return Persist()->GetCurFile(name); }

    // IPropertyStore
    STDMETHODIMP GetCount(DWORD* count) override { return Store()->GetCount(count); }
    STDMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override { return Store()->GetAt(index, key); }
    STDMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override { return Store()->GetValue(key, value); }
    STDMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override
    {
        const HRESULT answer = Store()->SetValue(key, value);
        const std::wstring text = value.vt == VT_LPWSTR && value.pwszVal != nullptr
                                      ? std::wstring(value.pwszVal)
                                      : L"(type " + std::to_wstring(value.vt) + L")";
        Log(number_, L"SetValue", KeyText(key) + L"\t" + text, answer);
        return answer;
    }
    STDMETHODIMP Commit() override
    {
        const HRESULT answer = Store()->Commit();
        Log(number_, L"Commit", L"", answer);
        return answer;
    }

private:
    ~Recorder() = default;
    // The shell's interfaces, asked for afresh: it answered for them in
    // QueryInterface, and link_ keeps the object alive.
    template <typename Interface>
    Interface* Inner(REFIID iid)
    {
        Interface* inner = nullptr;
        link_->QueryInterface(iid, reinterpret_cast<void**>(&inner));
        inner->Release();
        return inner;
    }
    IPersistFile* Persist() { return Inner<IPersistFile>(IID_IPersistFile); }
    IPropertyStore* Store() { return Inner<IPropertyStore>(IID_IPropertyStore); }

    IShellLinkW* link_;
    const long number_;
    std::atomic<ULONG> references_{1};
};

// Makes the shell's own link object from shell32 in the system folder.
HRESULT CreateShellsLink(IShellLinkW** link)
{
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    wcscat_s(path, L"\\shell32.dll");
    HMODULE shell32 = LoadLibraryW(path);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        shell32 == nullptr ? nullptr
                           : reinterpret_cast<GetClassObject>(
                                 reinterpret_cast<void*>(GetProcAddress(shell32, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        return E_FAIL;
    }
    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(CLSID_ShellLink, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result)) {
        return result;
    }
    result = factory->CreateInstance(nullptr, IID_IShellLinkW, reinterpret_cast<void**>(link));
    factory->Release();
    return result;
}

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        IShellLinkW* link = nullptr;
        const HRESULT made = CreateShellsLink(&link);
        if (FAILED(made)) {
            return made;
        }
        auto* recorder = new Recorder(link);
        const HRESULT result = recorder->QueryInterface(iid, out);
        recorder->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL /*lock*/) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (clsid != CLSID_ShellLink) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, out);
}

// Never unloaded: the objects it made may outlive any count kept here.
extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}
