// FaultHook.cpp: linked only into the tests' build of the module. Counts the
// module's own calls of the platform functions that can fail, by kind, and
// makes the n-th call of one kind fail: the module's import table is pointed
// at traps when the DLL loads, and operator new is replaced (the C++ runtime
// is linked into the DLL, so the replacement covers this module only).
#include "support/FaultHook.h"

#include <activeds.h>
#include <ole2.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace kalvora::test {
namespace {

struct KindState {
    LONG calls;
    LONG failAt;
    LONG code;
    const char* failed;
};
KindState g_kinds[kFaultKinds];

// Counts a call of `kind`; true when it is the one to fail.
bool Fires(FaultKind kind, const char* name, LONG& code) noexcept
{
    KindState& k = g_kinds[kind];
    if (InterlockedIncrement(&k.calls) != k.failAt)
        return false;
    k.failed = name;
    code = k.code;
    return true;
}

// A trap: the function's real address from the import table, and a
// stand-in with its signature that fails (`fail`) or calls it.
#define KALVORA_TRAP(kind, type, name, params, args, fail) \
    decltype(&::name) real_##name;                          \
    type WINAPI Trap_##name params                          \
    {                                                       \
        LONG code = 0;                                      \
        if (Fires(kind, #name, code))                       \
            fail;                                           \
        return real_##name args;                            \
    }

KALVORA_TRAP(kFaultRegistry, LONG, RegCreateKeyExW,
             (HKEY k, LPCWSTR s, DWORD r, LPWSTR c, DWORD o, REGSAM a, LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD d),
             (k, s, r, c, o, a, sa, out, d), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegOpenKeyExW, (HKEY k, LPCWSTR s, DWORD o, REGSAM a, PHKEY out), (k, s, o, a, out),
             return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegQueryInfoKeyW,
             (HKEY k, LPWSTR c, LPDWORD cl, LPDWORD r, LPDWORD sk, LPDWORD msk, LPDWORD mc, LPDWORD v, LPDWORD mvn,
              LPDWORD mvd, LPDWORD sd, PFILETIME t),
             (k, c, cl, r, sk, msk, mc, v, mvn, mvd, sd, t), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegEnumKeyExW,
             (HKEY k, DWORD i, LPWSTR n, LPDWORD nl, LPDWORD r, LPWSTR c, LPDWORD cl, PFILETIME t),
             (k, i, n, nl, r, c, cl, t), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegEnumKeyW, (HKEY k, DWORD i, LPWSTR n, DWORD nl), (k, i, n, nl), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegEnumValueW,
             (HKEY k, DWORD i, LPWSTR n, LPDWORD nl, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD dl),
             (k, i, n, nl, r, t, d, dl), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegQueryValueExW, (HKEY k, LPCWSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD dl),
             (k, n, r, t, d, dl), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegSetValueExW, (HKEY k, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD dl),
             (k, n, r, t, d, dl), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegDeleteKeyExW, (HKEY k, LPCWSTR s, REGSAM a, DWORD r), (k, s, a, r), return code)
KALVORA_TRAP(kFaultRegistry, LONG, RegDeleteValueW, (HKEY k, LPCWSTR n), (k, n), return code)
KALVORA_TRAP(kFaultCreate, HRESULT, CoCreateInstance, (REFCLSID c, LPUNKNOWN o, DWORD x, REFIID i, LPVOID* out),
             (c, o, x, i, out), return (*out = nullptr, HRESULT(code)))
KALVORA_TRAP(kFaultAlloc, BSTR, SysAllocString, (const OLECHAR* s), (s), return nullptr)
KALVORA_TRAP(kFaultAlloc, BSTR, SysAllocStringLen, (const OLECHAR* s, UINT n), (s, n), return nullptr)
KALVORA_TRAP(kFaultAdsi, HRESULT, ADsGetObject, (LPCWSTR p, REFIID i, VOID** out), (p, i, out),
             return (*out = nullptr, HRESULT(code)))
KALVORA_TRAP(kFaultAdsi, HRESULT, ADsBuildEnumerator, (IADsContainer* c, IEnumVARIANT** out), (c, out),
             return (*out = nullptr, HRESULT(code)))
KALVORA_TRAP(kFaultTypeLib, HRESULT, LoadRegTypeLib, (REFGUID g, WORD a, WORD b, LCID l, ITypeLib** out),
             (g, a, b, l, out), return (*out = nullptr, HRESULT(code)))

#undef KALVORA_TRAP

struct Trap {
    const char* name;
    void* trap;
    void** real;
};
#define KALVORA_ENTRY(name) {#name, reinterpret_cast<void*>(&Trap_##name), reinterpret_cast<void**>(&real_##name)}
const Trap kTraps[] = {
    KALVORA_ENTRY(RegCreateKeyExW),  KALVORA_ENTRY(RegOpenKeyExW),     KALVORA_ENTRY(RegQueryInfoKeyW),
    KALVORA_ENTRY(RegEnumKeyExW),    KALVORA_ENTRY(RegEnumKeyW),       KALVORA_ENTRY(RegEnumValueW),
    KALVORA_ENTRY(RegQueryValueExW), KALVORA_ENTRY(RegSetValueExW),    KALVORA_ENTRY(RegDeleteKeyExW),
    KALVORA_ENTRY(RegDeleteValueW),  KALVORA_ENTRY(CoCreateInstance),  KALVORA_ENTRY(SysAllocString),
    KALVORA_ENTRY(SysAllocStringLen), KALVORA_ENTRY(ADsGetObject),     KALVORA_ENTRY(ADsBuildEnumerator),
    KALVORA_ENTRY(LoadRegTypeLib),
};
#undef KALVORA_ENTRY

// Points this module's import slots of the trapped functions at the traps.
bool PatchImports() noexcept
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&Fires), &self))
        return false;
    auto* base = reinterpret_cast<BYTE*>(self);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; d->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char* name = reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            for (const Trap& t : kTraps) {
                if (std::strcmp(name, t.name) != 0)
                    continue;
                DWORD old = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
                *t.real = reinterpret_cast<void*>(slots->u1.Function);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(t.trap);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            }
        }
    }
    return true;
}
const bool g_patched = PatchImports();

}  // namespace
}  // namespace kalvora::test

using namespace kalvora::test;

extern "C" HRESULT __stdcall KalvoraTestFailCall(LONG kind, LONG n, LONG code)
{
    if (kind < 0 || kind >= kFaultKinds || !g_patched)
        return E_INVALIDARG;
    KindState& k = g_kinds[kind];
    k.failAt = 0;
    k.failed = nullptr;
    k.code = code;
    InterlockedExchange(&k.calls, 0);
    k.failAt = n;
    return S_OK;
}

extern "C" LONG __stdcall KalvoraTestCalls(LONG kind, const char** failed)
{
    if (kind < 0 || kind >= kFaultKinds)
        return -1;
    if (failed)
        *failed = g_kinds[kind].failed;
    return g_kinds[kind].calls;
}

// ---- the module's allocations ---------------------------------------------------------

void* operator new(std::size_t size)
{
    LONG code;
    void* p = Fires(kFaultAlloc, "operator new", code) ? nullptr : std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    LONG code;
    return Fires(kFaultAlloc, "operator new", code) ? nullptr : std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
