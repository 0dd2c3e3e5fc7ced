// IDispatch over the registered type library.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

template <class Itf>
ComPtr<Itf> Create(REFCLSID clsid, REFIID iid)
{
    ComPtr<Itf> obj;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                     reinterpret_cast<void**>(obj.GetAddressOf())));
    return obj;
}

HRESULT IdOf(IDispatch* disp, const wchar_t* name, DISPID* id)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

HRESULT PropertyGet(IDispatch* disp, DISPID id, VARIANT* result)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr,
                        nullptr);
}

HRESULT PropertyPut(IDispatch* disp, DISPID id, VARIANT value)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    return disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                        nullptr, nullptr);
}

TEST(Dispatch, TypeInfoCountAndTypeInfo)
{
    auto user = Create<IDispatch>(CLSID_KalvoraUser, IID_IDispatch);
    ASSERT_TRUE(user);
    UINT count = 0;
    EXPECT_EQ(S_OK, user->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, user->GetTypeInfoCount(nullptr));
    EXPECT_EQ(E_POINTER, user->GetTypeInfo(0, 0, nullptr));

    ComPtr<ITypeInfo> first, seventh;
    ASSERT_EQ(S_OK, user->GetTypeInfo(0, 0, first.GetAddressOf()));
    ASSERT_EQ(S_OK, user->GetTypeInfo(7, 0, seventh.GetAddressOf()));
    EXPECT_EQ(first.Get(), seventh.Get());  // any index gives the one type information
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(IID_IKalvoraUser, attr->guid));
    first->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo2> info2;
    EXPECT_EQ(S_OK, first.As(&info2));

    // Every object of a class shares its type information.
    auto other = Create<IDispatch>(CLSID_KalvoraUser, IID_IDispatch);
    ComPtr<ITypeInfo> otherInfo;
    ASSERT_EQ(S_OK, other->GetTypeInfo(0, 0, otherInfo.GetAddressOf()));
    EXPECT_EQ(first.Get(), otherInfo.Get());

    auto shares = Create<IDispatch>(CLSID_KalvoraShares, IID_IDispatch);
    ComPtr<ITypeInfo> sharesInfo;
    ASSERT_EQ(S_OK, shares->GetTypeInfo(0, 0, sharesInfo.GetAddressOf()));
    ASSERT_EQ(S_OK, sharesInfo->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(IID_IKalvoraShares, attr->guid));
    sharesInfo->ReleaseTypeAttr(attr);
}

TEST(Dispatch, NamesResolveExactlyAndCaseInsensitively)
{
    auto user = Create<IDispatch>(CLSID_KalvoraUser, IID_IDispatch);
    ASSERT_TRUE(user);
    const struct {
        const wchar_t* name;
        DISPID id;
    } names[] = {{L"Computer", 1},     {L"computer", 1},   {L"COMPUTER", 1}, {L"MyRecent", 7},
                 {L"Name", 8},         {L"name", 8},       {L"WriteToRegistry", 9},
                 {L"securitylevel", 10}, {L"IsNetwork", 11}, {L"Mailbox", 12},
                 {L"PopulateMyComputer", 13}};
    for (const auto& n : names) {
        DISPID id = -99;
        EXPECT_EQ(S_OK, IdOf(user.Get(), n.name, &id)) << Narrow(n.name);
        EXPECT_EQ(n.id, id) << Narrow(n.name);
    }
    DISPID id = -99;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOf(user.Get(), L"Computers", &id));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOf(user.Get(), L"Compute", &id));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOf(user.Get(), L"", &id));

    // Several names go to the type information, which also knows parameter names.
    auto coll = Create<IDispatch>(CLSID_EnumKalvoraUser, IID_IDispatch);
    ASSERT_TRUE(coll);
    LPOLESTR itemAndName[] = {const_cast<LPOLESTR>(L"Item"), const_cast<LPOLESTR>(L"Name")};
    DISPID ids[2] = {-99, -99};
    ASSERT_EQ(S_OK, coll->GetIDsOfNames(IID_NULL, itemAndName, 2, 0, ids));
    EXPECT_EQ(5, ids[0]);
    EXPECT_EQ(0, ids[1]);  // first parameter
    LPOLESTR addUser[] = {const_cast<LPOLESTR>(L"adduser"), const_cast<LPOLESTR>(L"bnetwork")};
    ASSERT_EQ(S_OK, coll->GetIDsOfNames(IID_NULL, addUser, 2, 0, ids));
    EXPECT_EQ(8, ids[0]);
    EXPECT_EQ(3, ids[1]);

    // The interface identifier argument is not examined.
    IID any = IID_IKalvoraShares;
    LPOLESTR reset[] = {const_cast<LPOLESTR>(L"Reset")};
    EXPECT_EQ(S_OK, coll->GetIDsOfNames(any, reset, 1, 0, ids));
    EXPECT_EQ(1, ids[0]);
}

TEST(Dispatch, SharesDispidsMatchTheLibrary)
{
    auto shares = Create<IDispatch>(CLSID_KalvoraShares, IID_IDispatch);
    ASSERT_TRUE(shares);
    const struct {
        const wchar_t* name;
        DISPID id;
    } names[] = {{L"PutShare", 1},      {L"RemoveShare", 2},      {L"GetShareName", 4},
                 {L"GetShareCount", 6}, {L"GetGroupCount", 7},    {L"GetRegGroupName", 9},
                 {L"GetRegGroupCount", 10}, {L"GetGroupName", 11}};
    for (const auto& n : names) {
        DISPID id = -99;
        EXPECT_EQ(S_OK, IdOf(shares.Get(), n.name, &id)) << Narrow(n.name);
        EXPECT_EQ(n.id, id) << Narrow(n.name);
    }
}

TEST(Dispatch, InvokeReachesTheFunctionTable)
{
    auto user = Create<IKalvoraUser>(CLSID_KalvoraUser, IID_IKalvoraUser);
    ASSERT_TRUE(user);
    ComPtr<IDispatch> disp;
    ASSERT_EQ(S_OK, user.As(&disp));

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"late bound");
    EXPECT_EQ(S_OK, PropertyPut(disp.Get(), 8, v));
    VariantClear(&v);

    Bstr name;
    ASSERT_EQ(S_OK, user->get_Name(name.put()));
    EXPECT_EQ(L"late bound", name.str());

    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, PropertyGet(disp.Get(), 8, &result));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_STREQ(L"late bound", result.bstrVal);
    VariantClear(&result);

    // Arguments are coerced to the declared type: text to long.
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"42");
    EXPECT_EQ(S_OK, PropertyPut(disp.Get(), 11, v));
    VariantClear(&v);
    LONG net = 0;
    ASSERT_EQ(S_OK, user->get_IsNetwork(&net));
    EXPECT_EQ(42, net);

    // A method's failure HRESULT comes back through Invoke.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    HRESULT hr = disp->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &none, &result, &excep, nullptr);
    EXPECT_TRUE(hr == E_FAIL || hr == DISP_E_EXCEPTION) << std::hex << hr;
    if (hr == DISP_E_EXCEPTION) {
        EXPECT_EQ(E_FAIL, excep.scode);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
}

TEST(Dispatch, MissingMembersAreReportedByAutomation)
{
    auto coll = Create<IDispatch>(CLSID_EnumKalvoraUser, IID_IDispatch);
    ASSERT_TRUE(coll);
    // NextUser is read-only: a put finds no member.
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"x");
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, PropertyPut(coll.Get(), 7, v));
    VariantClear(&v);

    auto shares = Create<IDispatch>(CLSID_KalvoraShares, IID_IDispatch);
    ASSERT_TRUE(shares);
    for (DISPID id : {3, 5, 8, 12, 0, -5}) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
                  shares->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr))
            << id;
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
                  shares->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr))
            << id;
    }

    // A put without its value fails in the dispatch layer; the property stays.
    auto user = Create<IKalvoraUser>(CLSID_KalvoraUser, IID_IKalvoraUser);
    ComPtr<IDispatch> userDisp;
    ASSERT_EQ(S_OK, user.As(&userDisp));
    Bstr before(L"kept");
    ASSERT_EQ(S_OK, user->put_Name(before.get()));
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    HRESULT hr = userDisp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr);
    EXPECT_TRUE(hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_BADPARAMCOUNT) << std::hex << hr;
    Bstr after;
    ASSERT_EQ(S_OK, user->get_Name(after.put()));
    EXPECT_EQ(L"kept", after.str());
}

TEST(Dispatch, CacheLookupIsCaseSensitiveAndFallsBack)
{
    // Names that only differ in case from a cached one still resolve through
    // the type information; names the library does not hold fail the same
    // way through both paths.
    auto shares = Create<IDispatch>(CLSID_KalvoraShares, IID_IDispatch);
    ASSERT_TRUE(shares);
    DISPID exact = -1, lower = -1;
    ASSERT_EQ(S_OK, IdOf(shares.Get(), L"GetRegGroupCount", &exact));
    ASSERT_EQ(S_OK, IdOf(shares.Get(), L"getreggroupcount", &lower));
    EXPECT_EQ(10, exact);
    EXPECT_EQ(exact, lower);
    // A prefix or an extension of a cached name is not a hit.
    DISPID id = -1;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOf(shares.Get(), L"GetRegGroup", &id));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdOf(shares.Get(), L"GetRegGroupCounts", &id));
    // The inherited members are known by name too.
    EXPECT_EQ(S_OK, IdOf(shares.Get(), L"QueryInterface", &id));
}

}  // namespace
