// TraceBuffer.h: the message buffer that the trace client sends to the trace
// device, in the layout of either bitness.
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalvora::diag {

// Where the protocol depends on the bitness of the module. The 32-bit layout
// is the device's original one: the register request carries two 32-bit
// addresses and returns a 32-bit one, and every 64-bit address field of a
// message holds a 32-bit address sign-extended. The 64-bit module sends whole
// addresses: the register request is two 64-bit addresses in, one out, and
// the message's address fields hold the address itself.
struct TraceLayout {
    unsigned bits;                  // of the module's addresses
    std::size_t registerInputBytes;   // the control GUID's and the module name's addresses
    std::size_t registerOutputBytes;  // the control block's address
    bool signExtendAddresses;       // how an address fills a 64-bit field
};
inline constexpr TraceLayout kTraceLayouts[] = {
    {32, 8, 4, true},
    {64, 16, 8, false},
};
// The layout of the module being built.
inline constexpr const TraceLayout& kTraceLayout = kTraceLayouts[sizeof(void*) == 8 ? 1 : 0];

// Message buffer: 48-byte header, then 16-byte descriptors (data address,
// length). Descriptor 0 holds the message number.
inline constexpr std::size_t kTraceHeaderSize = 48;
inline constexpr std::size_t kTraceDescriptorSize = 16;
inline constexpr std::size_t kTraceBufferSize = 192;  // header, descriptor 0 and eight arguments
inline constexpr std::size_t kTraceMaxDirectArgs = 8;
inline constexpr std::uint32_t kTraceMaxArgBytes = 8192;
inline constexpr std::uint32_t kTraceHeaderFlags = 0x001A0000;  // traced GUID, GUID and data by address
inline constexpr std::uint8_t kTraceHeaderType = 0xFF;

// Results of the trace message operation.
inline constexpr std::uint32_t kTraceOk = 0;
inline constexpr std::uint32_t kTraceTooLarge = 0xC0000001;  // STATUS_UNSUCCESSFUL
inline constexpr std::uint32_t kTraceNoMemory = 0xC0000017;  // STATUS_NO_MEMORY

// An address of the module as a 64-bit field of the message.
std::uint64_t TraceAddressField(const TraceLayout& layout, std::uintptr_t address) noexcept;

// One message, built in the order in which the client walks its arguments:
//   TraceBuffer message(layout, loggerLow, loggerHigh, guid, number);
//   message.Add(data, length) for each argument; TooLarge(): refuse it;
//   Gathers(): BeginBlock(a block of Total() bytes), then Gather(data, length)
//   for each argument again, in the same order;
//   send the Finish() bytes at Bytes().
// Descriptors hold addresses: the arguments and the block must outlive the
// sending, and the buffer is not copied (descriptor 0 points into it).
class TraceBuffer {
public:
    TraceBuffer(const TraceLayout& layout, std::uint32_t loggerLow, std::uint32_t loggerHigh, const void* messageGuid,
                std::uint32_t messageNumber) noexcept;
    TraceBuffer(const TraceBuffer&) = delete;
    TraceBuffer& operator=(const TraceBuffer&) = delete;

    // Counts an argument and adds up its length; the first eight are described
    // by their own addresses.
    void Add(const void* data, std::uint32_t length) noexcept;
    std::size_t Count() const noexcept { return m_count; }
    std::uint64_t Total() const noexcept { return m_total; }
    // More than 8192 bytes of arguments are not sent (8192 exactly are).
    bool TooLarge() const noexcept { return m_total > kTraceMaxArgBytes; }
    // More than eight arguments go to the device gathered into one block.
    bool Gathers() const noexcept { return m_count > kTraceMaxDirectArgs; }

    // Descriptor 1 describes the block of Total() bytes; Gather copies each
    // argument into it behind the previous one.
    void BeginBlock(std::uint8_t* block) noexcept;
    void Gather(const void* data, std::uint32_t length) noexcept;

    // Writes the size of header and descriptors into the first field and returns it.
    std::uint16_t Finish() noexcept;
    const std::uint8_t* Bytes() const noexcept { return m_bytes; }

private:
    void PutDescriptor(std::size_t index, const void* data, std::uint32_t length) noexcept;

    const TraceLayout& m_layout;
    std::uint8_t m_bytes[kTraceBufferSize] = {};
    std::uint32_t m_number;  // the device reads its low 16 bits in place
    std::size_t m_count = 0;
    std::uint64_t m_total = 0;
    std::uint8_t* m_gather = nullptr;
};

}  // namespace kalvora::diag
