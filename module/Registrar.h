// Registrar.h: runs a REGISTRY resource of the module against the registry.
#pragma once

#include <windows.h>

namespace kalvora {

enum class RegistrarMode { Register, Unregister };

// Loads REGISTRY resource `id` from `module`, replaces %MODULE% by the
// module's full path (single quotes doubled) and applies it.
// A module path that fills the 260-character buffer gives 0x8007007A.
HRESULT RunRegistryResource(HINSTANCE module, UINT id, RegistrarMode mode) noexcept;

}  // namespace kalvora
