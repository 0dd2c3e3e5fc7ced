// EnumKalvoraUser.cpp: the user collection: its load from the registry, its
// list protocol, the removal of user keys, adding users one at a time or from
// the console's import file, and checking a new user's name and computer.
#include "collection/EnumKalvoraUser.h"

#include <wrl/client.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "collection/ImportRecord.h"
#include "diag/ReportEvent.h"
#include "module/BStr.h"
#include "module/Module.h"
#include "module/RegKey.h"
#include "module/Resource.h"
#include "module/Text.h"
#include "platform/Network.h"

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

std::ptrdiff_t CEnumKalvoraUser::FindUser(BSTR name) const
{
    if (!name)
        return -1;
    for (std::size_t i = 0; i < m_users.Size(); ++i) {
        IKalvoraUser* user = m_users.At(i);
        if (!user)
            continue;
        BStr userName;
        // Out of memory for the name's copy, whoever's user it is (the module
        // cannot tell a client's from its own): the callers answer E_OUTOFMEMORY.
        if (user->get_Name(userName.Put()) == E_OUTOFMEMORY)
            throw std::bad_alloc();
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
    if (!pVal)
        return E_POINTER;  // before the cursor moves
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
    // Out of memory for the copy is passed on; a client's user that fails
    // otherwise reads as whatever it left, as any other read does.
    return user->get_Name(pVal) == E_OUTOFMEMORY ? E_OUTOFMEMORY : S_OK;
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
            if (user->get_Name(lastName.Put()) == E_OUTOFMEMORY)
                throw std::bad_alloc();
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

// ---- adding users, the import file and the computer check ----------------------


namespace {

// A copy of text that must exist: out of memory throws, like the strings it
// is made from, so that no null string stands in for the text.
BStr Required(BStr copy)
{
    if (copy.IsNull())
        throw std::bad_alloc();
    return copy;
}

// The UNC form of a computer name, keeping a null name null.
BStr UncCopy(BSTR computer)
{
    if (!computer)
        return BStr();
    return Required(BStr::Of(UncComputer(std::wstring_view(computer, SysStringLen(computer)))));
}

// The text of an argument of AddUserDB: the variant it refers to, converted
// to a string. Late-bound callers pass variables by reference; anything else
// is refused (E_INVALIDARG), as is a value without a string form.
HRESULT ArgumentText(const VARIANT& arg, BStr& text) noexcept
{
    if (arg.vt != (VT_BYREF | VT_VARIANT) || !arg.pvarVal)
        return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantChangeType(&copy, arg.pvarVal, 0, VT_BSTR);
    if (SUCCEEDED(hr))
        text.Reset(copy.bstrVal);
    else
        VariantClear(&copy);
    return hr;
}

// A new user object: the creation's result, E_FAIL when a success gave no
// object (there is no user to fill, write or add). The caller reports a failure.
HRESULT CreateUser(Microsoft::WRL::ComPtr<IKalvoraUser>& user) noexcept
{
    HRESULT hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_ALL, IID_IKalvoraUser,
                                  reinterpret_cast<void**>(user.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr) && !user)
        hr = E_FAIL;
    return hr;
}

// Closes a file handle when it goes.
struct FileHandle {
    HANDLE handle;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

STDMETHODIMP CEnumKalvoraUser::AddUser(BSTR Name, BSTR Mailbox, BSTR Computer, LONG bNetwork)
{
    ModuleStateGuard guard;
    try {
        BStr computer = UncCopy(Computer);
        Microsoft::WRL::ComPtr<IKalvoraUser> user;
        HRESULT hr = CreateUser(user);
        if (FAILED(hr)) {
            KALVORA_REPORT(L"CoCreateInstace for IKalvoraUser failed");
            return hr;
        }
        // The results of the puts are not examined: a null name or computer is
        // refused there, and the property keeps its initial value.
        user->put_Name(Name);
        user->put_Computer(computer.Get());
        user->put_IsNetwork(bNetwork);
        user->put_Mailbox(Mailbox);
        std::wstring security;
        if (LoadResourceString(IDS_SECURITY_DEFAULT, security))
            user->put_SecurityLevel(BStr::Of(security).Get());
        if (FAILED(user->PopulateMyComputer()))
            KALVORA_REPORT(FormatText(L"Error Writing My Computer Configuration: user: (%s),computer: (%s)",
                                      {Name, computer.Get()}).c_str());
        hr = user->WriteToRegistry();
        if (FAILED(hr))
            KALVORA_REPORT(FormatText(L"Error WriteToRegistry: user: (%s)", {Name}).c_str());
        const HRESULT added = Add(user.Get());
        return SUCCEEDED(added) ? hr : added;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CEnumKalvoraUser::AddUserDB(VARIANT user, VARIANT comp, VARIANT myComp, VARIANT myDesk, VARIANT myDoc,
                                         VARIANT myFav, VARIANT networkEnable, VARIANT security)
{
    ModuleStateGuard guard;
    // Every argument is converted first: a refused one adds nothing.
    const VARIANT* args[] = {&user, &comp, &myComp, &myDesk, &myDoc, &myFav, &networkEnable, &security};
    BStr text[8];
    for (int i = 0; i < 8; ++i) {
        if (HRESULT hr = ArgumentText(*args[i], text[i]); FAILED(hr))
            return hr;
    }
    const LONG network = BStr::SameText(text[6].Get(), BStr::Of(L"true").Get()) ? 1 : 0;

    Microsoft::WRL::ComPtr<IKalvoraUser> created;
    HRESULT hr = CreateUser(created);
    if (FAILED(hr)) {
        KALVORA_REPORT(L"CoCreateInstace for IKalvoraUser failed");
        return hr;
    }
    created->put_Name(text[0].Get());
    created->put_Computer(text[1].Get());  // as given: no UNC prefix
    created->put_IsNetwork(network);
    created->put_SecurityLevel(text[7].Get());
    created->put_MyComputer(text[2].Get());
    created->put_MyDesktop(text[3].Get());
    created->put_MyDocuments(text[4].Get());
    created->put_MyFavorites(text[5].Get());
    hr = created->WriteToRegistry();  // not reported here
    const HRESULT added = Add(created.Get());
    return SUCCEEDED(added) ? hr : added;
}

STDMETHODIMP CEnumKalvoraUser::ImportFile(BSTR ImportFile, LONG* Check)
{
    ModuleStateGuard guard;
    if (!Check)
        return E_POINTER;
    // A path that holds a NUL would name another file, and a device (NUL,
    // CON, a pipe) is no file and need never end: neither is opened.
    const UINT length = SysStringLen(ImportFile);
    FileHandle file{length && !std::wmemchr(ImportFile, L'\0', length)
                        ? CreateFileW(ImportFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                        : INVALID_HANDLE_VALUE};
    if (file.handle == INVALID_HANDLE_VALUE || GetFileType(file.handle) != FILE_TYPE_DISK) {
        *Check = -2;
        return S_OK;
    }
    // Single-byte text, widened byte by byte. A line ends at a line feed, a
    // carriage return right before it going with it; the first line is the
    // heading. Lines may have any length. As in the C runtime's text mode, a
    // Ctrl-Z byte ends the file: the text before it on its line is the last line.
    LONG lines = 0;     // lines read, the heading included
    LONG handled = 0;   // records handed to AddUser
    try {
        std::wstring line;
        auto record = [&](bool lineFeed) {
            if (lineFeed && !line.empty() && line.back() == L'\r')
                line.pop_back();
            if (lines++ > 0) {
                const ImportRecord r = CutImportRecord(line);
                const BStr user = Required(BStr::Of(r.user)), computer = Required(BStr::Of(r.computer)),
                           mailbox = Required(BStr::Empty());
                AddUser(user.Get(), mailbox.Get(), computer.Get(), 1);
                ++handled;
            }
            line.clear();
        };
        // On the heap: AddUser and its network probes run on top of this frame,
        // on the host's thread, whose stack may be small.
        constexpr DWORD kChunkBytes = 65536;
        const std::unique_ptr<char[]> chunk(new char[kChunkBytes]);
        DWORD got = 0;
        bool ended = false;
        // A read error ends the file there: the records before it stay handled.
        while (!ended && ReadFile(file.handle, chunk.get(), kChunkBytes, &got, nullptr) && got > 0) {
            for (DWORD i = 0; i < got; ++i) {
                if (chunk[i] == '\x1A') {
                    ended = true;
                    break;
                }
                if (chunk[i] == '\n')
                    record(true);
                else
                    line.push_back(static_cast<wchar_t>(static_cast<unsigned char>(chunk[i])));
            }
        }
        if (!line.empty())
            record(false);  // the last line needs no line feed
        *Check = lines == 0 ? -1 : lines - 1;
    } catch (const std::bad_alloc&) {
        *Check = handled;  // out of memory ends the import: the records handled so far
    }
    return S_OK;
}

STDMETHODIMP CEnumKalvoraUser::CheckComputer(BSTR bsName, BSTR bsCompName, LONG* Check)
{
    ModuleStateGuard guard;
    if (!Check)
        return E_POINTER;
    LONG answer = 0;
    try {
        // Empty means a string of length 0; a null one is not empty, and then
        // matches a user whose name is empty.
        if (bsName && SysStringLen(bsName) == 0) {
            answer = -1;
        } else {
            for (std::size_t i = 0; i < m_users.Size(); ++i) {
                IKalvoraUser* user = m_users.At(i);
                if (!user)
                    continue;
                // Out of memory for the name's copy ends the check, whoever's
                // user it is, as in FindUser. Otherwise the name read counts
                // whatever its result (a client's own user may fail it), and a
                // null name is the empty string.
                BStr name;
                if (user->get_Name(name.Put()) == E_OUTOFMEMORY)
                    throw std::bad_alloc();
                if (!BStr::SameText(name.Get(), bsName))
                    continue;
                answer = -2;  // every matching entry reports once
                KALVORA_REPORT(FormatText(L"Add User. (%s), allready exists", {bsName}).c_str());
            }
        }
        if (bsCompName && SysStringLen(bsCompName) == 0) {
            *Check = answer - 4;
            return S_OK;
        }
        BStr unc = UncCopy(bsCompName);
        if (QueryComputer(unc.Get()) != 0)
            answer -= 8;
    } catch (const std::bad_alloc&) {
        // Out of memory ends the check: the flags found so far.
    }
    *Check = answer;
    return S_OK;
}

}  // namespace kalvora
