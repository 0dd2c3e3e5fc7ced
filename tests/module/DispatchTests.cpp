// IDispatch over the registered type library.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

ComPtr<IDispatch> Create(REFCLSID clsid)
{
    ComPtr<IDispatch> obj;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &obj));
    return obj;
}

// Invoke with no argument, or a put of `value`.
HRESULT Call(IDispatch* disp, DISPID id, WORD flags, VARIANT* value = nullptr)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, value ? &named : nullptr, value ? 1u : 0u, value ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = disp->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    return hr;
}

TEST(Dispatch, TypeInfoIsOnePerClassWhateverTheIndex)
{
    auto user = Create(CLSID_KalvoraUser);
    UINT count = 0;
    EXPECT_EQ(S_OK, user->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, user->GetTypeInfoCount(nullptr));
    EXPECT_EQ(E_POINTER, user->GetTypeInfo(0, 0, nullptr));
    ComPtr<ITypeInfo> first, seventh, other;
    ComPtr<ITypeInfo2> info2;
    ASSERT_EQ(S_OK, user->GetTypeInfo(0, 0, &first));
    ASSERT_EQ(S_OK, user->GetTypeInfo(7, 0, &seventh));
    EXPECT_EQ(first.Get(), seventh.Get());
    EXPECT_EQ(S_OK, first.As(&info2));
    ASSERT_EQ(S_OK, Create(CLSID_KalvoraUser)->GetTypeInfo(0, 0, &other));
    EXPECT_EQ(first.Get(), other.Get());
}

TEST(Dispatch, NamesResolveExactlyOrWhateverTheirCase)
{
    auto user = Create(CLSID_KalvoraUser), coll = Create(CLSID_EnumKalvoraUser);
    auto shares = Create(CLSID_KalvoraShares);
    const struct {
        IDispatch* disp;
        const wchar_t* name;
        DISPID id;
    } rows[] = {
        {user.Get(), L"Computer", 1},          {user.Get(), L"computer", 1},
        {user.Get(), L"COMPUTER", 1},          {user.Get(), L"MyRecent", 7},
        {user.Get(), L"Name", 8},              {user.Get(), L"name", 8},
        {user.Get(), L"securitylevel", 10},    {user.Get(), L"IsNetwork", 11},
        {user.Get(), L"PopulateMyComputer", 13}, {coll.Get(), L"NextUser", 7},
        {shares.Get(), L"GetRegGroupCount", 10}, {shares.Get(), L"getreggroupcount", 10},
        {shares.Get(), L"PutShare", 1},        {shares.Get(), L"GetGroupName", 11},
        // Neither a prefix nor an extension of a known name is a hit.
        {user.Get(), L"Compute", DISPID_UNKNOWN}, {user.Get(), L"Computers", DISPID_UNKNOWN},
        {user.Get(), L"", DISPID_UNKNOWN},        {shares.Get(), L"GetRegGroup", DISPID_UNKNOWN},
    };
    for (const auto& r : rows) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(r.name)};
        DISPID id = -99;
        EXPECT_EQ(r.id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK,
                  r.disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id))
            << Narrow(r.name);
        EXPECT_EQ(r.id, id) << Narrow(r.name);  // DISPID_UNKNOWN for an unknown name
    }
    // Several names go to the type information, which knows parameter names too;
    // the interface identifier argument is not examined.
    LPOLESTR item[] = {const_cast<LPOLESTR>(L"Item"), const_cast<LPOLESTR>(L"Name")};
    LPOLESTR addUser[] = {const_cast<LPOLESTR>(L"adduser"), const_cast<LPOLESTR>(L"bnetwork")};
    DISPID ids[2] = {-99, -99};
    ASSERT_EQ(S_OK, coll->GetIDsOfNames(IID_NULL, item, 2, 0, ids));
    EXPECT_EQ(5, ids[0]);
    EXPECT_EQ(0, ids[1]);
    ASSERT_EQ(S_OK, coll->GetIDsOfNames(IID_IKalvoraShares, addUser, 2, 0, ids));
    EXPECT_EQ(8, ids[0]);
    EXPECT_EQ(3, ids[1]);
}

TEST(Dispatch, MissingMembersAreReportedByAutomation)
{
    // NextUser is read-only: a put finds no member.
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = 1;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(Create(CLSID_EnumKalvoraUser).Get(), 7, DISPATCH_PROPERTYPUT, &v));
    // The shares interface leaves gaps in its DISPIDs.
    auto shares = Create(CLSID_KalvoraShares);
    for (DISPID id : {3, 5, 8, 12, 0, -5}) {
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(shares.Get(), id, DISPATCH_METHOD)) << id;
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(shares.Get(), id, DISPATCH_PROPERTYGET)) << id;
    }
}

}  // namespace
