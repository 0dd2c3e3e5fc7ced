// UserStoreFixture.cpp: registry fixtures and helpers for the user collection tests.
#include "collection/UserStoreFixture.h"

#include <sddl.h>

#include <stdexcept>

namespace kalvora::test {

const wchar_t kUsersPath[] = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";
const wchar_t kCollectionSource[] = L"collection/EnumKalvoraUser.cpp";

std::wstring UserPath(const std::wstring& name) { return std::wstring(kUsersPath) + L"\\" + name; }

namespace {

std::wstring Get(IKalvoraUser* user, HRESULT (__stdcall IKalvoraUser::*getter)(BSTR*))
{
    Bstr value;
    EXPECT_EQ(S_OK, (user->*getter)(value.put()));
    return value.str();
}

void SetAccess(const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        throw std::runtime_error("bad security descriptor");
    HKEY key;
    LONG err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key);
    if (err == ERROR_SUCCESS) {
        err = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
        RegCloseKey(key);
    }
    LocalFree(sd);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegSetKeySecurity failed: " + std::to_string(err));
}

void CopyTree(HKEY fromRoot, const std::wstring& from, HKEY toRoot, const std::wstring& to)
{
    HKEY source, target;
    LONG err = RegOpenKeyExW(fromRoot, from.c_str(), 0, KEY_READ, &source);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegOpenKeyEx failed: " + std::to_string(err));
    err = RegCreateKeyExW(toRoot, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr);
    if (err == ERROR_SUCCESS) {
        err = RegCopyTreeW(source, nullptr, target);
        RegCloseKey(target);
    }
    RegCloseKey(source);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("copying a registry tree failed: " + std::to_string(err));
}

}  // namespace

UserView View(IKalvoraUser* user)
{
    UserView v;
    v.name = Get(user, &IKalvoraUser::get_Name);
    v.computer = Get(user, &IKalvoraUser::get_Computer);
    v.myComputer = Get(user, &IKalvoraUser::get_MyComputer);
    v.myDesktop = Get(user, &IKalvoraUser::get_MyDesktop);
    v.myDocuments = Get(user, &IKalvoraUser::get_MyDocuments);
    v.myFavorites = Get(user, &IKalvoraUser::get_MyFavorites);
    v.myNetwork = Get(user, &IKalvoraUser::get_MyNetwork);
    v.myRecent = Get(user, &IKalvoraUser::get_MyRecent);
    v.securityLevel = Get(user, &IKalvoraUser::get_SecurityLevel);
    EXPECT_EQ(S_OK, user->get_IsNetwork(&v.isNetwork));
    Bstr mailbox;
    EXPECT_EQ(S_OK, user->get_Mailbox(mailbox.put()));
    v.mailboxNull = mailbox.isNull();
    v.mailbox = mailbox.str();
    return v;
}

UserView ExpectedFullUser(const std::wstring& name)
{
    UserView v;
    v.name = name;
    v.computer = L"PC-" + name;
    v.myComputer = L"\\\\PC-" + name + L"\\C$\\My Computer";
    v.myDesktop = L"\\\\PC-" + name + L"\\C$\\Desktop";
    v.myDocuments = L"\\\\PC-" + name + L"\\C$\\My Documents";
    v.myFavorites = L"\\\\PC-" + name + L"\\C$\\Favorites";
    v.myNetwork = L"\\\\PC-" + name + L"\\C$\\NetHood";
    v.securityLevel = L"level-" + name;
    v.isNetwork = static_cast<LONG>(name.size());
    v.mailboxNull = true;
    return v;
}

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

KeyAccess::KeyAccess(const std::wstring& path, const wchar_t* sddl) : m_path(path) { SetAccess(path, sddl); }

KeyAccess::~KeyAccess()
{
    try {
        SetAccess(m_path, L"D:(A;;KA;;;WD)");
    } catch (const std::exception&) {
        ADD_FAILURE() << "could not restore access to " << Narrow(m_path);
    }
}

UserClassHidden::UserClassHidden()
{
    // Without any key of the class the platform finds neither an in-process
    // nor a local server and fails at once.
    wchar_t clsid[64];
    StringFromGUID2(CLSID_KalvoraUser, clsid, 64);
    m_path = std::wstring(L"CLSID\\") + clsid;
    m_backup = std::wstring(L"Software\\KalvoraTests\\HiddenClass\\") + clsid;
    if (!KeyExists(HKEY_CLASSES_ROOT, m_path + L"\\InprocServer32"))
        throw std::runtime_error("the user class is not registered");
    DeleteTree(HKEY_CURRENT_USER, m_backup);
    CopyTree(HKEY_CLASSES_ROOT, m_path, HKEY_CURRENT_USER, m_backup);
    DeleteTree(HKEY_CLASSES_ROOT, m_path);
}

UserClassHidden::~UserClassHidden()
{
    try {
        CopyTree(HKEY_CURRENT_USER, m_backup, HKEY_CLASSES_ROOT, m_path);
        DeleteTree(HKEY_CURRENT_USER, L"Software\\KalvoraTests");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "could not restore the user class: " << e.what();
    }
}

void UserStoreTest::SetUp() { DeleteTree(HKEY_LOCAL_MACHINE, kUsersPath); }

void UserStoreTest::TearDown() { DeleteTree(HKEY_LOCAL_MACHINE, kUsersPath); }

void UserStoreTest::SeedKey(const std::wstring& name)
{
    HKEY key;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, UserPath(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS)
        throw std::runtime_error("RegCreateKeyEx failed: " + std::to_string(err));
    RegCloseKey(key);
}

void UserStoreTest::SeedUser(const std::wstring& name,
                             const std::vector<std::pair<const wchar_t*, std::wstring>>& values)
{
    SeedKey(name);
    for (const auto& [valueName, text] : values)
        SetString(HKEY_LOCAL_MACHINE, UserPath(name), valueName, text);
}

void UserStoreTest::SeedFullUser(const std::wstring& name)
{
    const UserView v = ExpectedFullUser(name);
    SeedUser(name, {{L"Computer", v.computer},
                    {L"My Computer", v.myComputer},
                    {L"My Desktop", v.myDesktop},
                    {L"My Documents", v.myDocuments},
                    {L"My Favorites", v.myFavorites},
                    {L"My Network", v.myNetwork},
                    {L"Security Level", v.securityLevel},
                    {L"NetWork Enable", std::to_wstring(v.isNetwork)}});
}

HRESULT UserStoreTest::Create(ComPtr<IEnumKalvoraUser>& out)
{
    out.Reset();
    return CoCreateInstance(CLSID_EnumKalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumKalvoraUser,
                            reinterpret_cast<void**>(out.GetAddressOf()));
}

ComPtr<IEnumKalvoraUser> UserStoreTest::Load()
{
    ComPtr<IEnumKalvoraUser> users;
    HRESULT hr = Create(users);
    EXPECT_EQ(S_OK, hr);
    if (FAILED(hr) || !users)
        throw std::runtime_error("the collection could not be created");
    return users;
}

LONG UserStoreTest::Count(IEnumKalvoraUser* users)
{
    LONG n = -1;
    EXPECT_EQ(S_OK, users->GetCount(&n));
    return n;
}

std::pair<HRESULT, std::wstring> UserStoreTest::Next(IEnumKalvoraUser* users)
{
    Bstr name;
    HRESULT hr = users->get_NextUser(name.put());
    return {hr, name.str()};
}

std::vector<std::wstring> UserStoreTest::Walk(IEnumKalvoraUser* users)
{
    std::vector<std::wstring> names;
    EXPECT_EQ(S_OK, users->Reset());
    const LONG n = Count(users);
    for (LONG i = 0; i < n; ++i) {
        auto [hr, name] = Next(users);
        if (hr == S_OK)
            names.push_back(name);
        else if (hr == E_FAIL)
            names.push_back(L"<E_FAIL>");
        else
            names.push_back(L"<unexpected result>");
    }
    return names;
}

ComPtr<IKalvoraUser> UserStoreTest::Find(IEnumKalvoraUser* users, const wchar_t* name)
{
    ComPtr<IKalvoraUser> user;
    Bstr key(name);
    users->Item(key.get(), user.GetAddressOf());
    return user;
}

ComPtr<IKalvoraUser> UserStoreTest::NewUser(IEnumKalvoraUser* users, const wchar_t* name)
{
    ComPtr<IKalvoraUser> user;
    EXPECT_EQ(S_OK, users->New(user.GetAddressOf()));
    if (!user)
        throw std::runtime_error("New gave no user");
    Bstr text(name);
    EXPECT_EQ(S_OK, user->put_Name(text.get()));
    return user;
}

void UserStoreTest::ExpectFailure(const EventRecord& event, const std::wstring& text)
{
    EXPECT_EQ(1, event.type);
    EXPECT_EQ(kFailureId, event.id);
    EXPECT_EQ(kCollectionSource, event.file);
    EXPECT_GT(event.line, 0);
    EXPECT_TRUE(event.hasText);
    EXPECT_EQ(Narrow(text), Narrow(event.text));
}

EventRecord UserStoreTest::ExpectOneFailure(const std::wstring& text)
{
    const std::vector<EventRecord> events = m_events.Read();
    EXPECT_EQ(1u, events.size()) << "expected one event: " << Narrow(text);
    if (events.empty())
        return EventRecord{};
    ExpectFailure(events.front(), text);
    return events.front();
}

}  // namespace kalvora::test
