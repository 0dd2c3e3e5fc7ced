// ActiveDs.cpp: an activeds.dll for test prefixes. Placed beside a module
// that imports it, it is loaded instead of the system's. ADsGetObject finds
// the provider of a path as Windows does, through
// HKLM\Software\Microsoft\ADs\Providers\<prefix> (default value: a ProgID
// whose class answers IADsOpenDSObject); the enumerator helpers work on any
// container.
#include "Doubles.h"

#include <adserr.h>
#include <adshlp.h>

using namespace kalvora::doubles;

namespace {

// The ProgID of the provider named by the part of `path` before its first
// ':'. Provider names match case-sensitively, as on Windows.
bool ProviderProgId(const wchar_t* path, std::wstring& progId) {
    const wchar_t* colon = path ? wcschr(path, L':') : nullptr;
    if (!colon || colon == path) return false;
    const std::wstring prefix(path, colon);
    if (prefix.find(L'\\') != std::wstring::npos) return false;
    Key providers = OpenKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\ADs\\Providers", KEY_READ);
    if (!providers) return false;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];  // the longest key name the registry allows, and its NUL
        DWORD length = 256;
        LONG rc = RegEnumKeyExW(providers.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return false;
        if (rc == ERROR_SUCCESS && prefix == name)
            return ReadText(OpenKey(providers.Get(), name, KEY_READ).Get(), nullptr, progId) && !progId.empty();
    }
}

}  // namespace

extern "C" {

HRESULT WINAPI ADsGetObject(LPCWSTR path, REFIID riid, VOID** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    std::wstring progId;
    if (!ProviderProgId(path, progId)) return E_ADS_BAD_PATHNAME;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    ComPtr<IADsOpenDSObject> provider;
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&provider));
    if (FAILED(hr)) return hr;
    Bstr name(path);
    ComPtr<IDispatch> object;
    hr = provider->OpenDSObject(name.Get(), nullptr, nullptr, ADS_SECURE_AUTHENTICATION, &object);
    if (FAILED(hr)) return hr;
    return object ? object->QueryInterface(riid, ppv) : E_UNEXPECTED;
}

HRESULT WINAPI ADsBuildEnumerator(IADsContainer* container, IEnumVARIANT** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!container) return E_POINTER;
    ComPtr<IUnknown> items;
    HRESULT hr = container->get__NewEnum(&items);
    if (FAILED(hr)) return hr;
    return items ? items->QueryInterface(IID_PPV_ARGS(out)) : E_UNEXPECTED;
}

HRESULT WINAPI ADsEnumerateNext(IEnumVARIANT* items, ULONG count, VARIANT* out, ULONG* fetched) {
    return items ? items->Next(count, out, fetched) : E_POINTER;
}

HRESULT WINAPI ADsFreeEnumerator(IEnumVARIANT* items) {
    if (!items) return E_POINTER;
    items->Release();
    return S_OK;
}

}  // extern "C"
