// Module.cpp: DLL entry points, the object map, class objects, registration
// and the module state guard.
#include "module/Module.h"

#include <new>

#include <wrl/client.h>

#include "KalvoraAdminUser_h.h"
#include "collection/EnumKalvoraUser.h"
#include "diag/TraceClient.h"
#include "module/HResult.h"
#include "module/Registrar.h"
#include "module/Resource.h"
#include "module/StaticRuntime.h"
#include "shares/KalvoraShares.h"
#include "user/KalvoraUser.h"

namespace kalvora {

ComModule g_module;

namespace {

CKalvoraAdminUserApp g_app;

// Creatable classes in map order: registration, unregistration, lookup and
// termination all walk them in this order.
ObjectMapEntry g_objectMap[] = {
    {&CLSID_KalvoraUser, &CreateObject<CKalvoraUser>, IDR_KALVORAUSER, nullptr},
    {&CLSID_EnumKalvoraUser, &CreateObject<CEnumKalvoraUser>, IDR_ENUMKALVORAUSER, nullptr},
    {&CLSID_KalvoraShares, &CreateObject<KalvoraShares>, IDR_KALVORASHARES, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// This module's state and the thread-local slot that says which module
// state is current on a thread.
ModuleState g_state{nullptr, INVALID_HANDLE_VALUE};
DWORD g_stateSlot = TLS_OUT_OF_INDEXES;

// Trace start flag: changed from 0 to 1 by the first start-up of the process.
LONG g_traceStarted = 0;

// The module's directory, with its closing separator.
bool ModuleDirectory(const wchar_t* path, wchar_t* dir, size_t size)
{
    size_t len = lstrlenW(path);
    if (len >= size)
        return false;
    lstrcpynW(dir, path, static_cast<int>(size));
    while (len > 0 && dir[len - 1] != L'\\' && dir[len - 1] != L'/')
        --len;
    dir[len] = L'\0';
    return true;
}

// The type library stored in the module, or in a .tlb file of the module's name.
HRESULT LoadModuleTypeLib(ITypeLib** lib, wchar_t* path, DWORD size)
{
    DWORD len = GetModuleFileNameW(g_module.Instance(), path, size);
    if (len == 0)
        return LastErrorHResult();
    if (len >= size)
        return Win32ToHResult(ERROR_INSUFFICIENT_BUFFER);
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, lib);
    if (SUCCEEDED(hr))
        return hr;
    wchar_t tlb[MAX_PATH];
    lstrcpynW(tlb, path, MAX_PATH);
    wchar_t* dot = nullptr;
    for (wchar_t* p = tlb; *p; ++p) {
        if (*p == L'.')
            dot = p;
        else if (*p == L'\\' || *p == L'/')
            dot = nullptr;
    }
    if (!dot || (dot - tlb) + 5 > MAX_PATH)
        return hr;
    lstrcpyW(dot, L".tlb");
    HRESULT hr2 = LoadTypeLibEx(tlb, REGKIND_NONE, lib);
    return SUCCEEDED(hr2) ? hr2 : hr;
}

}  // namespace

// ---- lock count -------------------------------------------------------------

void ModuleLock() noexcept { g_module.Lock(); }
void ModuleUnlock() noexcept { g_module.Unlock(); }
LONG ModuleLockCount() noexcept { return g_module.LockCount(); }
void ModuleObjects(LONG delta) noexcept { g_module.CountObjects(delta); }
LONG ModuleObjectCount() noexcept { return g_module.ObjectCount(); }

// ---- class factory ----------------------------------------------------------

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef()
{
    LONG ref = InterlockedIncrement(&m_ref);
    if (ref > 1)
        ModuleLock();  // references beyond the map's own keep the module loaded
    return ref;
}

STDMETHODIMP_(ULONG) ClassFactory::Release()
{
    LONG ref = InterlockedDecrement(&m_ref);
    if (ref >= 1)
        ModuleUnlock();
    if (ref == 0)
        delete this;
    return ref;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_creator(outer, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock)
{
    if (lock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

// ---- COM module -------------------------------------------------------------

void ComModule::Init(ObjectMapEntry* map, HINSTANCE instance, const GUID* libid) noexcept
{
    m_map = map;
    m_instance = instance;
    m_libid = libid;
    InitializeCriticalSection(&m_csStaticData);
    InitializeCriticalSection(&m_csObjMap);
    m_initialised = true;
}

void ComModule::Term() noexcept
{
    if (!m_initialised)
        return;
    for (ObjectMapEntry* e = m_map; e && e->clsid; ++e) {
        if (IClassFactory* factory = e->classObject.exchange(nullptr))
            factory->Release();
    }
    while (TermFunc* f = m_termFuncs) {
        m_termFuncs = f->next;
        f->fn(f->arg);
        delete f;
    }
    DeleteCriticalSection(&m_csStaticData);
    DeleteCriticalSection(&m_csObjMap);
    m_initialised = false;
}

HRESULT ComModule::AddTermFunc(void (*fn)(void*), void* arg) noexcept
{
    auto* f = new (std::nothrow) TermFunc{fn, arg, nullptr};
    if (!f)
        return E_OUTOFMEMORY;
    CriticalSectionLock lock(m_csStaticData);
    f->next = m_termFuncs;
    m_termFuncs = f;
    return S_OK;
}

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (ObjectMapEntry* e = m_map; e && e->clsid; ++e) {
        if (!IsEqualCLSID(*e->clsid, clsid))
            continue;
        IClassFactory* factory = e->classObject.load(std::memory_order_acquire);
        if (!factory) {
            CriticalSectionLock lock(m_csObjMap);
            factory = e->classObject.load(std::memory_order_relaxed);
            if (!factory) {
                factory = new (std::nothrow) ClassFactory(e->creator);
                if (!factory)
                    return E_OUTOFMEMORY;
                e->classObject.store(factory, std::memory_order_release);
            }
        }
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModule::RunRegistryScripts(bool registering) noexcept
{
    const RegistrarMode mode = registering ? RegistrarMode::Register : RegistrarMode::Unregister;
    for (ObjectMapEntry* e = m_map; e && e->clsid; ++e) {
        HRESULT hr = RunRegistryResource(m_instance, e->registryScript, mode);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT ComModule::RegisterServer() noexcept
{
    HRESULT hr = RunRegistryScripts(true);
    if (FAILED(hr))
        return hr;
    wchar_t path[MAX_PATH];
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    hr = LoadModuleTypeLib(lib.GetAddressOf(), path, MAX_PATH);
    if (FAILED(hr))
        return hr;
    wchar_t dir[MAX_PATH];
    ModuleDirectory(path, dir, MAX_PATH);
    return RegisterTypeLib(lib.Get(), path, dir);
}

HRESULT ComModule::UnregisterServer() noexcept
{
    HRESULT hr = RunRegistryScripts(false);
    if (FAILED(hr))
        return hr;
    wchar_t path[MAX_PATH];
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    hr = LoadModuleTypeLib(lib.GetAddressOf(), path, MAX_PATH);
    if (FAILED(hr))
        return hr;
    // The library's own attributes: its version, locale and target (win32 or
    // win64) say where RegisterTypeLib put it.
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR copy = *attr;
    lib->ReleaseTLibAttr(attr);
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

// ---- module state guard -------------------------------------------------------

ModuleState* CurrentModuleState() noexcept
{
    if (g_stateSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    return static_cast<ModuleState*>(TlsGetValue(g_stateSlot));
}

ModuleStateGuard::ModuleStateGuard() noexcept : m_previous(nullptr), m_cookie(0), m_activated(false)
{
    if (g_stateSlot != TLS_OUT_OF_INDEXES) {
        DWORD lastError = GetLastError();
        m_previous = static_cast<ModuleState*>(TlsGetValue(g_stateSlot));
        TlsSetValue(g_stateSlot, &g_state);
        SetLastError(lastError);
    }
    if (g_state.activationContext != INVALID_HANDLE_VALUE)
        m_activated = ActivateActCtx(g_state.activationContext, &m_cookie) != FALSE;
}

ModuleStateGuard::~ModuleStateGuard()
{
    DWORD lastError = GetLastError();
    if (m_activated)
        DeactivateActCtx(0, m_cookie);
    if (g_stateSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(g_stateSlot, m_previous);
    SetLastError(lastError);
}

HINSTANCE ResourceHandle() noexcept
{
    ModuleState* state = CurrentModuleState();
    return state ? state->resourceHandle : GetModuleHandleW(nullptr);
}

bool LoadResourceString(UINT id, std::wstring& out)
{
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW returns a pointer to the resource itself.
    int len = LoadStringW(ResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (len <= 0 || !text)
        return false;
    out.assign(text, static_cast<size_t>(len));
    return true;
}

// ---- application ------------------------------------------------------------

BOOL CKalvoraAdminUserApp::InitInstance(HINSTANCE instance) noexcept
{
    // Trace client: started once per process, by the first start-up only.
    if (InterlockedCompareExchange(&g_traceStarted, 1, 0) == 0) {
        diag::TraceClient& trace = diag::ProcessTraceClient();
        trace.Start();
        trace.SendStartupMessage();
    }

    g_stateSlot = TlsAlloc();
    g_state.resourceHandle = instance;
    ACTCTXW actctx{};
    actctx.cbSize = sizeof actctx;
    actctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    actctx.hModule = instance;
    actctx.lpResourceName = MAKEINTRESOURCEW(IDR_MANIFEST);
    g_state.activationContext = CreateActCtxW(&actctx);

    g_module.Init(g_objectMap, instance, &LIBID_KALVORAADMINUSERLib);
    return TRUE;
}

int CKalvoraAdminUserApp::ExitInstance() noexcept
{
    g_module.Term();
    if (g_state.activationContext != INVALID_HANDLE_VALUE) {
        ReleaseActCtx(g_state.activationContext);
        g_state.activationContext = INVALID_HANDLE_VALUE;
    }
    if (g_stateSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(g_stateSlot);
        g_stateSlot = TLS_OUT_OF_INDEXES;
    }
    return 0;
}

}  // namespace kalvora

// ---- exports ------------------------------------------------------------------

using kalvora::g_app;
using kalvora::g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        if (!g_app.InitInstance(instance)) {
            g_app.ExitInstance();
            return FALSE;
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        g_app.ExitInstance();
        kalvora::ReleaseStaticRuntimeAtUnload(reserved);
        return TRUE;
    default:
        return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    return g_module.GetClassObject(clsid, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    kalvora::ModuleStateGuard guard;
    return g_module.LockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return g_module.RegisterServer();
}

STDAPI DllUnregisterServer()
{
    return g_module.UnregisterServer();
}
