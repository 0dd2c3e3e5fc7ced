// Late binding while the type library is not registered: the dispatch calls
// fail with the loader's error and try again later; the function table works.
// Runs in its own process, so that no type information is cached yet.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

HRESULT RegisterLibrary()
{
    ComPtr<ITypeLib> lib;
    return LoadTypeLibEx(BuildPath(L"KalvoraAdminUser.dll").c_str(), REGKIND_REGISTER, &lib);
}

TEST(TypeLibMissing, DispatchFailsUntilTheLibraryIsBack)
{
    const SYSKIND own = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    HRESULT hr = UnRegisterTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, own);
    ASSERT_TRUE(SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS) << std::hex << hr;
    // A 64-bit process would also find the 32-bit registration, where there is one.
    if (own == SYS_WIN64)
        UnRegisterTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, SYS_WIN32);
    struct Restore {
        ~Restore() { RegisterLibrary(); }  // whatever happens, for the suites that follow
    } restore;
    ComPtr<IKalvoraUser> user;
    ComPtr<IDispatch> disp;
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser, &user));
    ASSERT_EQ(S_OK, user.As(&disp));

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Name")};
    DISPID id = -99;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    UINT count = 0;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, disp->GetTypeInfo(0, 0, &info));
    EXPECT_EQ(nullptr, info.Get());
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
              disp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    // The function table does not need the library.
    Bstr in(L"direct"), out;
    EXPECT_EQ(S_OK, user->put_Name(in.get()));
    EXPECT_EQ(S_OK, user->get_Name(out.put()));
    EXPECT_EQ(L"direct", out.str());

    // Once registered again, the next call loads it.
    ASSERT_EQ(S_OK, RegisterLibrary());
    EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(8, id);
    ASSERT_EQ(S_OK, disp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_STREQ(L"direct", result.bstrVal);
    VariantClear(&result);
}

}  // namespace
