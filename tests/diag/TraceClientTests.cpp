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
Device g_device;
BYTE g_block[16];
std::optional<TraceClient> g_client;

// The address in a request at `offset`.
const void* At(const Bytes& b, size_t offset)
{
    return reinterpret_cast<const void*>(static_cast<ULONG_PTR>(Device::Field(b, offset, sizeof(void*))));
}
std::wstring GuidAt(const Bytes& b, size_t offset)
{
    wchar_t text[40] = {};
    StringFromGUID2(*static_cast<const GUID*>(At(b, offset)), text, 40);
    return text;
}

// A new device, whose control block holds the logger handle, the enable bits
// and the level, and a new client, started, that sends the start-up message.
// What the device saw: "r" the registration, "m" the message, "c" a close.
std::string Start(ULONGLONG logger, BYTE enable, BYTE level, bool present = true, BOOL accepted = TRUE)
{
    g_device = Device();
    g_device.present = present;
    g_device.registerResult = accepted;
    g_device.controlBlock = g_block;
    Device::current = &g_device;
    memcpy(g_block, &logger, 8);
    g_block[8] = enable;
    g_block[15] = level;
    g_client.emplace(TraceDeviceCalls{&Device::Open, &Device::Control, &Device::Close}).Start();
    g_client->SendStartupMessage();
    std::string seen;
    for (const Device::Request& r : g_device.requests) {
        if (r.code == 0x222007) {  // the addresses of the control GUID and of the module name
            EXPECT_EQ(2 * sizeof(void*), r.input.size());
            EXPECT_EQ(L"{DBD8C864-DA94-4238-9B5C-F5EFF26FE52B}", GuidAt(r.input, 0));
            EXPECT_STREQ(L"ORVE_KalvoraAdminUser", static_cast<const wchar_t*>(At(r.input, sizeof(void*))));
            seen += "r";
        } else if (r.code == 0x22200F) {  // message 10 without arguments, for the logger of the control block
            EXPECT_EQ(std::pair(size_t(64), logger), std::pair(r.input.size(), Device::Field(r.input, 8, 8)));
            EXPECT_EQ(L"{152064F0-BD4B-4A88-A74C-05B27923B067}", GuidAt(r.input, 24));
            EXPECT_EQ((std::vector<Bytes>{{10, 0}}), r.data);
            seen += "m";
        }
    }
    return seen + std::string(g_device.closed, 'c');
}

TEST(TraceClient, RegistersByAddressAndSendsTheStartupMessageOnlyWhenEnabled)
{
    EXPECT_EQ("rm", Start(1ULL << 48, kTraceClassInfoBit, 1));  // a logger in the high half only
    EXPECT_EQ("r", Start(0, 0xFF, 5));                           // no logger
    EXPECT_EQ("r", Start(1, 0xFF & ~kTraceClassInfoBit, 5));     // WLG_INFO off
    EXPECT_EQ("r", Start(1, 0xFF, 0));                           // level 0
    EXPECT_EQ("", Start(1, 0xFF, 1, false));                     // no device
    EXPECT_EQ("rc", Start(1, 0xFF, 1, true, FALSE));             // refused, though a block was written
    // A second start keeps the registration.
    Start(1, 0xFF, 0);
    g_client->Start();
    EXPECT_EQ(1u, g_device.requests.size());
}

TEST(TraceClient, ArgumentsEndAtANullAddressMoreThanEightAreGatheredOver8192AreRefused)
{
    Start(1, 0, 0);
    const auto send = [](auto... args) { return g_client->Message(1, 0, 0, &kTraceMessageGuid, 0xABCD1234, args...); };
    const void* const end = nullptr;
    const Bytes big(8192);
    EXPECT_EQ(0u, send("abc", ULONG(3), L"xy", ULONG(6), end, ULONG(5), "zz", ULONG(2), end));
    EXPECT_EQ(0u, send("one", ULONG(3), "two", ULONG(3), "3", ULONG(1), "4", ULONG(1), "5", ULONG(1), "6", ULONG(1),
                       "7", ULONG(1), "8", ULONG(1), "nine", ULONG(4), end));
    // Nothing is sent beyond 8192 bytes (where the limit lies, and sums that wrap around: fuzz_trace_buffer).
    EXPECT_EQ(0xC0000001u, send(big.data(), ULONG(8192), "z", ULONG(1), end));
    ASSERT_EQ(3u, g_device.requests.size());
    const auto text = [](const char* t) { return Bytes(t, t + strlen(t)); };
    // The number's low 16 bits first; then each argument, or one block of them all.
    EXPECT_EQ((std::vector<Bytes>{{0x34, 0x12}, text("abc"), {'x', 0, 'y', 0, 0, 0}}), g_device.requests[1].data);
    EXPECT_EQ((std::vector<Bytes>{{0x34, 0x12}, text("onetwo345678nine")}), g_device.requests[2].data);
}

}  // namespace
