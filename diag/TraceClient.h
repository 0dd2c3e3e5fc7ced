// TraceClient.h: client of the kernel trace device "\\.\Global\QRNWLG".
//
// The module registers with the device once per process, receives a control
// block that the device keeps up to date, and sends trace messages when that
// block enables them. The device reads every buffer in place (by address).
// The message buffer and the layout of each bitness: diag/TraceBuffer.h.
#pragma once

#include <windows.h>

#include <cstdarg>

#include "diag/TraceBuffer.h"

namespace kalvora::diag {

// ---- fixed registration data ----------------------------------------------------

// Names the module as a trace provider.
inline constexpr GUID kTraceControlGuid = {
    0xDBD8C864, 0xDA94, 0x4238, {0x9B, 0x5C, 0xF5, 0xEF, 0xF2, 0x6F, 0xE5, 0x2B}};
// Qualifies the module's message numbers.
inline constexpr GUID kTraceMessageGuid = {
    0x152064F0, 0xBD4B, 0x4A88, {0xA7, 0x4C, 0x05, 0xB2, 0x79, 0x23, 0xB0, 0x67}};
inline constexpr wchar_t kTraceModuleName[] = L"ORVE_KalvoraAdminUser";
// The trace classes in the order of their enable bits (bit 0 first). Kept
// with the registration data; the device is not told about them.
inline constexpr wchar_t kTraceClassNames[] =
    L" WLG_ERROR WLG_INFO WLG_PRIVATE WLG_ENTRY WLG_PROFILE WLG_RESERVED5 WLG_RESERVED6"
    L" WLG_RESERVED7 WLG_RESERVED8 WLG_RESERVED9 WLG_RESERVED10 WLG_RESERVED11";

inline constexpr wchar_t kTraceDevicePath[] = L"\\\\.\\Global\\QRNWLG";

// ---- device protocol ------------------------------------------------------------

// Device type 0x22, FILE_ANY_ACCESS, METHOD_NEITHER; functions 0x801 and 0x803.
inline constexpr DWORD kTraceRegisterRequest = 0x222007;
inline constexpr DWORD kTraceMessageRequest = 0x22200F;

// Control block kept by the device: byte offsets.
inline constexpr size_t kControlLoggerOffset = 0;   // 64-bit logger handle, 0 = off
inline constexpr size_t kControlEnableOffset = 8;   // enable bits of classes 0 to 7
inline constexpr size_t kControlLevelOffset = 15;   // trace level
inline constexpr BYTE kTraceClassInfoBit = 0x02;    // "WLG_INFO"

inline constexpr ULONG kTraceStartupMessage = 10;

// ---- device access ----------------------------------------------------------------

// The three calls through which the client reaches the device. The product
// uses the system's own; tests put a fake device in their place.
struct TraceDeviceCalls {
    HANDLE(WINAPI* open)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* control)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* close)(HANDLE);
};

// CreateFileW, DeviceIoControl and CloseHandle.
TraceDeviceCalls SystemTraceDevice() noexcept;

// ---- the client ---------------------------------------------------------------------

class TraceClient {
public:
    explicit TraceClient(const TraceDeviceCalls& calls) noexcept : m_calls(calls) {}
    TraceClient(const TraceClient&) = delete;
    TraceClient& operator=(const TraceClient&) = delete;
    // The device handle is deliberately left open: the device keeps the
    // control block alive for as long as the process holds it.
    ~TraceClient() = default;

    // Opens the device and registers with it. Without a device, or when the
    // registration is refused or gives no control block, the client stays
    // silent and keeps no handle.
    void Start() noexcept;

    // True when the control block enables "WLG_INFO" at level 1 or more for
    // a live logger.
    bool InfoEnabled() const noexcept;

    // Sends the start-up message when InfoEnabled().
    void SendStartupMessage() noexcept;

    // Builds and sends one trace message. The arguments after the message
    // number are pairs (const void* data, ULONG length) ended by a null data
    // address. Up to eight pairs go to the device by address; more are
    // gathered into one block. Returns kTraceOk after sending (the device's
    // answer is ignored), kTraceTooLarge when the arguments exceed 8192 bytes,
    // kTraceNoMemory when the block cannot be allocated. messageFlags is not
    // used.
    ULONG __cdecl Message(ULONG loggerLow, ULONG loggerHigh, ULONG messageFlags, const GUID* messageGuid,
                          ULONG messageNumber, ...) noexcept;
    ULONG MessageV(ULONG loggerLow, ULONG loggerHigh, ULONG messageFlags, const GUID* messageGuid,
                   ULONG messageNumber, va_list args) noexcept;

private:
    TraceDeviceCalls m_calls;
    HANDLE m_device = INVALID_HANDLE_VALUE;
    // Written by the device through the register request (one address).
    const volatile BYTE* m_controlBlock = nullptr;
};

// The process-wide client the module starts at load time; it uses the
// system's device calls.
TraceClient& ProcessTraceClient() noexcept;

}  // namespace kalvora::diag
