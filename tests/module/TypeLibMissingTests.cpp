// Late binding while the type library is not registered: the dispatch calls
// fail with the loader's error and try again later; the function table works.
// Runs in its own process, so that no type information is cached yet.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

class TypeLibMissing : public testing::Test {
protected:
    void SetUp() override
    {
        HRESULT hr = UnRegisterTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, SYS_WIN32);
        ASSERT_TRUE(SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS) << std::hex << hr;
        ComPtr<ITypeLib> lib;
        ASSERT_TRUE(FAILED(LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, lib.GetAddressOf())));
    }
    void TearDown() override { Reregister(); }

    static void Reregister()
    {
        ComPtr<ITypeLib> lib;
        ASSERT_EQ(S_OK, LoadTypeLibEx(BuildPath(L"KalvoraAdminUser.dll").c_str(), REGKIND_REGISTER,
                                      lib.GetAddressOf()));
    }
};

TEST_F(TypeLibMissing, DispatchFailsUntilTheLibraryIsBack)
{
    ComPtr<IKalvoraUser> user;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(user.GetAddressOf())));
    ComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, user.As(&disp));

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Name")};
    DISPID id = -99;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, disp->GetTypeInfo(0, 0, info.GetAddressOf()));
    EXPECT_EQ(nullptr, info.Get());
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
              disp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    UINT count = 0;
    EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    // The function table does not need the library.
    Bstr in(L"direct");
    EXPECT_EQ(S_OK, user->put_Name(in.get()));
    Bstr out;
    EXPECT_EQ(S_OK, user->get_Name(out.put()));
    EXPECT_EQ(L"direct", out.str());

    // Once registered again, the next call loads it.
    Reregister();
    EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(8, id);
    ASSERT_EQ(S_OK, disp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_STREQ(L"direct", result.bstrVal);
    VariantClear(&result);
}

}  // namespace
