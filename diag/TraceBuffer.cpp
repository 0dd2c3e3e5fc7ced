// TraceBuffer.cpp: the trace message buffer.
#include "diag/TraceBuffer.h"

#include <cstring>

namespace kalvora::diag {

static_assert(kTraceHeaderSize + (1 + kTraceMaxDirectArgs) * kTraceDescriptorSize == kTraceBufferSize,
              "the buffer holds the header, descriptor 0 and eight arguments");

namespace {

// Little-endian field writer.
void Put(std::uint8_t* buffer, std::size_t offset, std::uint64_t value, std::size_t bytes) noexcept
{
    for (std::size_t i = 0; i < bytes; ++i)
        buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::uint64_t TraceAddressField(const TraceLayout& layout, std::uintptr_t address) noexcept
{
    const std::uint64_t value = address;
    if (!layout.signExtendAddresses)
        return value;
    const std::uint64_t low = value & 0xFFFFFFFFu;
    return (low & 0x80000000u) ? low | 0xFFFFFFFF00000000u : low;
}

TraceBuffer::TraceBuffer(const TraceLayout& layout, std::uint32_t loggerLow, std::uint32_t loggerHigh,
                         const void* messageGuid, std::uint32_t messageNumber) noexcept
    : m_layout(layout), m_number(messageNumber)
{
    m_bytes[4] = kTraceHeaderType;
    Put(m_bytes, 8, loggerLow, 4);
    Put(m_bytes, 12, loggerHigh, 4);
    Put(m_bytes, 24, TraceAddressField(m_layout, reinterpret_cast<std::uintptr_t>(messageGuid)), 8);
    Put(m_bytes, 44, kTraceHeaderFlags, 4);
    PutDescriptor(0, &m_number, 2);
}

void TraceBuffer::PutDescriptor(std::size_t index, const void* data, std::uint32_t length) noexcept
{
    const std::size_t offset = kTraceHeaderSize + index * kTraceDescriptorSize;
    Put(m_bytes, offset, TraceAddressField(m_layout, reinterpret_cast<std::uintptr_t>(data)), 8);
    Put(m_bytes, offset + 8, length, 4);
}

void TraceBuffer::Add(const void* data, std::uint32_t length) noexcept
{
    ++m_count;
    m_total += length;
    if (m_count <= kTraceMaxDirectArgs)
        PutDescriptor(m_count, data, length);
}

void TraceBuffer::BeginBlock(std::uint8_t* block) noexcept
{
    m_gather = block;
    PutDescriptor(1, block, static_cast<std::uint32_t>(m_total));
}

void TraceBuffer::Gather(const void* data, std::uint32_t length) noexcept
{
    if (length == 0)
        return;
    std::memcpy(m_gather, data, length);
    m_gather += length;
}

std::uint16_t TraceBuffer::Finish() noexcept
{
    const std::size_t descriptors = Gathers() ? 2 : 1 + m_count;
    const auto size = static_cast<std::uint16_t>(kTraceHeaderSize + descriptors * kTraceDescriptorSize);
    Put(m_bytes, 0, size, 2);
    return size;
}

}  // namespace kalvora::diag
