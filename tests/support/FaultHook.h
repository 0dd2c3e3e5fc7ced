// FaultHook.h: the failure hook of the tests' build of the module. That build
// counts the module's own platform calls by kind and can make the n-th call
// of one kind fail; the product DLL has none of this.
#pragma once

#include <windows.h>

namespace kalvora::test {

enum FaultKind : LONG {
    kFaultAlloc,     // operator new (all forms), SysAllocString, SysAllocStringLen
    kFaultRegistry,  // the Reg* calls that open, create, enumerate, read, write and delete
    kFaultCreate,    // CoCreateInstance
    kFaultAdsi,      // ADsGetObject, ADsBuildEnumerator
    kFaultTypeLib,   // LoadRegTypeLib
    kFaultKinds
};

// Exports of the tests' build:
// KalvoraTestFailCall(kind, n, code): counts the calls of `kind` from 0 again
// and makes the n-th one fail (n = 0: none) with `code` (a registry error, an
// HRESULT; allocations fail as they do when memory runs out).
using FailCallFn = HRESULT(STDAPICALLTYPE*)(LONG kind, LONG n, LONG code);
// KalvoraTestCalls(kind, failed): the calls of `kind` since it was last armed;
// *failed names the function whose call was made to fail (null: none yet).
using CallsFn = LONG(STDAPICALLTYPE*)(LONG kind, const char** failed);

// The hook's entry points in the tests' module as it is loaded now (null
// when it is not).
template <class Fn>
Fn HookEntry(const char* name)
{
    const HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
inline FailCallFn FailCall() { return HookEntry<FailCallFn>("KalvoraTestFailCall"); }
inline CallsFn Calls() { return HookEntry<CallsFn>("KalvoraTestCalls"); }

}  // namespace kalvora::test
