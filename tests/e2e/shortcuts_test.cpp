// The Start menu shortcuts as the shell's link object is asked to make them:
// a recording link object (tests/tools/link_recorder.cpp) stands in the
// registry for the shell's, hands every call on to it and logs them.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/driver.h"
#include "install/shortcuts.h"

namespace e2e {
namespace {

constexpr const wchar_t* ShellLinkServer =
    L"Software\\Classes\\CLSID\\{00021401-0000-0000-C000-000000000046}\\InprocServer32";

// While it lives, CLSID_ShellLink is served by the recorder; then by the shell again.
class RecordedLinks {
public:
    RecordedLinks()
    {
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, ShellLinkServer, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_),
                  ERROR_SUCCESS);
        DWORD size = sizeof(shellServer_);
        EXPECT_EQ(RegQueryValueExW(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(shellServer_), &size),
                  ERROR_SUCCESS);
        Set(PIVRA_LINK_RECORDER_PATH);
    }
    ~RecordedLinks()
    {
        Set(shellServer_);
        RegCloseKey(key_);
    }
    RecordedLinks(const RecordedLinks&) = delete;
    RecordedLinks& operator=(const RecordedLinks&) = delete;
    RecordedLinks(RecordedLinks&&) = delete;
    RecordedLinks& operator=(RecordedLinks&&) = delete;

private:
    void Set(const wchar_t* server) const
    {
        RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server),
                       static_cast<DWORD>((wcslen(server) + 1) * sizeof(wchar_t)));
    }
    HKEY key_ = nullptr;
    wchar_t shellServer_[MAX_PATH] = {};
};

TEST(Shortcuts, EachPlaceCarriesItsOwnAppUserModelId)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RemoveSuite();
    ASSERT_TRUE(InstallFixtureSuite());
    const std::wstring log = StandinLog() + L".links";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"PIVRA_LINK_LOG", log.c_str());
    {
        const RecordedLinks recorded;
        CreateShortcuts();
    }
    SetEnvironmentVariableW(L"PIVRA_LINK_LOG", nullptr);

    // Per link object, in order: its calls, "<call>\t<what>\t<the shell's answer>".
    std::map<std::wstring, std::vector<std::wstring>> calls;
    std::wistringstream lines(ReadUtf8File(log));
    std::wstring line;
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find(L'\t');
        calls[line.substr(0, tab)].push_back(line.substr(tab + 1));
    }
    ASSERT_EQ(calls.size(), 10U) << "link objects made";
    struct Row {
        const wchar_t* shortcut;
        const wchar_t* id;
    };
    const Row rows[] = {
        {L"Pivra Suite All In One.lnk", L"PivraSuite.AllInOne"},
        {L"Pivra Suite Messaging.lnk", L"PivraSuite.AllInOne.messages"},
        {L"Pivra Suite Camera.lnk", L"PivraSuite.AllInOne.camera"},
        {L"Pivra Suite Contacts.lnk", L"PivraSuite.AllInOne.contacts"},
        {L"Pivra Suite Email.lnk", L"PivraSuite.AllInOne.email"},
        {L"Pivra Suite Friends In Common.lnk", L"PivraSuite.AllInOne.them"},
        {L"Pivra Suite Map.lnk", L"PivraSuite.AllInOne.map"},
        {L"Pivra Suite Music.lnk", L"PivraSuite.AllInOne.music"},
        {L"Pivra Suite Alarm and Reminders.lnk", L"PivraSuite.AllInOne.alarm"},
        {L"Pivra Suite Storage Management.lnk", L"PivraSuite.AllInOne.storage"},
    };
    const std::wstring folder = L"\\Pivra Suite\\";
    for (const auto& [object, made] : calls) {
        ASSERT_FALSE(made.empty());
        // The property set and committed before the file is saved: in that
        // order, the last three calls, each answered S_OK by the shell.
        ASSERT_GE(made.size(), 3U) << made.back();
        const std::wstring& save = made.back();
        const Row* row = nullptr;
        for (const Row& candidate : rows) {
            if (save.find(folder + candidate.shortcut + L"\t") != std::wstring::npos) {
                row = &candidate;
            }
        }
        ASSERT_NE(row, nullptr) << "saved as " << save;
        SCOPED_TRACE(row->shortcut);
        EXPECT_EQ(save.rfind(L"Save\t", 0), 0U) << save;
        EXPECT_EQ(save.substr(save.size() - 9), L"\t00000000") << save;
        EXPECT_EQ(made[made.size() - 3],
                  L"SetValue\t{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3} 5\t" + std::wstring(row->id) + L"\t00000000");
        EXPECT_EQ(made[made.size() - 2], L"Commit\t\t00000000");
    }
    RemoveSuite();
}

}  // namespace
}  // namespace e2e
