// The registered module loads and serves calls on a machine without the
// kernel trace device.
#include <gtest/gtest.h>

#include "diag/TraceClient.h"
#include "support/TestSupport.h"

using namespace kalvora::test;

TEST(ModuleWithoutTraceDevice, LoadsAndServesCalls)
{
    HANDLE probe = CreateFileW(kalvora::diag::kTraceDevicePath, 0, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(INVALID_HANDLE_VALUE, probe) << "this check needs a machine without the trace device";

    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"KalvoraAdminUser.KalvoraUser", &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_KalvoraUser, clsid));

    ComPtr<IKalvoraUser> user;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(user.GetAddressOf())));
    ASSERT_NE(nullptr, GetModuleHandleW(L"KalvoraAdminUser.dll")) << "served in process";

    Bstr name(L"jdoe");
    EXPECT_EQ(S_OK, user->put_Name(name.get()));
    Bstr back;
    EXPECT_EQ(S_OK, user->get_Name(back.put()));
    EXPECT_EQ(L"jdoe", back.str());

    // A second object comes from the same, already started module.
    ComPtr<IKalvoraUser> other;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(other.GetAddressOf())));
    Bstr otherName;
    EXPECT_EQ(S_OK, other->get_Name(otherName.put()));
    EXPECT_EQ(L"", otherName.str());
}
