// The trace client against a fake trace device, and the registered module on this machine, which has none.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diag/TraceClient.h"
#include "support/TestSupport.h"

using namespace kalvora::diag;
using namespace kalvora::test;

namespace {

using Bytes = std::vector<BYTE>;
using Args = std::vector<std::pair<const void*, ULONG>>;  // message arguments: data and length
using Block = std::array<BYTE, 16>;
HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(0x5A4);

const BYTE* At(ULONGLONG address) { return reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(address)); }
ULONGLONG Get(const Bytes& b, size_t offset, size_t size)  // little-endian field
{
    ULONGLONG v = 0;
    memcpy(&v, b.data() + offset, size);
    return v;
}
std::wstring GuidText(ULONGLONG address)
{
    wchar_t text[40] = {};
    StringFromGUID2(*reinterpret_cast<const GUID*>(At(address)), text, 40);
    return text;
}
// A control block as the device keeps it.
Block ControlBlock(ULONGLONG logger, BYTE enable, BYTE level)
{
    Block b{};
    memcpy(&b[0], &logger, 8);
    b[8] = enable;
    b[15] = level;
    return b;
}

// One request, and for a trace message the bytes each descriptor pointed at during the call.
struct Request { DWORD code; Bytes input; std::vector<Bytes> data; };

// A kernel trace device stand-in that, like the real one, reads the buffers in place.
struct FakeDevice {
    bool present = true, readDescriptors = true;
    BOOL registerResult = TRUE;
    const void* controlBlock = nullptr;  // written into the register request's output
    std::vector<std::wstring> opened;
    std::vector<ULONG_PTR> openArgs;
    std::vector<Request> requests;
    std::vector<HANDLE> closed;
};
FakeDevice* g_device = nullptr;

HANDLE WINAPI FakeOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                       DWORD attributes, HANDLE templ)
{
    g_device->opened.push_back(path);
    g_device->openArgs = {access, share, ULONG_PTR(sa), disposition, attributes, ULONG_PTR(templ)};
    return g_device->present ? kFakeHandle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                        LPDWORD returned, LPOVERLAPPED overlapped)
{
    EXPECT_TRUE(handle == kFakeHandle && returned && !overlapped) << "synchronous, on the open handle";
    Request r{code, Bytes(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inSize), {}};
    if (code == kTraceRegisterRequest) {
        EXPECT_EQ(sizeof(void*), outSize);  // one address of the module's bitness
        const ULONG_PTR block = reinterpret_cast<ULONG_PTR>(g_device->controlBlock);
        memcpy(out, &block, std::min<DWORD>(outSize, sizeof block));
    }
    for (size_t off = kTraceHeaderSize; code == kTraceMessageRequest && g_device->readDescriptors &&
                                        off + kTraceDescriptorSize <= r.input.size();
         off += kTraceDescriptorSize) {
        const ULONG length = ULONG(Get(r.input, off + 8, 4));
        const BYTE* data = At(Get(r.input, off, 8));
        EXPECT_LE(length, kTraceMaxArgBytes) << "descriptor at " << off;
        r.data.push_back(length <= kTraceMaxArgBytes ? Bytes(data, data + length) : Bytes());
    }
    g_device->requests.push_back(std::move(r));
    if (returned)
        *returned = 0;
    return code == kTraceRegisterRequest ? g_device->registerResult : TRUE;
}

BOOL WINAPI FakeClose(HANDLE handle)
{
    g_device->closed.push_back(handle);
    return TRUE;
}

class TraceClientTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { g_device = nullptr; }

    // A new device and a new client.
    void Reset()
    {
        device = FakeDevice();
        g_device = &device;
        client.emplace(TraceDeviceCalls{&FakeOpen, &FakeControl, &FakeClose});
    }
    // Registers the client with the given control block and forgets the register request.
    void Start(const Block& b)
    {
        block = b;
        device.controlBlock = block.data();
        client->Start();
        device.requests.clear();
    }
    ULONG Send(const Args& args)
    {
        std::pair<const void*, ULONG> a[10] = {};  // a null address ends the list
        std::copy(args.begin(), args.begin() + std::min<size_t>(args.size(), 9), a);
        return client->Message(1, 0, 0, &kTraceMessageGuid, 0xABCD1234, a[0].first, a[0].second, a[1].first,
                              a[1].second, a[2].first, a[2].second, a[3].first, a[3].second, a[4].first,
                              a[4].second, a[5].first, a[5].second, a[6].first, a[6].second, a[7].first,
                              a[7].second, a[8].first, a[8].second, a[9].first);
    }

    FakeDevice device;
    Block block{};
    std::optional<TraceClient> client;
};

TEST_F(TraceClientTest, StartRegistersOnceByAddress)
{
    const Block b = ControlBlock(1, 0, 0);
    device.controlBlock = b.data();
    client->Start();
    client->Start();  // keeps the registration it has
    EXPECT_EQ(std::vector<std::wstring>{L"\\\\.\\Global\\QRNWLG"}, device.opened);
    EXPECT_EQ((std::vector<ULONG_PTR>{0, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0}), device.openArgs);
    ASSERT_EQ(1u, device.requests.size());
    const Request& r = device.requests[0];
    EXPECT_EQ(0x222007u, r.code);
    // Two addresses of the module's bitness: 8 bytes from the 32-bit module, 16 from the 64-bit one.
    const size_t ptr = sizeof(void*);
    ASSERT_EQ(2 * ptr, r.input.size());
    EXPECT_EQ(L"{DBD8C864-DA94-4238-9B5C-F5EFF26FE52B}", GuidText(Get(r.input, 0, ptr)));
    EXPECT_STREQ(L"ORVE_KalvoraAdminUser", reinterpret_cast<const wchar_t*>(At(Get(r.input, ptr, ptr))));
    // The handle stays open with the control block the device returned.
    EXPECT_TRUE(device.closed.empty());
    EXPECT_EQ(kFakeHandle, client->DeviceHandle());
    EXPECT_EQ(b.data(), client->ControlBlock());
    // The trace classes the module names, in the order of their enable bits ("WLG_INFO" is bit 1).
    const std::wstring names = kTraceClassNames;
    EXPECT_EQ(153u, names.size());
    EXPECT_EQ(0u, names.find(L" WLG_ERROR WLG_INFO WLG_PRIVATE "));
    EXPECT_EQ(12, std::count(names.begin(), names.end(), L' '));
}

TEST_F(TraceClientTest, WithoutDeviceOrControlBlockTheClientStaysSilent)
{
    // No device; a null block; a refused request that wrote an enabling block all the same.
    const Block enabled = ControlBlock(1, kTraceClassInfoBit, 1);
    struct Case {
        bool present; BOOL result; const void* block; size_t requests; std::vector<HANDLE> closed;
    };
    const Case cases[] = {{false, TRUE, enabled.data(), 0, {}},
                          {true, TRUE, nullptr, 1, {kFakeHandle}},
                          {true, FALSE, enabled.data(), 1, {kFakeHandle}}};
    for (const Case& c : cases) {
        Reset();
        device.present = c.present;
        device.registerResult = c.result;
        device.controlBlock = c.block;
        client->Start();
        client->SendStartupMessage();
        EXPECT_EQ(1u, device.opened.size());
        EXPECT_EQ(c.requests, device.requests.size());  // the register request at most
        EXPECT_EQ(c.closed, device.closed);
        EXPECT_EQ(INVALID_HANDLE_VALUE, client->DeviceHandle());
        EXPECT_EQ(nullptr, client->ControlBlock());
    }
}

TEST_F(TraceClientTest, StartupMessageOnlyWhenInfoIsEnabled)
{
    struct Case { const char* what; ULONGLONG logger; BYTE enable, level; bool sent; };
    const Case cases[] = {
        {"enabled", 0x1234, kTraceClassInfoBit, 1, true},
        {"high half of the logger only", 0x1000000000000, kTraceClassInfoBit, 1, true},
        {"everything", ~0ULL, 0xFF, 0xFF, true},
        {"logger 0", 0, 0xFF, 5, false},
        {"info bit clear", 0x1234, 0xFD, 5, false},
        {"level 0", 0x1234, 0xFF, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Start(ControlBlock(c.logger, c.enable, c.level));
        client->SendStartupMessage();
        ASSERT_EQ(c.sent ? 1u : 0u, device.requests.size());
        if (!c.sent)
            continue;
        const Request& r = device.requests[0];
        EXPECT_EQ(0x22200Fu, r.code);
        ASSERT_EQ(64u, r.input.size());
        EXPECT_EQ(64u, Get(r.input, 0, 2));
        EXPECT_EQ(c.logger, Get(r.input, 8, 8));
        EXPECT_EQ(L"{152064F0-BD4B-4A88-A74C-05B27923B067}", GuidText(Get(r.input, 24, 8)));
        EXPECT_EQ((std::vector<Bytes>{{10, 0}}), r.data);
    }
    // The block is read each time: the device may enable the class later.
    Reset();
    Start(ControlBlock(7, 0, 0));
    client->SendStartupMessage();
    block[8] = kTraceClassInfoBit;
    block[15] = 1;
    client->SendStartupMessage();
    ASSERT_EQ(1u, device.requests.size());
    EXPECT_EQ(7u, Get(device.requests[0].input, 8, 8));
}

// The addresses of one message in each bitness, and the 64-bit fields that carry them:
// the 32-bit module sign-extends its addresses, the 64-bit one sends them whole.
struct AddressFields { ULONGLONG guid, first, second; BYTE guidField[8], firstField[8], secondField[8]; };
const AddressFields kAddressFields[] = {
    {0xFEDCBA98, 0x00401000, 0x80000010,
     {0x98, 0xBA, 0xDC, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, {0x00, 0x10, 0x40, 0, 0, 0, 0, 0},
     {0x10, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0xFEDCBA9876543210, 0x0000000140001000, 0x80000010,
     {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}, {0x00, 0x10, 0x00, 0x40, 0x01, 0, 0, 0},
     {0x10, 0x00, 0x00, 0x80, 0, 0, 0, 0}},
};

TEST_F(TraceClientTest, HeaderAndDescriptorsByteByByte)
{
    const AddressFields& a = kAddressFields[sizeof(void*) == 8];
    Start(ControlBlock(1, 0, 0));
    device.readDescriptors = false;  // the addresses below are not readable
    const auto* guid = reinterpret_cast<const GUID*>(At(a.guid));
    EXPECT_EQ(0u, client->Message(0x89ABCDEF, 0x01234567, 0xFFFFFFFF, guid, 0x1234A, At(a.first), ULONG(3),
                                  At(a.second), ULONG(0x0102), static_cast<const void*>(nullptr)));
    ASSERT_EQ(1u, device.requests.size());
    const Bytes& b = device.requests[0].input;
    ASSERT_EQ(96u, b.size());
    BYTE header[48] = {
        0x60, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00,  // 0: total size 96; 4: type
        0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,  // 8: logger handle
        0, 0, 0, 0, 0, 0, 0, 0,                          // 16: time stamp
        0, 0, 0, 0, 0, 0, 0, 0,                          // 24: GUID address
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x1A, 0x00,  // 32: zero; 44: flags
    };
    BYTE arguments[32] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0,  // 64: address, length
        0, 0, 0, 0, 0, 0, 0, 0, 0x02, 1, 0, 0, 0, 0, 0, 0,  // 80
    };
    memcpy(header + 24, a.guidField, 8);
    memcpy(arguments, a.firstField, 8);
    memcpy(arguments + 16, a.secondField, 8);
    EXPECT_EQ(Bytes(header, header + 48), Bytes(b.begin(), b.begin() + 48));
    EXPECT_EQ(Bytes(arguments, arguments + 32), Bytes(b.begin() + 64, b.end()));
    EXPECT_EQ(2u, Get(b, 56, 8));  // descriptor 0: the message number, 2 bytes
}

TEST_F(TraceClientTest, MessageSizesAndTheArgumentLimit)
{
    Start(ControlBlock(1, 0, 0));
    Bytes d(8193);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = BYTE(i * 7);
    const BYTE* p = d.data();
    const ULONG number = 0xDDCCBBAA;
    Args three{{"abc", 3}, {&number, 4}, {L"xy", 6}}, eight, words, nine;
    for (ULONG i = 0; i < 8; ++i) {
        eight.push_back({p + i, 1});
        nine.push_back({p + 1000 * i, 1000});
    }
    for (const char* w : {"one", "two", "three", "four", "five", "six", "seven", "eight", "nine"})
        words.push_back({w, ULONG(strlen(w))});
    auto nineWithLast = [&](ULONG last) { Args a = nine; a.push_back({p + 8000, last}); return a; };

    struct Case { const char* what; Args args; ULONG result; size_t size; };  // size 0: nothing sent
    const Case cases[] = {
        {"none", {}, 0, 64},
        {"three", three, 0, 112},
        {"eight", eight, 0, 192},
        {"nine gathered", words, 0, 80},
        {"8192 bytes", {{p, 8191}, {p + 8191, 1}}, 0, 96},
        {"8192 bytes gathered", nineWithLast(192), 0, 80},
        {"8193 bytes", {{p, 8192}, {p + 8192, 1}}, 0xC0000001, 0},
        {"8193 bytes gathered", nineWithLast(193), 0xC0000001, 0},
        {"lengths that wrap around 32 bits", {{p, 0xFFFFFFFF}, {p, 2}}, 0xC0000001, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.requests.clear();
        EXPECT_EQ(c.result, Send(c.args));
        ASSERT_EQ(c.size ? 1u : 0u, device.requests.size());
        if (!c.size)
            continue;
        const Request& r = device.requests[0];
        ASSERT_EQ(c.size, r.input.size());
        EXPECT_EQ(c.size, Get(r.input, 0, 4));
        std::vector<Bytes> want{{0x34, 0x12}};  // the number's low 16 bits
        Bytes all;
        for (size_t i = 0; i < c.args.size(); ++i) {
            const BYTE* data = static_cast<const BYTE*>(c.args[i].first);
            all.insert(all.end(), data, data + c.args[i].second);
            if (c.args.size() <= kTraceMaxDirectArgs) {  // by address
                want.emplace_back(data, data + c.args[i].second);
                EXPECT_EQ(reinterpret_cast<ULONG_PTR>(data), Get(r.input, 64 + 16 * i, 8));
            }
        }
        if (c.args.size() > kTraceMaxDirectArgs) {  // one block holding all, in order
            want.push_back(all);
            EXPECT_NE(reinterpret_cast<ULONG_PTR>(c.args[0].first), Get(r.input, 64, 8));
        }
        EXPECT_EQ(want, r.data);
        for (size_t off = kTraceHeaderSize; off < c.size; off += kTraceDescriptorSize)
            EXPECT_EQ(0u, Get(r.input, off + 12, 4));
    }
}

TEST(ModuleWithoutTraceDevice, StartsSilentlyAndServesCalls)
{
    HANDLE probe = CreateFileW(kTraceDevicePath, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, probe) << "this check needs a machine without the trace device";
    TraceClient system(SystemTraceDevice());
    system.Start();
    system.SendStartupMessage();
    EXPECT_EQ(INVALID_HANDLE_VALUE, system.DeviceHandle());
    EXPECT_EQ(nullptr, system.ControlBlock());

    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"KalvoraAdminUser.KalvoraUser", &clsid));
    ComPtr<IKalvoraUser> user;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(user.GetAddressOf())));
    EXPECT_NE(nullptr, GetModuleHandleW(L"KalvoraAdminUser.dll")) << "served in process";
    Bstr name(L"jdoe"), back;
    EXPECT_EQ(S_OK, user->put_Name(name.get()));
    EXPECT_EQ(S_OK, user->get_Name(back.put()));
    EXPECT_EQ(L"jdoe", back.str());
}

}  // namespace
