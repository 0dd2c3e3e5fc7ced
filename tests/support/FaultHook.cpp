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
#include <tuple>

namespace kalvora::test {
namespace {

struct {
    LONG calls, failAt, code;
    const char* failed;
} g_kinds[kFaultKinds];

// Counts a call of `kind`; true when it is the one to fail.
bool Fires(FaultKind kind, const char* name, LONG& code) noexcept
{
    auto& k = g_kinds[kind];
    if (InterlockedIncrement(&k.calls) != k.failAt)
        return false;
    k.failed = name;
    code = k.code;
    return true;
}

struct Entry {
    const char* name;
    void* trap;
    void** real;
};

// A trap: the function's real address from the import table, and a stand-in
// with its signature that calls it, unless this call is the one to fail:
// then an allocation returns null, a registry call the code, and the others
// null their last (out) parameter and return the code.
template <int Id, FaultKind Kind, typename Fn>
struct Trap;
template <int Id, FaultKind Kind, typename R, typename... A>
struct Trap<Id, Kind, R(WINAPI*)(A...)> {
    static inline R(WINAPI* real)(A...) = nullptr;
    static inline const char* name = nullptr;
    static R WINAPI Call(A... args)
    {
        LONG code = 0;
        if (!Fires(Kind, name, code))
            return real(args...);
        if constexpr (Kind == kFaultAlloc)
            return nullptr;
        else if constexpr (Kind == kFaultRegistry)
            return code;
        else
            return *std::get<sizeof...(A) - 1>(std::tie(args...)) = nullptr, HRESULT(code);
    }
    static Entry Make(const char* function)
    {
        name = function;
        return {function, reinterpret_cast<void*>(&Call), reinterpret_cast<void**>(&real)};
    }
};

#define KALVORA_TRAP(kind, function) Trap<__COUNTER__, kind, decltype(&::function)>::Make(#function)
const Entry kTraps[] = {
    KALVORA_TRAP(kFaultRegistry, RegCreateKeyExW),  KALVORA_TRAP(kFaultRegistry, RegOpenKeyExW),
    KALVORA_TRAP(kFaultRegistry, RegQueryInfoKeyW), KALVORA_TRAP(kFaultRegistry, RegEnumKeyExW),
    KALVORA_TRAP(kFaultRegistry, RegEnumKeyW),      KALVORA_TRAP(kFaultRegistry, RegEnumValueW),
    KALVORA_TRAP(kFaultRegistry, RegQueryValueExW), KALVORA_TRAP(kFaultRegistry, RegSetValueExW),
    KALVORA_TRAP(kFaultRegistry, RegDeleteKeyExW),  KALVORA_TRAP(kFaultRegistry, RegDeleteValueW),
    KALVORA_TRAP(kFaultCreate, CoCreateInstance),   KALVORA_TRAP(kFaultAlloc, SysAllocString),
    KALVORA_TRAP(kFaultAlloc, SysAllocStringLen),   KALVORA_TRAP(kFaultAdsi, ADsGetObject),
    KALVORA_TRAP(kFaultAdsi, ADsBuildEnumerator),   KALVORA_TRAP(kFaultTypeLib, LoadRegTypeLib),
};
#undef KALVORA_TRAP

// Points this module's import slots of the trapped functions at the traps.
int PatchImports() noexcept
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Fires), &self);
    auto* base = reinterpret_cast<BYTE*>(self);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; d->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Entry& t : kTraps) {
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
    return 0;
}
[[maybe_unused]] const int g_patched = PatchImports();

}  // namespace
}  // namespace kalvora::test

using namespace kalvora::test;

extern "C" HRESULT __stdcall KalvoraTestFailCall(LONG kind, LONG n, LONG code)
{
    if (kind < 0 || kind >= kFaultKinds)
        return E_INVALIDARG;
    auto& k = g_kinds[kind];
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

// The C++ run time's other forms of new (arrays, nothrow) call this one, and
// its deletes free() what it allocates.
void* operator new(std::size_t size)
{
    LONG code;
    void* p = Fires(kFaultAlloc, "operator new", code) ? nullptr : std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
