// HResult.h: Win32 error codes as HRESULTs.
#pragma once

#include <windows.h>

namespace kalvora {

// 0x80070000 with the low 16 bits of the code; 0 and negative values pass
// unchanged (ERROR_SUCCESS is S_OK).
inline HRESULT Win32ToHResult(LONG error) noexcept
{
    if (error <= 0)
        return static_cast<HRESULT>(error);
    return static_cast<HRESULT>(0x80070000UL | (static_cast<ULONG>(error) & 0xFFFFUL));
}

}  // namespace kalvora
