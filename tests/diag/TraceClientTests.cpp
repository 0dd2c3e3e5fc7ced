// The trace client against a fake trace device: registration, the start-up
// message and the exact bytes of the trace message buffer.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "diag/TraceClient.h"

using namespace kalvora::diag;

namespace {

// One request as the device saw it while the call was running.
struct DeviceRequest {
    HANDLE handle = nullptr;
    DWORD code = 0;
    std::vector<BYTE> input;  // the input buffer, copied at call time
    DWORD outputSize = 0;
    // Register request: what the two addresses pointed at.
    GUID controlGuid{};
    std::wstring moduleName;
    // Trace request: the bytes each descriptor pointed at.
    std::vector<std::vector<BYTE>> descriptorData;
};

// A kernel trace device stand-in. It reads buffers in place during the call,
// as a METHOD_NEITHER driver does.
struct FakeDevice {
    bool present = true;
    BOOL registerResult = TRUE;
    const void* controlBlock = nullptr;  // written into the register output
    bool readDescriptors = true;         // false when a test passes unreadable addresses

    int opens = 0;
    std::wstring openedPath;
    DWORD access = 0xFFFFFFFF, share = 0xFFFFFFFF, disposition = 0, attributes = 0;
    bool nullSecurity = false, nullTemplate = false;
    std::vector<DeviceRequest> requests;
    std::vector<HANDLE> closed;

    std::vector<const DeviceRequest*> Traces() const
    {
        std::vector<const DeviceRequest*> out;
        for (const auto& r : requests)
            if (r.code == kTraceMessageRequest)
                out.push_back(&r);
        return out;
    }
};

FakeDevice* g_device = nullptr;
HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(0x5A4);

const void* AddressOf(ULONG value) { return reinterpret_cast<const void*>(static_cast<ULONG_PTR>(value)); }

ULONG Get32(const std::vector<BYTE>& b, size_t offset)
{
    ULONG v = 0;
    memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

ULONGLONG Get64(const std::vector<BYTE>& b, size_t offset)
{
    ULONGLONG v = 0;
    memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

HANDLE WINAPI FakeOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                       DWORD attributes, HANDLE templ)
{
    FakeDevice& d = *g_device;
    ++d.opens;
    d.openedPath = path;
    d.access = access;
    d.share = share;
    d.disposition = disposition;
    d.attributes = attributes;
    d.nullSecurity = sa == nullptr;
    d.nullTemplate = templ == nullptr;
    if (!d.present) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return kFakeHandle;
}

BOOL WINAPI FakeControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                        LPDWORD returned, LPOVERLAPPED overlapped)
{
    FakeDevice& d = *g_device;
    EXPECT_NE(nullptr, returned) << "synchronous requests need a byte count";
    EXPECT_EQ(nullptr, overlapped);
    DeviceRequest r;
    r.handle = handle;
    r.code = code;
    r.outputSize = outSize;
    if (in && inSize)
        r.input.assign(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inSize);

    BOOL result = TRUE;
    if (code == kTraceRegisterRequest && r.input.size() == 8) {
        memcpy(&r.controlGuid, AddressOf(Get32(r.input, 0)), sizeof(GUID));
        r.moduleName = static_cast<const wchar_t*>(AddressOf(Get32(r.input, 4)));
        if (out && outSize >= 4) {
            ULONG block = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(d.controlBlock));
            memcpy(out, &block, sizeof block);
        }
        result = d.registerResult;
    } else if (code == kTraceMessageRequest && r.input.size() >= kTraceHeaderSize && d.readDescriptors) {
        for (size_t off = kTraceHeaderSize; off + kTraceDescriptorSize <= r.input.size();
             off += kTraceDescriptorSize) {
            const BYTE* data = static_cast<const BYTE*>(AddressOf(static_cast<ULONG>(Get64(r.input, off))));
            ULONG length = Get32(r.input, off + 8);
            if (length > kTraceMaxArgBytes) {
                ADD_FAILURE() << "descriptor at " << off << " claims " << length << " bytes";
                r.descriptorData.emplace_back();
                continue;
            }
            r.descriptorData.emplace_back(data, data + length);
        }
    }
    d.requests.push_back(std::move(r));
    if (returned)
        *returned = 0;
    return result;
}

BOOL WINAPI FakeClose(HANDLE handle)
{
    g_device->closed.push_back(handle);
    return TRUE;
}

const TraceDeviceCalls kFakeCalls{&FakeOpen, &FakeControl, &FakeClose};

// A control block as the device would keep it.
struct ControlBlock {
    std::array<BYTE, 16> bytes{};
    ControlBlock(ULONG loggerLow, ULONG loggerHigh, BYTE enable, BYTE level)
    {
        memcpy(&bytes[0], &loggerLow, 4);
        memcpy(&bytes[4], &loggerHigh, 4);
        bytes[8] = enable;
        bytes[15] = level;
    }
};

class TraceClientTest : public ::testing::Test {
protected:
    void SetUp() override { g_device = &m_device; }
    void TearDown() override { g_device = nullptr; }

    // A client registered with the fake device, holding the given block.
    void StartWith(const ControlBlock& block)
    {
        m_block = block;
        m_device.controlBlock = m_block.bytes.data();
        m_client.Start();
        m_device.requests.clear();
    }

    FakeDevice m_device;
    ControlBlock m_block{0, 0, 0, 0};
    TraceClient m_client{kFakeCalls};
};

// ---- constants -----------------------------------------------------------------

TEST(TraceConstants, ClassNamesListTwelveClassesInBitOrder)
{
    EXPECT_EQ(153u, wcslen(kTraceClassNames));
    EXPECT_EQ(154u, sizeof kTraceClassNames / sizeof kTraceClassNames[0]);
    EXPECT_EQ(L' ', kTraceClassNames[0]);
    // Bit 0 is the first name, bit 1 ("WLG_INFO") the second.
    EXPECT_EQ(0, wcsncmp(kTraceClassNames, L" WLG_ERROR WLG_INFO ", 20));
    int names = 0;
    for (const wchar_t* p = kTraceClassNames; *p; ++p)
        if (*p == L' ')
            ++names;
    EXPECT_EQ(12, names);
    EXPECT_STREQ(L"ORVE_KalvoraAdminUser", kTraceModuleName);
}

TEST(TraceConstants, GuidsAreTheFixedValues)
{
    wchar_t text[40];
    ASSERT_GT(StringFromGUID2(kTraceControlGuid, text, 40), 0);
    EXPECT_STREQ(L"{DBD8C864-DA94-4238-9B5C-F5EFF26FE52B}", text);
    ASSERT_GT(StringFromGUID2(kTraceMessageGuid, text, 40), 0);
    EXPECT_STREQ(L"{152064F0-BD4B-4A88-A74C-05B27923B067}", text);
}

// ---- start ---------------------------------------------------------------------------

TEST_F(TraceClientTest, NoDeviceLeavesTheClientSilent)
{
    m_device.present = false;
    m_client.Start();
    m_client.SendStartupMessage();
    EXPECT_EQ(1, m_device.opens);
    EXPECT_TRUE(m_device.requests.empty());
    EXPECT_TRUE(m_device.closed.empty());
    EXPECT_EQ(INVALID_HANDLE_VALUE, m_client.DeviceHandle());
    EXPECT_EQ(nullptr, m_client.ControlBlock());
    EXPECT_FALSE(m_client.InfoEnabled());
}

TEST_F(TraceClientTest, StartOpensTheDeviceAndRegistersByAddress)
{
    ControlBlock block(1, 0, 0, 0);
    m_device.controlBlock = block.bytes.data();
    m_client.Start();

    EXPECT_EQ(1, m_device.opens);
    EXPECT_EQ(L"\\\\.\\Global\\QRNWLG", m_device.openedPath);
    EXPECT_EQ(0u, m_device.access);
    EXPECT_EQ(0u, m_device.share);
    EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), m_device.disposition);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), m_device.attributes);
    EXPECT_TRUE(m_device.nullSecurity);
    EXPECT_TRUE(m_device.nullTemplate);

    ASSERT_EQ(1u, m_device.requests.size());
    const DeviceRequest& r = m_device.requests[0];
    EXPECT_EQ(kFakeHandle, r.handle);
    EXPECT_EQ(0x222007u, r.code);
    ASSERT_EQ(8u, r.input.size());
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&kTraceControlGuid), Get32(r.input, 0));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(kTraceModuleName), Get32(r.input, 4));
    EXPECT_TRUE(IsEqualGUID(kTraceControlGuid, r.controlGuid));
    EXPECT_EQ(L"ORVE_KalvoraAdminUser", r.moduleName);
    EXPECT_EQ(4u, r.outputSize);

    // The handle stays open with the control block the device returned.
    EXPECT_TRUE(m_device.closed.empty());
    EXPECT_EQ(kFakeHandle, m_client.DeviceHandle());
    EXPECT_EQ(block.bytes.data(), m_client.ControlBlock());

    // A second start keeps the registration it has.
    m_client.Start();
    EXPECT_EQ(1, m_device.opens);
    EXPECT_EQ(1u, m_device.requests.size());
}

TEST_F(TraceClientTest, NullControlBlockClosesTheHandle)
{
    m_device.controlBlock = nullptr;
    m_client.Start();
    ASSERT_EQ(1u, m_device.closed.size());
    EXPECT_EQ(kFakeHandle, m_device.closed[0]);
    EXPECT_EQ(INVALID_HANDLE_VALUE, m_client.DeviceHandle());
    EXPECT_EQ(nullptr, m_client.ControlBlock());
    m_client.SendStartupMessage();
    EXPECT_TRUE(m_device.Traces().empty());
}

TEST_F(TraceClientTest, RefusedRegistrationDropsWhateverTheDeviceWrote)
{
    ControlBlock block(1, 0, kTraceClassInfoBit, 1);
    m_device.controlBlock = block.bytes.data();  // written although the request fails
    m_device.registerResult = FALSE;
    m_client.Start();
    ASSERT_EQ(1u, m_device.closed.size());
    EXPECT_EQ(kFakeHandle, m_device.closed[0]);
    EXPECT_EQ(nullptr, m_client.ControlBlock());
    m_client.SendStartupMessage();
    EXPECT_TRUE(m_device.Traces().empty());
}

TEST(TraceClientSystem, StartWithoutTheDeviceUnderThisPlatform)
{
    // No trace device exists here: the system calls fail to open it.
    HANDLE probe = CreateFileW(kTraceDevicePath, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, probe);

    TraceClient client(SystemTraceDevice());
    client.Start();
    client.SendStartupMessage();
    EXPECT_EQ(INVALID_HANDLE_VALUE, client.DeviceHandle());
    EXPECT_EQ(nullptr, client.ControlBlock());
    EXPECT_FALSE(client.InfoEnabled());
}

// ---- start-up message --------------------------------------------------------------

struct StartupCase {
    const char* name;
    ULONG loggerLow, loggerHigh;
    BYTE enable, level;
    bool sent;
};

void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

class StartupMessageTest : public TraceClientTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupMessageTest, SentOnlyWhenInfoIsEnabled)
{
    const StartupCase& c = GetParam();
    StartWith(ControlBlock(c.loggerLow, c.loggerHigh, c.enable, c.level));
    EXPECT_EQ(c.sent, m_client.InfoEnabled());
    m_client.SendStartupMessage();
    auto traces = m_device.Traces();
    ASSERT_EQ(c.sent ? 1u : 0u, traces.size());
    EXPECT_EQ(traces.size(), m_device.requests.size());
    if (!c.sent)
        return;
    const DeviceRequest& r = *traces[0];
    EXPECT_EQ(kFakeHandle, r.handle);
    ASSERT_EQ(64u, r.input.size());
    EXPECT_EQ(64u, Get32(r.input, 0) & 0xFFFF);
    EXPECT_EQ(c.loggerLow, Get32(r.input, 8));
    EXPECT_EQ(c.loggerHigh, Get32(r.input, 12));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&kTraceMessageGuid), Get32(r.input, 24));
    ASSERT_EQ(1u, r.descriptorData.size());
    EXPECT_EQ((std::vector<BYTE>{10, 0}), r.descriptorData[0]);
}

INSTANTIATE_TEST_SUITE_P(
    ControlBlocks, StartupMessageTest,
    ::testing::Values(StartupCase{"Enabled", 0x1234, 0, kTraceClassInfoBit, 1, true},
                      StartupCase{"HighHalfOnly", 0, 0x00010000, kTraceClassInfoBit, 1, true},
                      StartupCase{"AllClassesTopLevel", 0xFFFFFFFF, 0xFFFFFFFF, 0xFF, 0xFF, true},
                      StartupCase{"LoggerZero", 0, 0, 0xFF, 5, false},
                      StartupCase{"InfoBitClear", 0x1234, 0, 0xFD, 5, false},
                      StartupCase{"LevelZero", 0x1234, 0, 0xFF, 0, false}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

TEST_F(TraceClientTest, ControlBlockIsReadWhenTheMessageIsDecided)
{
    // The device changes its block at any time; the client reads it each time.
    StartWith(ControlBlock(7, 0, 0, 0));
    m_client.SendStartupMessage();
    EXPECT_TRUE(m_device.Traces().empty());
    m_block.bytes[8] = kTraceClassInfoBit;
    m_block.bytes[15] = 1;
    m_client.SendStartupMessage();
    ASSERT_EQ(1u, m_device.Traces().size());
    EXPECT_EQ(7u, Get32(m_device.Traces()[0]->input, 8));
}

// ---- message buffer ----------------------------------------------------------------

TEST_F(TraceClientTest, HeaderAndDescriptorsByteByByte)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    m_device.readDescriptors = false;  // the addresses below are not readable
    const GUID* guid = reinterpret_cast<const GUID*>(static_cast<ULONG_PTR>(0xFEDCBA98));
    const void* low = AddressOf(0x00401000);
    const void* high = AddressOf(0x80000010);
    ULONG result = m_client.Message(0x89ABCDEF, 0x01234567, 0xFFFFFFFF, guid, 0x1234A, low, ULONG(3), high,
                                    ULONG(0x0102), static_cast<const void*>(nullptr));
    EXPECT_EQ(0u, result);
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    const std::vector<BYTE>& b = traces[0]->input;
    ASSERT_EQ(96u, b.size());

    const BYTE header[48] = {
        0x60, 0x00,                                      // 0: total size 96
        0x00, 0x00,                                      // 2
        0xFF, 0x00, 0x00, 0x00,                          // 4: type, then 0
        0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,  // 8: logger handle
        0, 0, 0, 0, 0, 0, 0, 0,                          // 16: time stamp
        0x98, 0xBA, 0xDC, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF,  // 24: GUID address, sign-extended
        0, 0, 0, 0, 0, 0, 0, 0,                          // 32
        0, 0, 0, 0,                                      // 40
        0x00, 0x00, 0x1A, 0x00,                          // 44: flags
    };
    for (size_t i = 0; i < sizeof header; ++i)
        EXPECT_EQ(header[i], b[i]) << "header byte " << i;

    // Descriptor 0: the message number, 2 bytes, at a sign-extended address.
    ULONGLONG numberAddress = Get64(b, 48);
    ULONG numberLow = static_cast<ULONG>(numberAddress);
    EXPECT_EQ((numberLow & 0x80000000u) ? 0xFFFFFFFFu : 0u, static_cast<ULONG>(numberAddress >> 32));
    EXPECT_EQ(2u, Get32(b, 56));
    EXPECT_EQ(0u, Get32(b, 60));

    const BYTE arguments[32] = {
        0x00, 0x10, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00,  // 64: first argument's address
        0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 72: its length, then 0
        0x10, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF,  // 80: second, sign-extended
        0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 88
    };
    for (size_t i = 0; i < sizeof arguments; ++i)
        EXPECT_EQ(arguments[i], b[64 + i]) << "descriptor byte " << 64 + i;
}

TEST_F(TraceClientTest, MessageNumberSendsItsLow16Bits)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    m_client.Message(1, 0, 0, &kTraceMessageGuid, 0xABCD1234, static_cast<const void*>(nullptr));
    ASSERT_EQ(1u, m_device.Traces().size());
    EXPECT_EQ((std::vector<BYTE>{0x34, 0x12}), m_device.Traces()[0]->descriptorData[0]);
}

TEST_F(TraceClientTest, NoArgumentsGive64Bytes)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    EXPECT_EQ(0u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 3, static_cast<const void*>(nullptr)));
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    EXPECT_EQ(64u, traces[0]->input.size());
    EXPECT_EQ(64u, Get32(traces[0]->input, 0));
}

TEST_F(TraceClientTest, ThreeArgumentsGoByAddressIn112Bytes)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    const char a[] = "abc";
    const ULONG b = 0xDDCCBBAA;
    const wchar_t c[] = L"xy";
    EXPECT_EQ(0u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 4, a, ULONG(3), &b, ULONG(sizeof b), c,
                                   ULONG(sizeof c), static_cast<const void*>(nullptr)));
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    const DeviceRequest& r = *traces[0];
    ASSERT_EQ(112u, r.input.size());
    EXPECT_EQ(112u, Get32(r.input, 0));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(a), Get64(r.input, 64));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&b), Get64(r.input, 80));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(c), Get64(r.input, 96));
    ASSERT_EQ(4u, r.descriptorData.size());
    EXPECT_EQ((std::vector<BYTE>{'a', 'b', 'c'}), r.descriptorData[1]);
    EXPECT_EQ((std::vector<BYTE>{0xAA, 0xBB, 0xCC, 0xDD}), r.descriptorData[2]);
    EXPECT_EQ((std::vector<BYTE>{'x', 0, 'y', 0, 0, 0}), r.descriptorData[3]);
}

TEST_F(TraceClientTest, EightArgumentsStillGoByAddress)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    BYTE v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    m_client.Message(1, 0, 0, &kTraceMessageGuid, 5, &v[0], ULONG(1), &v[1], ULONG(1), &v[2], ULONG(1), &v[3],
                     ULONG(1), &v[4], ULONG(1), &v[5], ULONG(1), &v[6], ULONG(1), &v[7], ULONG(1),
                     static_cast<const void*>(nullptr));
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    const DeviceRequest& r = *traces[0];
    ASSERT_EQ(192u, r.input.size());
    EXPECT_EQ(192u, Get32(r.input, 0));
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&v[i]), Get64(r.input, 64 + 16 * i)) << "argument " << i;
        EXPECT_EQ(1u, Get32(r.input, 72 + 16 * i));
    }
}

TEST_F(TraceClientTest, NineArgumentsAreGatheredIntoOneBlock)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    const char s1[] = "one", s2[] = "two", s3[] = "three", s4[] = "four", s5[] = "five", s6[] = "six",
               s7[] = "seven", s8[] = "eight", s9[] = "nine";
    EXPECT_EQ(0u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 6, s1, ULONG(3), s2, ULONG(3), s3, ULONG(5), s4,
                                   ULONG(4), s5, ULONG(4), s6, ULONG(3), s7, ULONG(5), s8, ULONG(5), s9, ULONG(4),
                                   static_cast<const void*>(nullptr)));
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    const DeviceRequest& r = *traces[0];
    ASSERT_EQ(80u, r.input.size());
    EXPECT_EQ(80u, Get32(r.input, 0));
    EXPECT_EQ(36u, Get32(r.input, 72));
    EXPECT_EQ(0u, Get32(r.input, 76));
    ULONG_PTR block = static_cast<ULONG_PTR>(Get64(r.input, 64));
    EXPECT_NE(reinterpret_cast<ULONG_PTR>(s1), block);
    ASSERT_EQ(2u, r.descriptorData.size());
    std::string gathered(r.descriptorData[1].begin(), r.descriptorData[1].end());
    EXPECT_EQ("onetwothreefourfivesixseveneightnine", gathered);
    EXPECT_EQ((std::vector<BYTE>{6, 0}), r.descriptorData[0]);
}

// ---- size limit ----------------------------------------------------------------------

TEST_F(TraceClientTest, ArgumentsUpTo8192BytesAreSent)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    std::vector<BYTE> data(8192, 0x5A);
    EXPECT_EQ(0u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 7, data.data(), ULONG(8191), &data[8191], ULONG(1),
                                   static_cast<const void*>(nullptr)));
    ASSERT_EQ(1u, m_device.Traces().size());
    EXPECT_EQ(96u, m_device.Traces()[0]->input.size());
}

TEST_F(TraceClientTest, ArgumentsOver8192BytesAreRefused)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    std::vector<BYTE> data(8193, 0x5A);
    EXPECT_EQ(0xC0000001u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 7, data.data(), ULONG(8192), &data[8192],
                                            ULONG(1), static_cast<const void*>(nullptr)));
    EXPECT_TRUE(m_device.requests.empty());
}

TEST_F(TraceClientTest, GatheredBlockObeysTheSameLimit)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    std::vector<BYTE> data(8193);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i * 7);
    BYTE* p = data.data();
    // Nine arguments, 8192 bytes in all: sent as one block holding them in order.
    EXPECT_EQ(0u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 8, p, ULONG(1000), p + 1000, ULONG(1000), p + 2000,
                                   ULONG(1000), p + 3000, ULONG(1000), p + 4000, ULONG(1000), p + 5000, ULONG(1000),
                                   p + 6000, ULONG(1000), p + 7000, ULONG(1000), p + 8000, ULONG(192),
                                   static_cast<const void*>(nullptr)));
    auto traces = m_device.Traces();
    ASSERT_EQ(1u, traces.size());
    ASSERT_EQ(2u, traces[0]->descriptorData.size());
    EXPECT_EQ(std::vector<BYTE>(data.begin(), data.begin() + 8192), traces[0]->descriptorData[1]);

    // One byte more: refused before anything is gathered or sent.
    m_device.requests.clear();
    EXPECT_EQ(0xC0000001u,
              m_client.Message(1, 0, 0, &kTraceMessageGuid, 8, p, ULONG(1000), p + 1000, ULONG(1000), p + 2000,
                               ULONG(1000), p + 3000, ULONG(1000), p + 4000, ULONG(1000), p + 5000, ULONG(1000),
                               p + 6000, ULONG(1000), p + 7000, ULONG(1000), p + 8000, ULONG(193),
                               static_cast<const void*>(nullptr)));
    EXPECT_TRUE(m_device.requests.empty());
}

TEST_F(TraceClientTest, LengthsThatWrapAround32BitsAreRefused)
{
    StartWith(ControlBlock(1, 0, 0, 0));
    BYTE x = 0;
    // 0xFFFFFFFF + 2 is 1 in 32-bit arithmetic; the total is still far too large.
    EXPECT_EQ(0xC0000001u, m_client.Message(1, 0, 0, &kTraceMessageGuid, 9, &x, ULONG(0xFFFFFFFF), &x, ULONG(2),
                                            static_cast<const void*>(nullptr)));
    EXPECT_TRUE(m_device.requests.empty());
}

}  // namespace
