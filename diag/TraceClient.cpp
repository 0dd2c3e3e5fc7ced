// TraceClient.cpp: registration with the kernel trace device, and sending it
// trace messages.
#include "diag/TraceClient.h"

namespace kalvora::diag {

static_assert(kTraceLayout.bits == 8 * sizeof(void*), "one layout per bitness");
static_assert(kTraceLayout.registerInputBytes == 2 * sizeof(ULONG_PTR) &&
                  kTraceLayout.registerOutputBytes == sizeof(const volatile BYTE*),
              "the register request carries the module's own addresses");

namespace {

ULONG Read32(const volatile BYTE* block, size_t offset) noexcept
{
    return static_cast<ULONG>(block[offset]) | static_cast<ULONG>(block[offset + 1]) << 8 |
           static_cast<ULONG>(block[offset + 2]) << 16 | static_cast<ULONG>(block[offset + 3]) << 24;
}

// Owns the block that gathers more than eight arguments.
class LocalBlock {
public:
    LocalBlock() noexcept = default;
    ~LocalBlock()
    {
        if (m_block)
            LocalFree(m_block);
    }
    LocalBlock(const LocalBlock&) = delete;
    LocalBlock& operator=(const LocalBlock&) = delete;

    bool Allocate(SIZE_T size) noexcept
    {
        m_block = LocalAlloc(LMEM_FIXED, size);
        return m_block != nullptr;
    }
    BYTE* get() const noexcept { return static_cast<BYTE*>(m_block); }

private:
    HLOCAL m_block = nullptr;
};

}  // namespace

TraceDeviceCalls SystemTraceDevice() noexcept
{
    return TraceDeviceCalls{&CreateFileW, &DeviceIoControl, &CloseHandle};
}

void TraceClient::Start() noexcept
{
    if (m_device != INVALID_HANDLE_VALUE)
        return;  // already registered
    HANDLE device = m_calls.open(kTraceDevicePath, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE || device == nullptr)
        return;
    m_device = device;

    // The device reads the GUID and the name in place, so it gets their addresses.
    ULONG_PTR input[2] = {reinterpret_cast<ULONG_PTR>(&kTraceControlGuid),
                          reinterpret_cast<ULONG_PTR>(kTraceModuleName)};
    DWORD returned = 0;
    BOOL ok = m_calls.control(m_device, kTraceRegisterRequest, input, sizeof input, &m_controlBlock,
                              sizeof m_controlBlock, &returned, nullptr);
    if (!ok)
        m_controlBlock = nullptr;
    if (!m_controlBlock) {
        m_calls.close(m_device);
        m_device = INVALID_HANDLE_VALUE;
    }
    // Otherwise the handle stays open for the life of the process.
}

bool TraceClient::InfoEnabled() const noexcept
{
    const volatile BYTE* block = m_controlBlock;
    if (!block)
        return false;
    ULONG low = Read32(block, kControlLoggerOffset);
    ULONG high = Read32(block, kControlLoggerOffset + 4);
    return (low | high) != 0 && (block[kControlEnableOffset] & kTraceClassInfoBit) != 0 &&
           block[kControlLevelOffset] >= 1;
}

void TraceClient::SendStartupMessage() noexcept
{
    if (!InfoEnabled())
        return;
    const volatile BYTE* block = m_controlBlock;
    Message(Read32(block, kControlLoggerOffset), Read32(block, kControlLoggerOffset + 4), 0, &kTraceMessageGuid,
            kTraceStartupMessage, static_cast<const void*>(nullptr));
}

ULONG __cdecl TraceClient::Message(ULONG loggerLow, ULONG loggerHigh, ULONG messageFlags, const GUID* messageGuid,
                                   ULONG messageNumber, ...) noexcept
{
    va_list args;
    va_start(args, messageNumber);
    ULONG result = MessageV(loggerLow, loggerHigh, messageFlags, messageGuid, messageNumber, args);
    va_end(args);
    return result;
}

ULONG TraceClient::MessageV(ULONG loggerLow, ULONG loggerHigh, ULONG /*messageFlags*/, const GUID* messageGuid,
                            ULONG messageNumber, va_list args) noexcept
{
    TraceBuffer message(kTraceLayout, loggerLow, loggerHigh, messageGuid, messageNumber);

    // Count and add up the arguments; the first eight go in by address.
    va_list walk;
    va_copy(walk, args);
    for (const void* data; (data = va_arg(walk, const void*)) != nullptr;)
        message.Add(data, va_arg(walk, ULONG));
    va_end(walk);
    if (message.TooLarge())
        return kTraceTooLarge;

    LocalBlock block;
    if (message.Gathers()) {
        // Too many to describe one by one: gather them, in order, into one block.
        if (!block.Allocate(message.Total() > 0 ? static_cast<SIZE_T>(message.Total()) : 1))
            return kTraceNoMemory;
        message.BeginBlock(block.get());
        va_copy(walk, args);
        for (size_t i = 0; i < message.Count(); ++i) {
            const void* data = va_arg(walk, const void*);
            message.Gather(data, va_arg(walk, ULONG));
        }
        va_end(walk);
    }
    const USHORT size = message.Finish();

    DWORD returned = 0;
    m_calls.control(m_device, kTraceMessageRequest, const_cast<BYTE*>(message.Bytes()), size, nullptr, 0, &returned,
                    nullptr);
    return kTraceOk;
}

namespace {

// Made by the DLL's static initialisation rather than on first use: a guarded
// local static would have the thread library set up a record of the loading
// thread (two handles and a TLS slot) that no unload gives back.
TraceClient g_processClient(SystemTraceDevice());

}  // namespace

TraceClient& ProcessTraceClient() noexcept
{
    return g_processClient;
}

}  // namespace kalvora::diag
