// Late binding while the type library is not registered: the dispatch calls
// fail with the loader's error and try again later; the function table works.
// A process of its own, whose main loads no type information before the test.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

TEST(TypeLibMissing, DispatchFailsUntilTheLibraryIsBack)
{
    HRESULT hr = UnRegisterTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    ASSERT_TRUE(SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS);
    ComPtr<IKalvoraUser> user = Create<IKalvoraUser>(CLSID_KalvoraUser);
    EXPECT_EQ(L"!0x8002801D", Call(user.Get(), L"Name"));  // TYPE_E_LIBNOTREGISTERED
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(INT_PTR(8));
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, user->GetTypeInfo(0, 0, &info));
    EXPECT_EQ(nullptr, info) << "a failure clears the out pointer";
    // The function table needs no library; once it is registered again, the next call loads it.
    EXPECT_EQ(S_OK, user->put_Name(B(L"direct").Get()));
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadTypeLibEx(InstallPath(L"KalvoraAdminUser.dll").c_str(), REGKIND_REGISTER, &lib));
    EXPECT_EQ(L"direct", Call(user.Get(), L"Name"));
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
