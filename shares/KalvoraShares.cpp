// KalvoraShares.cpp: the share store: listing groups and shares, publishing
// and removing shares.
#include "shares/KalvoraShares.h"

#include <shlwapi.h>

#include <cwchar>
#include <new>

#include "diag/ReportEvent.h"
#include "module/BStr.h"
#include "module/HResult.h"
#include "module/Module.h"
#include "module/Resource.h"
#include "module/Text.h"
#include "platform/Directory.h"
#include "platform/Lists.h"
#include "shares/ShareText.h"

namespace kalvora {

using Microsoft::WRL::ComPtr;

namespace {

// Fixed enumeration buffers. A value whose name or data does not fit ends a
// listing (and makes the duplicate search of PutShare fail).
constexpr DWORD kValueNameChars = 520;  // terminator included
constexpr DWORD kValueDataBytes = 520;
constexpr DWORD kGroupNameChars = 260;  // terminator included

// Longest configuration text that PutShare writes.
constexpr size_t kMaxConfigChars = 519;

// A caller's BSTR as text: a null BSTR is the empty text.
const wchar_t* Text(BSTR text) noexcept { return text ? text : L""; }

// Blank is exactly the empty text, one space or two spaces.
bool IsBlank(const wchar_t* text) noexcept
{
    return std::wcscmp(text, L"") == 0 || std::wcscmp(text, L" ") == 0 || std::wcscmp(text, L"  ") == 0;
}

bool StartsWithTs(const std::wstring& text) noexcept
{
    return text.size() >= 2 && (text[0] == L't' || text[0] == L'T') && (text[1] == L's' || text[1] == L'S');
}

}  // namespace

void* KalvoraShares::FindInterface(REFIID riid) noexcept
{
    if (IsEqualIID(riid, IID_ISupportErrorInfo))
        return static_cast<ISupportErrorInfo*>(this);
    return DispatchImpl::FindInterface(riid);
}

STDMETHODIMP KalvoraShares::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IKalvoraShares) ? S_OK : S_FALSE;
}

RegKey KalvoraShares::OpenShareKey(const wchar_t* group)
{
    std::wstring path;
    std::wstring part;
    if (!LoadResourceString(IDS_SHARE_ROOT, path))
        return RegKey();
    if (!LoadResourceString(group ? IDS_SHARE_GROUP_PREFIX : IDS_SHARE_GROUP_LIST, part))
        return RegKey();
    path += part;
    if (group)
        path += group;

    HKEY key = nullptr;
    LONG err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, const_cast<LPWSTR>(L""),
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | kStoreView, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) {
        KALVORA_REPORT(L"Error getting share key");
        return RegKey();
    }
    return RegKey(key);
}

STDMETHODIMP KalvoraShares::PutShare(BSTR bsGroup, BSTR bsName, BSTR bsPath, BSTR bsPass, BSTR bsAgent,
                                     BSTR bsAppType, LONG* error)
{
    ModuleStateGuard guard;
    if (!error)
        return E_POINTER;
    *error = 0;
    try {
        const wchar_t* group = Text(bsGroup);
        const wchar_t* name = Text(bsName);
        std::wstring target = Text(bsPass);
        target += Text(bsPath);

        if (IsBlank(name)) {
            *error = -2;
            return S_OK;
        }
        if (IsBlank(group)) {
            *error = -3;
            return S_OK;
        }
        if (IsBlank(target.c_str())) {
            *error = -4;
            return S_OK;
        }

        RegKey key = OpenShareKey(group);
        if (!key)
            return E_FAIL;

        // Look for a share of exactly this name.
        const size_t nameLen = std::wcslen(name);
        wchar_t valueName[kValueNameChars];
        alignas(wchar_t) BYTE data[kValueDataBytes];
        DWORD valueNameLen = kValueNameChars;
        DWORD dataLen = kValueDataBytes;
        LONG err = RegEnumValueW(key.Get(), 0, valueName, &valueNameLen, nullptr, nullptr, data, &dataLen);
        if (err != ERROR_SUCCESS && err != ERROR_NO_MORE_ITEMS) {
            KALVORA_REPORT_ENUM();
            return Win32ToHResult(err);
        }
        for (DWORD index = 1; err == ERROR_SUCCESS; ++index) {
            if (valueNameLen == nameLen && std::wmemcmp(valueName, name, nameLen) == 0) {
                *error = -1;
                return S_OK;
            }
            valueNameLen = kValueNameChars;
            dataLen = kValueDataBytes;
            err = RegEnumValueW(key.Get(), index, valueName, &valueNameLen, nullptr, nullptr, data, &dataLen);
            if (err != ERROR_SUCCESS && err != ERROR_NO_MORE_ITEMS) {
                KALVORA_REPORT_ENUM();
                return Win32ToHResult(err);
            }
        }

        // UNC paths and "ts" targets are stored as they are; anything else
        // carries the agent and the application type.
        std::wstring config;
        if (PathIsUNCW(target.c_str()) || StartsWithTs(target))
            config = target;
        else
            config = FormatText(L"%s,&agent=%s&AppType=%s", {target.c_str(), Text(bsAgent), Text(bsAppType)});
        if (config.size() > kMaxConfigChars)
            return Win32ToHResult(ERROR_INSUFFICIENT_BUFFER);

        // The data is stored without a terminator. RegSetValueExW adds one to
        // REG_SZ data when the character after the counted ones is null, so a
        // non-null character follows the text in the buffer.
        const DWORD bytes = static_cast<DWORD>(config.size() * sizeof(wchar_t));
        config.push_back(L'.');
        err = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(config.data()), bytes);
        if (err != ERROR_SUCCESS) {
            KALVORA_REPORT(FormatText(L"Error Writing Share Configuration: (%s), Access Denied", {name}).c_str());
            return Win32ToHResult(err);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KalvoraShares::RemoveShare(BSTR bsGroup, BSTR bsName)
{
    ModuleStateGuard guard;
    try {
        // The caller passes a display text. A text without " - [" is a name as
        // it is (a share without data is displayed by its name alone).
        const std::wstring valueName(ShareValueName(Text(bsName)));

        RegKey key = OpenShareKey(Text(bsGroup));
        if (!key)
            return E_FAIL;
        LONG err = RegDeleteValueW(key.Get(), valueName.c_str());
        if (err != ERROR_SUCCESS) {
            KALVORA_REPORT(FormatText(L"Error Deleting key: (%s), Access Denied", {valueName.c_str()}).c_str());
            // The Win32 code itself, not converted.
            return static_cast<HRESULT>(err);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KalvoraShares::GetShareName(LONG lIndex, BSTR* bsName)
{
    ModuleStateGuard guard;
    return CopyEntry(m_shares, lIndex, bsName);
}

STDMETHODIMP KalvoraShares::GetShareCount(BSTR bsGroup, LONG* lCount)
{
    ModuleStateGuard guard;
    if (!lCount)
        return E_POINTER;
    try {
        RegKey key = OpenShareKey(Text(bsGroup));
        if (!key)
            return E_FAIL;
        m_shares.clear();

        // Stops at the first value that does not fit the buffers, at the end
        // of the values, or at any error.
        wchar_t name[kValueNameChars];
        BYTE data[kValueDataBytes];
        for (DWORD index = 0;; ++index) {
            DWORD nameLen = kValueNameChars;
            DWORD dataLen = kValueDataBytes;
            if (RegEnumValueW(key.Get(), index, name, &nameLen, nullptr, nullptr, data, &dataLen) != ERROR_SUCCESS)
                break;
            m_shares.push_back(ShownShareText(ShareDisplayText(std::wstring_view(name, nameLen), data, dataLen)));
        }
        *lCount = static_cast<LONG>(m_shares.size());
        return S_OK;
    } catch (const std::bad_alloc&) {
        m_shares.clear();
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KalvoraShares::GetGroupCount(LONG* lCount)
{
    ModuleStateGuard guard;
    if (!lCount)
        return E_POINTER;
    try {
        ComPtr<IADsADSystemInfo> info;
        HRESULT hr = CreateSystemInfo(info);
        if (FAILED(hr))
            return hr;
        BStr domain;
        info->get_DomainShortName(domain.Put());  // a missing name is an empty one
        // No filter: every child is judged by its class. A failed bind is
        // passed on like a failed enumerator.
        ComPtr<IEnumVARIANT> elements;
        hr = EnumerateContainer(FormatText(L"WinNT://%s", {domain.Get() ? domain.Get() : L""}), nullptr, elements);
        if (FAILED(hr))
            return hr;
        if (!elements)
            return E_UNEXPECTED;
        m_domainGroups.clear();
        ForEachElement(elements.Get(), [this](IADs* object) {
            BStr className, path, name;
            if (SUCCEEDED(object->get_Class(className.Put())) &&
                std::wstring_view(className.Get() ? className.Get() : L"", className.Length()) == L"Group" &&
                object->get_ADsPath(path.Put()) == S_OK) {
                // Listed whatever the Name read gives: what it left, a null name as an empty one.
                object->get_Name(name.Put());
                m_domainGroups.emplace_back(name.Get() ? name.Get() : L"", name.Length());
            }
        });
        *lCount = static_cast<LONG>(m_domainGroups.size());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;  // the list keeps what was appended
    }
}

STDMETHODIMP KalvoraShares::GetRegGroupName(LONG lIndex, BSTR* bsShareName)
{
    ModuleStateGuard guard;
    if (!bsShareName)
        return E_POINTER;
    try {
        // Without a key the enumeration fails with the platform's own code.
        RegKey key = OpenShareKey(nullptr);
        wchar_t name[kGroupNameChars];
        LONG err = RegEnumKeyW(key.Get(), static_cast<DWORD>(lIndex), name, kGroupNameChars);
        if (err == ERROR_SUCCESS) {
            BSTR copy = SysAllocString(name);
            if (!copy)
                return E_OUTOFMEMORY;
            *bsShareName = copy;
            return S_OK;
        }
        if (err == ERROR_NO_MORE_ITEMS) {
            *bsShareName = nullptr;
            return Win32ToHResult(err);
        }
        KALVORA_REPORT_ENUM();
        return Win32ToHResult(err);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KalvoraShares::GetRegGroupCount(LONG* lCount)
{
    ModuleStateGuard guard;
    if (!lCount)
        return E_POINTER;
    try {
        // Without a key the first enumeration step fails with the platform's
        // own code.
        RegKey key = OpenShareKey(nullptr);
        wchar_t name[kGroupNameChars];
        LONG err = RegEnumKeyW(key.Get(), 0, name, kGroupNameChars);
        if (err != ERROR_SUCCESS && err != ERROR_NO_MORE_ITEMS) {
            KALVORA_REPORT_ENUM();
            return Win32ToHResult(err);
        }
        LONG count = 0;
        while (err == ERROR_SUCCESS) {
            ++count;
            err = RegEnumKeyW(key.Get(), static_cast<DWORD>(count), name, kGroupNameChars);
            if (err != ERROR_SUCCESS && err != ERROR_NO_MORE_ITEMS) {
                KALVORA_REPORT_ENUM();
                return Win32ToHResult(err);
            }
        }
        *lCount = count;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KalvoraShares::GetGroupName(LONG lIndex, BSTR* bsName)
{
    ModuleStateGuard guard;
    return CopyEntry(m_domainGroups, lIndex, bsName);
}

}  // namespace kalvora
