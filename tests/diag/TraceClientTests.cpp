// The trace client against a fake trace device that, like the real one,
// reads the caller's buffers in place.
#include <gtest/gtest.h>

#include <optional>

#include "diag/TraceClient.h"
#include "doubles/trace/FakeTraceDevice.h"
#include "support/TestSupport.h"

using namespace kalvora::diag;

namespace {

using Device = kalvora::test::FakeTraceDevice;
using Bytes = Device::Bytes;
const size_t kPtr = sizeof(void*);
const BYTE* At(ULONGLONG address) { return reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(address)); }
ULONGLONG Get(const Bytes& b, size_t offset, size_t size) { return Device::Field(b, offset, size); }
std::wstring GuidAt(ULONGLONG address)
{
    wchar_t text[40] = {};
    StringFromGUID2(*reinterpret_cast<const GUID*>(At(address)), text, 40);
    return text;
}
Device g_device;

// A new device and client; the control block: logger handle, enable bits, level.
TraceClient& NewClient(std::optional<TraceClient>& client, BYTE* block, ULONGLONG logger, BYTE enable, BYTE level)
{
    g_device = Device();
    g_device.controlBlock = block;
    Device::current = &g_device;
    memset(block, 0, 16);
    memcpy(block, &logger, 8);
    block[8] = enable;
    block[15] = level;
    return client.emplace(TraceDeviceCalls{&Device::Open, &Device::Control, &Device::Close});
}

TEST(TraceClient, RegistersByAddressAndSendsTheStartupMessageOnlyWhenEnabled)
{
    // Device present, register result, control block given, its logger, enable bits,
    // level; then whether the startup message goes out and whether the handle is closed.
    struct Case {
        bool present;
        BOOL result;
        bool block;
        ULONGLONG logger;
        BYTE enable, level;
        bool sent, closed;
    };
    const Case cases[] = {
        {true, TRUE, true, 0x1234, kTraceClassInfoBit, 1, true, false},
        {true, TRUE, true, 0x1000000000000, kTraceClassInfoBit, 1, true, false},  // high half only
        {true, TRUE, true, ~0ULL, 0xFF, 0xFF, true, false},
        {true, TRUE, true, 0, 0xFF, 5, false, false},       // logger 0
        {true, TRUE, true, 0x1234, 0xFD, 5, false, false},  // WLG_INFO clear
        {true, TRUE, true, 0x1234, 0xFF, 0, false, false},  // level 0
        {false, TRUE, true, 1, 0xFF, 1, false, false},      // no device
        {true, TRUE, false, 1, 0xFF, 1, false, true},       // no control block
        {true, FALSE, true, 1, 0xFF, 1, false, true},       // refused, though a block was written
    };
    BYTE block[16];
    std::optional<TraceClient> client;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        NewClient(client, block, c.logger, c.enable, c.level);
        g_device.present = c.present;
        g_device.registerResult = c.result;
        g_device.controlBlock = c.block ? block : nullptr;
        client->Start();
        client->SendStartupMessage();
        EXPECT_EQ((std::vector<ULONG_PTR>{0, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0}), g_device.openArgs);
        EXPECT_EQ(c.closed, g_device.closed) << "row " << i;
        ASSERT_EQ(size_t(c.present) + c.sent, g_device.requests.size()) << "row " << i;
        if (!c.present)
            continue;
        // Register: the addresses of the control GUID and of the module name.
        const Bytes& reg = g_device.requests[0].input;
        EXPECT_EQ(std::pair(0x222007ul, 2 * kPtr), std::pair(g_device.requests[0].code, reg.size()));
        EXPECT_EQ(L"{DBD8C864-DA94-4238-9B5C-F5EFF26FE52B}", GuidAt(Get(reg, 0, kPtr)));
        EXPECT_STREQ(L"ORVE_KalvoraAdminUser", reinterpret_cast<const wchar_t*>(At(Get(reg, kPtr, kPtr))));
        if (c.sent) {  // message 10 without arguments, for the logger of the control block
            const Device::Request& msg = g_device.requests[1];
            EXPECT_EQ(std::tuple(0x22200Ful, 64u, c.logger),
                      std::tuple(msg.code, msg.input.size(), Get(msg.input, 8, 8)));
            EXPECT_EQ(L"{152064F0-BD4B-4A88-A74C-05B27923B067}", GuidAt(Get(msg.input, 24, 8)));
            EXPECT_EQ((std::vector<Bytes>{{10, 0}}), msg.data);
        }
    }
    // A second start keeps the registration.
    NewClient(client, block, 7, kTraceClassInfoBit, 1).Start();
    client->Start();
    EXPECT_EQ(1u, g_device.requests.size());
}

TEST(TraceClient, ArgumentsEndAtANullAddressMoreThanEightAreGatheredOver8192AreRefused)
{
    BYTE block[16];
    std::optional<TraceClient> client;
    NewClient(client, block, 1, 0, 0).Start();
    const auto send = [&](auto... args) { return client->Message(1, 0, 0, &kTraceMessageGuid, 0xABCD1234, args...); };
    const Bytes big(8192);
    EXPECT_EQ(0u, send("abc", ULONG(3), L"xy", ULONG(6), (const void*)nullptr, ULONG(5), "zz", ULONG(2),
                       (const void*)nullptr));
    EXPECT_EQ(0u, send("one", ULONG(3), "two", ULONG(3), "3", ULONG(1), "4", ULONG(1), "5", ULONG(1), "6", ULONG(1),
                       "7", ULONG(1), "8", ULONG(1), "nine", ULONG(4), (const void*)nullptr));
    // Nothing is sent beyond 8192 bytes (where the limit lies, and sums that wrap around: fuzz_trace_buffer).
    EXPECT_EQ(0xC0000001u, send(big.data(), ULONG(8192), "z", ULONG(1), (const void*)nullptr));
    ASSERT_EQ(3u, g_device.requests.size());
    const auto text = [](const char* t) { return Bytes(t, t + strlen(t)); };
    // The number's low 16 bits first; then each argument, or one block of them
    // all (the sizes of the descriptors: fuzz_trace_buffer).
    EXPECT_EQ((std::vector<Bytes>{{0x34, 0x12}, text("abc"), {'x', 0, 'y', 0, 0, 0}}), g_device.requests[1].data);
    EXPECT_EQ((std::vector<Bytes>{{0x34, 0x12}, text("onetwo345678nine")}), g_device.requests[2].data);
}

}  // namespace
