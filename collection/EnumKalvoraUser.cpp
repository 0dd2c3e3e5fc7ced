// EnumKalvoraUser.cpp: the user collection: its load from the registry, its
// list protocol, and the removal of user keys.
#include "collection/EnumKalvoraUser.h"

#include <cstdlib>
#include <cwchar>
#include <new>
#include <utility>

#include "diag/ReportEvent.h"
#include "module/BStr.h"
#include "module/Module.h"
#include "module/RegKey.h"
#include "module/Text.h"

namespace kalvora {

namespace {

// Parent key of the user keys under HKEY_LOCAL_MACHINE; a user's key is this
// path followed directly by the user name.
const wchar_t kUsersKey[] = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users\\";

// Registry values of a user key, in field order.
const wchar_t* const kValueNames[CEnumKalvoraUser::kValueCount] = {
    L"Computer",   L"My Computer", L"My Desktop",     L"My Documents",
    L"My Favorites", L"My Network", L"Security Level", L"NetWork Enable",
};

// Subkey names are enumerated into this many UTF-16 units, NUL included.
constexpr DWORD kNameUnits = 100;
// Bytes of one value's data, terminator included.
constexpr DWORD kValueBytes = 1040;

// The registry path of a user's key.
std::wstring UserKeyPath(const wchar_t* name, UINT length)
{
    std::wstring path = kUsersKey;
    path.append(name, length);
    return path;
}

// A user name that can designate a key of its own directly below the users
// key: not empty and free of path separators (an empty name would address
// the users key itself, a separator a key further down).
bool IsUserKeyName(BSTR name) noexcept
{
    const UINT length = SysStringLen(name);
    if (length == 0)
        return false;
    for (UINT i = 0; i < length; ++i) {
        if (name[i] == L'\\' || name[i] == L'\0')
            return false;
    }
    return true;
}

// Deletes the key of the named user; any non-zero result is a failure.
LONG DeleteUserKey(BSTR name)
{
    if (!IsUserKeyName(name))
        return ERROR_INVALID_NAME;
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UserKeyPath(name, SysStringLen(name)).c_str(), kStoreView, 0);
}

}  // namespace

CEnumKalvoraUser::~CEnumKalvoraUser()
{
    for (std::size_t i = 0; i < m_users.Size(); ++i) {
        if (IKalvoraUser* user = m_users.At(i))
            user->Release();
    }
}

HRESULT CEnumKalvoraUser::FinalConstruct() noexcept
{
    m_cursor = 0;
    try {
        for (int f = 0; f < kValueCount; ++f)
            m_valueNames[f] = kValueNames[f];
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return LoadUsers();
}

LONG CEnumKalvoraUser::LoadUsers() noexcept
{
    // A user key's path: the users key, then the enumerated name.
    constexpr DWORD kPrefixUnits = sizeof kUsersKey / sizeof kUsersKey[0] - 1;
    wchar_t path[kPrefixUnits + kNameUnits];
    std::wmemcpy(path, kUsersKey, kPrefixUnits);
    wchar_t* const name = path + kPrefixUnits;

    // Make sure the users key exists; the load itself reads through a
    // second, read-only opening.
    {
        RegKey created;
        LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUsersKey, 0, nullptr, 0, KEY_WRITE | kStoreView, nullptr,
                                   created.Put(), nullptr);
        if (err != ERROR_SUCCESS) {
            KALVORA_REPORT(L"Error creating registry key");
            return err;
        }
    }

    RegKey users;
    LONG err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUsersKey, 0, KEY_READ | kStoreView, users.Put());
    if (err != ERROR_SUCCESS) {
        KALVORA_REPORT(L"Error opening registry key");
        return err;
    }

    DWORD count = 0;
    err = RegQueryInfoKeyW(users.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr);
    if (err != ERROR_SUCCESS) {
        KALVORA_REPORT(L"Error using RegQueryInfoKey");
        return err;
    }

    if (!m_users.SetSize(count, PtrArray<IKalvoraUser>::GrowthStep(count)))
        return E_OUTOFMEMORY;

    DWORD nameLength = kNameUnits;
    for (DWORD i = 0; i < count; ++i) {
        err = RegEnumKeyExW(users.Get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (err != ERROR_SUCCESS) {
            users.Reset();
            KALVORA_REPORT(L"Error using RegEnumKeyEx");
            return err;
        }

        IKalvoraUser* user = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                                      reinterpret_cast<void**>(&user));
        if (hr != S_OK) {
            if (user)
                user->Release();
            users.Reset();
            KALVORA_REPORT(L"Could not CoCreateInstace of IKalvoraUser");
            return hr;
        }
        m_users.SetAt(i, user);  // the creation reference is the entry's

        {
            BStr userName(SysAllocString(name));
            user->put_Name(userName.Get());
        }

        RegKey userKey;
        err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kStoreView, userKey.Put());
        if (err != ERROR_SUCCESS) {
            users.Reset();
            KALVORA_REPORT(L"RegOpenKeyEx Failed");
            return err;
        }
        ReadUserValues(userKey.Get(), i);
        userKey.Reset();

        nameLength = kNameUnits;
    }
    return ERROR_SUCCESS;
}

LONG CEnumKalvoraUser::ReadUserValues(HKEY key, std::size_t index) noexcept
{
    // The data is read as UTF-16 text whatever its registry type. A value
    // larger than the buffer fails to read (ERROR_MORE_DATA) and is skipped
    // like any unreadable value; the buffer is never written beyond its size.
    wchar_t buffer[kValueBytes / sizeof(wchar_t)];
    for (int f = 0; f < kValueCount; ++f) {
        const wchar_t* valueName = m_valueNames[f].c_str();
        DWORD size = 0;
        if (RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            continue;
        DWORD bytes = kValueBytes;
        if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS)
            continue;
        if (bytes > kValueBytes)
            continue;
        const auto length = LengthUpToNul(buffer, bytes / sizeof(wchar_t));
        BStr value(SysAllocStringLen(buffer, static_cast<UINT>(length)));
        if (!value.IsNull())
            ApplyUserValue(index, f, value.Get());
    }
    return 0;
}

void CEnumKalvoraUser::ApplyUserValue(std::size_t index, int field, BSTR value) noexcept
{
    IKalvoraUser* user = m_users.At(index);
    if (!user)
        return;
    switch (field) {
    case 0: user->put_Computer(value); break;
    case 1: user->put_MyComputer(value); break;
    case 2: user->put_MyDesktop(value); break;
    case 3: user->put_MyDocuments(value); break;
    case 4: user->put_MyFavorites(value); break;
    case 5: user->put_MyNetwork(value); break;
    case 6: user->put_SecurityLevel(value); break;
    case 7: user->put_IsNetwork(_wtoi(value)); break;
    default: break;
    }
}

std::ptrdiff_t CEnumKalvoraUser::FindUser(BSTR name) const noexcept
{
    if (!name)
        return -1;
    for (std::size_t i = 0; i < m_users.Size(); ++i) {
        IKalvoraUser* user = m_users.At(i);
        if (!user)
            continue;
        BStr userName;
        user->get_Name(userName.Put());
        if (!userName.IsNull() && BStr::Equal(name, userName.Get()))
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

STDMETHODIMP CEnumKalvoraUser::Reset()
{
    ModuleStateGuard guard;
    m_cursor = 0;
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::Add(IKalvoraUser* pUser)
{
    ModuleStateGuard guard;
    if (!m_users.Append(pUser))
        return E_OUTOFMEMORY;
    if (pUser)
        pUser->AddRef();
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::New(IKalvoraUser** ppUser)
{
    ModuleStateGuard guard;
    if (!ppUser)
        return E_POINTER;
    *ppUser = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                                  reinterpret_cast<void**>(ppUser));
    if (hr != S_OK)
        KALVORA_REPORT(L"CoCreateInstace of IKalvoraUser failed");
    return hr;
}

STDMETHODIMP CEnumKalvoraUser::Remove(BSTR Name)
{
    ModuleStateGuard guard;
    try {
        const std::ptrdiff_t found = FindUser(Name);
        if (found < 0) {
            KALVORA_REPORT(FormatText(L"Remove. User (%s) does not exist", {Name}).c_str());
            return E_FAIL;
        }
        if (DeleteUserKey(Name) != ERROR_SUCCESS) {
            KALVORA_REPORT(L"RegDeleteKey failed");
            return E_FAIL;
        }
        const std::size_t index = static_cast<std::size_t>(found);
        IKalvoraUser* user = m_users.At(index);
        m_users.RemoveAt(index);
        user->Release();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CEnumKalvoraUser::Item(BSTR Name, IKalvoraUser** ppUser)
{
    ModuleStateGuard guard;
    if (!ppUser)
        return E_POINTER;
    try {
        const std::ptrdiff_t found = FindUser(Name);
        if (found < 0) {
            *ppUser = nullptr;
            KALVORA_REPORT(
                FormatText(L"Item.  Tried to get user object: (%s), which dose not exist", {Name}).c_str());
            return E_FAIL;
        }
        IKalvoraUser* user = m_users.At(static_cast<std::size_t>(found));
        user->AddRef();
        *ppUser = user;
        return S_OK;
    } catch (const std::bad_alloc&) {
        *ppUser = nullptr;
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CEnumKalvoraUser::GetCount(LONG* count)
{
    ModuleStateGuard guard;
    if (!count)
        return E_POINTER;
    *count = static_cast<LONG>(m_users.Size());
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::get_NextUser(BSTR* pVal)
{
    ModuleStateGuard guard;
    if (static_cast<std::size_t>(m_cursor) >= m_users.Size())
        m_cursor = 0;
    // No user to ask: an empty list stays where it is; an empty entry is
    // passed over so that the walk keeps its place.
    if (m_users.Size() == 0)
        return E_FAIL;
    IKalvoraUser* user = m_users.At(static_cast<std::size_t>(m_cursor));
    ++m_cursor;
    if (!user)
        return E_FAIL;
    user->get_Name(pVal);
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::ClearKeys()
{
    ModuleStateGuard guard;
    try {
        // Walk a copy, so the walk sees the list as it was when the call began.
        PtrArray<IKalvoraUser> users;
        if (!users.CopyFrom(m_users))
            return E_OUTOFMEMORY;
        const std::size_t n = users.Size();
        std::size_t deleted = 0;
        BStr lastName;
        for (std::size_t i = 0; i < n; ++i) {
            IKalvoraUser* user = users.At(i);
            if (!user)
                continue;  // counts in n, never as deleted
            user->get_Name(lastName.Put());
            if (DeleteUserKey(lastName.Get()) == ERROR_SUCCESS)
                ++deleted;
        }
        users.Clear();
        if (deleted == n)
            return S_OK;
        KALVORA_REPORT(FormatText(L"Remove. User (%s) does not exist", {lastName.Get()}).c_str());
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CEnumKalvoraUser::AddUser(BSTR, BSTR, BSTR, LONG) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetDomainUserCount(BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetDomainUserName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::CheckComputer(BSTR, BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetUserGroupCount(LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::GetUserGroupName(LONG, BSTR*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::ImportFile(BSTR, LONG*) { ModuleStateGuard guard; return E_NOTIMPL; }
STDMETHODIMP CEnumKalvoraUser::AddUserDB(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT, VARIANT)
{
    ModuleStateGuard guard;
    return E_NOTIMPL;
}

}  // namespace kalvora
