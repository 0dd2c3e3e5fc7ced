// StaticRuntime.h: releasing, when a DLL is unloaded, what the C++ run time
// linked into it keeps for the life of the DLL.
#pragma once

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace kalvora {

// Frees the run time's emergency exception-allocation pool (tens of KB
// allocated by a static constructor, otherwise never freed). Only for an
// unload by FreeLibrary, as the last step of DLL_PROCESS_DETACH: nothing in
// the DLL may throw after it.
inline void ReleaseStaticRuntime() noexcept
{
    __gnu_cxx::__freeres();
}

}  // namespace kalvora
