// The trace message buffer, in the 32-bit and the 64-bit layout. Input: byte 0
// picks the layout, bytes 1 to 20 give the logger handle, message number and
// GUID address; then one 16-bit code per argument: its length (the low 14
// bits; 0xFFFF: 0xFFFFFFFF), its bytes taken from a fixed source.
#include <cstring>
#include <numeric>

#include "FuzzSupport.h"
#include "diag/TraceBuffer.h"

using namespace kalvora::diag;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> source = [] {
        std::vector<std::uint8_t> bytes(kTraceMaxArgBytes);
        std::iota(bytes.begin(), bytes.end(), std::uint8_t(0));
        return bytes;
    }();
    std::uint64_t logger = 0, guid = 0, total = 0;
    std::uint32_t number = 0;
    if (size < 21)
        return 0;
    std::memcpy(&logger, data + 1, 8), std::memcpy(&number, data + 9, 4), std::memcpy(&guid, data + 13, 8);
    const TraceLayout& layout = kTraceLayouts[data[0] & 1];
    TraceBuffer message(layout, std::uint32_t(logger), std::uint32_t(logger >> 32), reinterpret_cast<void*>(guid),
                        number);
    std::vector<std::pair<const std::uint8_t*, std::uint32_t>> args;
    for (std::size_t at = 21; at + 2 <= size; at += 2) {
        const std::uint32_t code = data[at] | data[at + 1] << 8, length = code == 0xFFFF ? 0xFFFFFFFF : code & 0x3FFF;
        const std::size_t offset = length > source.size() ? 0 : args.size() * 977 % (source.size() - length + 1);
        args.emplace_back(source.data() + offset, length);
        message.Add(args.back().first, length);
        total += length;
    }
    FUZZ_CHECK(message.Count() == args.size() && message.Total() == total && message.TooLarge() == (total > 8192));
    if (message.TooLarge())
        return 0;  // not sent

    std::vector<std::uint8_t> block(total), gathered;  // the block of exactly the total; what it should hold
    if (message.Gathers())
        message.BeginBlock(block.data());
    for (const auto& [from, length] : args) {
        gathered.insert(gathered.end(), from, from + length);
        if (message.Gathers())
            message.Gather(from, length);
    }
    const std::uint16_t built = message.Finish();
    const auto field = [&](std::size_t at) {
        std::uint64_t v;
        std::memcpy(&v, message.Bytes() + at, 8);
        return v;
    };
    const auto address = [&](std::uint64_t a) {
        return layout.signExtendAddresses ? std::uint64_t(std::int32_t(a)) : a;
    };
    // The size field is the size built, type 0xFF; the header, its flags (traced GUID, GUID and
    // data by address); descriptor 0: 2 bytes of the number.
    FUZZ_CHECK(
        built == (args.size() > 8 ? 80 : 64 + 16 * args.size()) && built <= kTraceBufferSize &&
        field(0) == (built | 0xFF00000000) && field(8) == logger && field(16) == 0 && field(24) == address(guid) &&
        field(32) == 0 && field(40) == 0x001A000000000000ull && field(56) == 2 &&
        (layout.signExtendAddresses || *reinterpret_cast<const std::uint16_t*>(field(48)) == std::uint16_t(number)));
    // More than eight arguments: descriptor 1 covers the block, which holds them all in order.
    FUZZ_CHECK(args.size() <= 8 ||
               (field(64) == address(std::uintptr_t(block.data())) && field(72) == total && block == gathered));
    for (std::size_t i = 0; i < args.size() && args.size() <= 8; ++i)
        FUZZ_CHECK(field(64 + 16 * i) == address(std::uintptr_t(args[i].first)) &&
                   field(72 + 16 * i) == args[i].second);
    return 0;
}
