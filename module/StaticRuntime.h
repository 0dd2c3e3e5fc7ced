// StaticRuntime.h: releasing, when a DLL is unloaded, what the C++ run time
// linked into it keeps for the life of the DLL (module/StaticRuntime.cpp,
// linked into each DLL).
#pragma once

#include <windows.h>

namespace kalvora {

// For DllMain at DLL_PROCESS_DETACH, with its `reserved` argument. When
// FreeLibrary unloads the DLL (reserved null, not the end of the process),
// the run time's emergency exception pool and every thread's emulated
// thread-local storage are freed after DllMain returns, as the C run time's
// very last exit step: after the static destructors and the unwind tables'
// deregistration.
void ReleaseStaticRuntimeAtUnload(LPVOID reserved) noexcept;

}  // namespace kalvora
