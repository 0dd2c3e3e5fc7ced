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

// The last error of a call that failed, as an HRESULT. A call may fail
// without setting one (LockResource does): 0 then gives E_FAIL, never S_OK.
inline HRESULT LastErrorHResult() noexcept
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : Win32ToHResult(static_cast<LONG>(error));
}

}  // namespace kalvora
