// Module.h: module-wide state of KalvoraAdminUser.DLL: the application object,
// the COM module (object map, lock count, termination list, critical sections)
// and the module state guard.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <string>

#include "ComBase.h"

namespace kalvora {

// One creatable class: its identifier, its registry script and its cached
// class object.
struct ObjectMapEntry {
    const CLSID* clsid;
    CreatorFn creator;
    UINT registryScript;         // id of the REGISTRY resource
    std::atomic<IClassFactory*> classObject;  // created on first request, kept until termination
};

class ComModule {
public:
    // Called from the application's start-up and shut-down.
    void Init(ObjectMapEntry* map, HINSTANCE instance, const GUID* libid) noexcept;
    void Term() noexcept;

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;
    HRESULT RegisterServer() noexcept;
    HRESULT UnregisterServer() noexcept;
    // Runs every map entry's registry script in order; stops at the first failure.
    HRESULT RunRegistryScripts(bool registering) noexcept;

    // Functions run newest first when the module terminates.
    HRESULT AddTermFunc(void (*fn)(void*), void* arg) noexcept;

    HINSTANCE Instance() const noexcept { return m_instance; }
    const GUID& LibId() const noexcept { return *m_libid; }
    CRITICAL_SECTION& StaticDataLock() noexcept { return m_csStaticData; }

    LONG Lock() noexcept { return InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_lockCount); }
    LONG LockCount() const noexcept { return m_lockCount; }
    void CountObjects(LONG delta) noexcept { InterlockedExchangeAdd(&m_objectCount, delta); }
    LONG ObjectCount() const noexcept { return m_objectCount; }

private:
    struct TermFunc {
        void (*fn)(void*);
        void* arg;
        TermFunc* next;
    };

    ObjectMapEntry* m_map = nullptr;
    HINSTANCE m_instance = nullptr;
    const GUID* m_libid = nullptr;
    LONG m_lockCount = 0;
    LONG m_objectCount = 0;
    TermFunc* m_termFuncs = nullptr;
    CRITICAL_SECTION m_csStaticData{};
    CRITICAL_SECTION m_csObjMap{};
    bool m_initialised = false;
};

extern ComModule g_module;

// Holds a critical section for the lifetime of the object.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& cs) noexcept : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CriticalSectionLock() { LeaveCriticalSection(&m_cs); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// The DLL's application object: start-up and shut-down of the module.
class CKalvoraAdminUserApp {
public:
    BOOL InitInstance(HINSTANCE instance) noexcept;
    int ExitInstance() noexcept;
};

// Per-module state that the guard makes current: where resources are found
// and the module's side-by-side activation context.
struct ModuleState {
    HINSTANCE resourceHandle;
    HANDLE activationContext;  // INVALID_HANDLE_VALUE when there is none
};

// Entered first by every interface method (but WriteToRegistry) and by
// DllCanUnloadNow: makes this module's state current on the calling thread
// and restores the caller's state on every way out.
class ModuleStateGuard {
public:
    ModuleStateGuard() noexcept;
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    ModuleState* m_previous;
    ULONG_PTR m_cookie;
    bool m_activated;
};

// The state current on this thread, or null outside any guard.
ModuleState* CurrentModuleState() noexcept;

// The module whose resources the calling thread sees: this module inside a
// guard, the process's main module outside one.
HINSTANCE ResourceHandle() noexcept;

// Loads string resource id through ResourceHandle(). False when it is missing.
bool LoadResourceString(UINT id, std::wstring& out);

}  // namespace kalvora
