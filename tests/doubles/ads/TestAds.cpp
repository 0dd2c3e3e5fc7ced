// TestAds.cpp: entry points of kalvora_testads.dll: its class objects and
// its registration, which puts the test ADSystemInfo and the LDAP and WinNT
// namespaces in place of the system's in the current registry view.
#include "TestAds.h"

#include <olectl.h>

using namespace kalvora::doubles;

// mingw declares these without defining them.
extern "C" const CLSID CLSID_ADSystemInfo = {
    0x50b6327f, 0xafd1, 0x11d2, {0x9c, 0xb9, 0x00, 0x00, 0xf8, 0x7a, 0x36, 0x9e}};
extern "C" const IID IID_IADsADSystemInfo = {
    0x5bb11929, 0xafd1, 0x11d2, {0x9c, 0xb9, 0x00, 0x00, 0xf8, 0x7a, 0x36, 0x9e}};

namespace {

const CLSID CLSID_TestLdapNamespace = {
    0x25db8234, 0x8985, 0x4983, {0x90, 0xf6, 0xcc, 0xd1, 0x84, 0x85, 0x5b, 0x60}};
const CLSID CLSID_TestWinNTNamespace = {
    0x490896ec, 0x5c9d, 0x49e5, {0xa0, 0xed, 0xfa, 0xd2, 0x58, 0x86, 0x3b, 0x3a}};

struct Provider {
    const CLSID* clsid;
    const wchar_t* prefix;  // of the ADsPaths it serves
    const wchar_t* progId;
    HRESULT (*create)(REFIID, void**);
};
const Provider kProviders[] = {
    {&CLSID_TestLdapNamespace, L"LDAP", L"KalvoraTest.LDAPNamespace", CreateLdapNamespace},
    {&CLSID_TestWinNTNamespace, L"WinNT", L"KalvoraTest.WinNTNamespace", CreateWinNTNamespace},
};

// Keeps the default value that registration replaced, for unregistration.
const wchar_t kSaved[] = L"KalvoraTestPrevious";
const wchar_t kClasses[] = L"Software\\Classes\\";
const wchar_t kSystemInfoServer[] =
    L"Software\\Classes\\CLSID\\{50B6327F-AFD1-11D2-9CB9-0000F87A369E}\\InprocServer32";

LONG g_locks = 0;

class ClassFactory : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(HRESULT (*create)(REFIID, void**)) : m_create(create) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : m_create(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? InterlockedIncrement(&g_locks) : InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    HRESULT (*m_create)(REFIID, void**);
};

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

LONG SetDefault(const std::wstring& path, const std::wstring& value, const wchar_t* name = nullptr,
                const std::wstring& data = {}) {
    Key key = CreateKey(HKEY_LOCAL_MACHINE, path, KEY_SET_VALUE);
    if (!key) return ERROR_ACCESS_DENIED;
    LONG rc = WriteText(key.Get(), nullptr, value);
    return rc == ERROR_SUCCESS && name ? WriteText(key.Get(), name, data) : rc;
}

// Sets the default value of HKLM\<path>, keeping the value it replaces.
LONG Replace(const std::wstring& path, const std::wstring& value) {
    Key key = CreateKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!key) return ERROR_ACCESS_DENIED;
    std::wstring previous;
    if (ReadText(key.Get(), nullptr, previous) && !SameText(previous, value)) {
        LONG rc = WriteText(key.Get(), kSaved, previous);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return WriteText(key.Get(), nullptr, value);
}

// Undoes Replace while the default value still is `value`: puts the kept
// value back, or deletes the key when there was none.
LONG Restore(const std::wstring& path, const std::wstring& value) {
    Key key = OpenKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | KEY_SET_VALUE);
    std::wstring current, saved;
    if (!key || !ReadText(key.Get(), nullptr, current) || !SameText(current, value)) return ERROR_SUCCESS;
    if (!ReadText(key.Get(), kSaved, saved)) {
        key.Reset();
        return RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    }
    LONG rc = WriteText(key.Get(), nullptr, saved);
    return rc == ERROR_SUCCESS ? RegDeleteValueW(key.Get(), kSaved) : rc;
}

LONG DeleteTree(const std::wstring& path) {
    LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

std::wstring ProviderKey(const Provider& p) {
    return std::wstring(L"Software\\Microsoft\\ADs\\Providers\\") + p.prefix;
}

}  // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    HRESULT (*create)(REFIID, void**) = nullptr;
    if (clsid == CLSID_ADSystemInfo) create = CreateSystemInfo;
    for (const Provider& p : kProviders)
        if (clsid == *p.clsid) create = p.create;
    if (!create) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<ClassFactory> factory(new ClassFactory(create));
    return factory->QueryInterface(riid, ppv);
}

HRESULT WINAPI DllCanUnloadNow() { return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
    const std::wstring path = ModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return SELFREG_E_CLASS;
    LONG rc = Replace(kSystemInfoServer, path);
    if (rc == ERROR_SUCCESS) rc = SetDefault(kSystemInfoServer, path, L"ThreadingModel", L"Both");
    for (const Provider& p : kProviders) {
        const std::wstring clsid = GuidText(*p.clsid), key = std::wstring(kClasses) + L"CLSID\\" + clsid;
        const std::wstring description = std::wstring(L"Kalvora test ") + p.prefix + L" namespace";
        if (rc == ERROR_SUCCESS) rc = SetDefault(key, description);
        if (rc == ERROR_SUCCESS) rc = SetDefault(key + L"\\InprocServer32", path, L"ThreadingModel", L"Both");
        if (rc == ERROR_SUCCESS) rc = SetDefault(key + L"\\ProgID", p.progId);
        if (rc == ERROR_SUCCESS) rc = SetDefault(kClasses + std::wstring(p.progId), description);
        if (rc == ERROR_SUCCESS) rc = SetDefault(kClasses + std::wstring(p.progId) + L"\\CLSID", clsid);
        if (rc == ERROR_SUCCESS) rc = Replace(ProviderKey(p), p.progId);
    }
    return HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI DllUnregisterServer() {
    const std::wstring path = ModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
    LONG rc = Restore(kSystemInfoServer, path);
    for (const Provider& p : kProviders) {
        LONG steps[] = {Restore(ProviderKey(p), p.progId),
                        DeleteTree(std::wstring(kClasses) + L"CLSID\\" + GuidText(*p.clsid)),
                        DeleteTree(kClasses + std::wstring(p.progId))};
        for (LONG step : steps)
            if (rc == ERROR_SUCCESS) rc = step;
    }
    return HRESULT_FROM_WIN32(rc);
}

}  // extern "C"
