// The registered type library, read back through oleaut32 member by member, and IDispatch over it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

// Each class with its interface's functions in table order, written as
// "DISPID [get |put ]Name([flags] type name, ...)". A put's value has no name.
const struct Class {
    const wchar_t* name;
    const CLSID* clsid;
    const IID* iid;
    std::vector<std::wstring> members;
} kClasses[] = {
    {L"KalvoraUser", &CLSID_KalvoraUser, &IID_IKalvoraUser, {
        L"1 get Computer([out,retval] BSTR* pVal)",        L"1 put Computer([in] BSTR)",
        L"2 get MyComputer([out,retval] BSTR* pVal)",      L"2 put MyComputer([in] BSTR)",
        L"3 get MyDesktop([out,retval] BSTR* pVal)",       L"3 put MyDesktop([in] BSTR)",
        L"4 get MyDocuments([out,retval] BSTR* pVal)",     L"4 put MyDocuments([in] BSTR)",
        L"5 get MyFavorites([out,retval] BSTR* pVal)",     L"5 put MyFavorites([in] BSTR)",
        L"6 get MyNetwork([out,retval] BSTR* pVal)",       L"6 put MyNetwork([in] BSTR)",
        L"7 get MyRecent([out,retval] BSTR* pVal)",        L"7 put MyRecent([in] BSTR)",
        L"8 get Name([out,retval] BSTR* pVal)",            L"8 put Name([in] BSTR)",
        L"9 WriteToRegistry()",
        L"10 get SecurityLevel([out,retval] BSTR* pVal)",  L"10 put SecurityLevel([in] BSTR)",
        L"11 get IsNetwork([out,retval] long* pVal)",      L"11 put IsNetwork([in] long)",
        L"12 get Mailbox([out,retval] BSTR* pVal)",        L"12 put Mailbox([in] BSTR)",
        L"13 PopulateMyComputer()"}},
    {L"EnumKalvoraUser", &CLSID_EnumKalvoraUser, &IID_IEnumKalvoraUser, {
        L"1 Reset()",
        L"2 Add([in] IKalvoraUser* pUser)",
        L"3 New([in] IKalvoraUser** ppUser)",
        L"4 Remove([in] BSTR Name)",
        L"5 Item([in] BSTR Name, [out,retval] IKalvoraUser** ppUser)",
        L"6 GetCount([out,retval] long* count)",
        L"7 get NextUser([out,retval] BSTR* pVal)",
        L"8 AddUser([in] BSTR Name, [in] BSTR Mailbox, [in] BSTR Computer, [in] long bNetwork)",
        L"9 GetDomainUserCount([in] BSTR bsGroup, [out,retval] long* pVal)",
        L"10 GetDomainUserName([in] long lIndex, [out,retval] BSTR* pVal)",
        L"12 CheckComputer([in] BSTR bsName, [in] BSTR bsCompName, [out,retval] long* Check)",
        L"13 GetUserGroupCount([out,retval] long* pVal)",
        L"14 GetUserGroupName([in] long lIndex, [out,retval] BSTR* pVal)",
        L"15 ImportFile([in] BSTR ImportFile, [out,retval] long* Check)",
        L"16 ClearKeys()",
        L"17 AddUserDB([in] VARIANT user, [in] VARIANT comp, [in] VARIANT myComp, [in] VARIANT myDesk, "
        L"[in] VARIANT myDoc, [in] VARIANT myFav, [in] VARIANT networkEnable, [in] VARIANT security)"}},
    {L"KalvoraShares", &CLSID_KalvoraShares, &IID_IKalvoraShares, {
        L"1 PutShare([in] BSTR bsGroup, [in] BSTR bsName, [in] BSTR bsPath, [in] BSTR bsPass, "
        L"[in] BSTR bsAgent, [in] BSTR bsAppType, [out,retval] long* error)",
        L"2 RemoveShare(BSTR bsGroup, BSTR bsName)",
        L"4 GetShareName([in] long lIndex, [out,retval] BSTR* bsName)",
        L"6 GetShareCount([in] BSTR bsGroup, [out,retval] long* lCount)",
        L"7 GetGroupCount([out,retval] long* lCount)",
        L"9 GetRegGroupName([in] long lIndex, [out,retval] BSTR* bsShareName)",
        L"10 GetRegGroupCount([out,retval] long* lCount)",
        L"11 GetGroupName([in] long lIndex, [out,retval] BSTR* bsName)"}},
};

std::wstring Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL)
{
    Bstr name;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr));
    return name.str();
}

// "name: help string" of a type or member, and its help context when that is not 0.
std::wstring Doc(ITypeInfo* info, MEMBERID id = MEMBERID_NIL)
{
    Bstr name, help;
    DWORD ctx = 1;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, name.put(), help.put(), &ctx, nullptr));
    return name.str() + L": " + help.str() + (ctx ? L" #" + std::to_wstring(ctx) : L"");
}

// A copy of a type's attributes.
TYPEATTR Attr(ITypeInfo* info)
{
    TYPEATTR copy{}, *attr = nullptr;
    EXPECT_EQ(S_OK, info->GetTypeAttr(&attr));
    if (attr) {
        copy = *attr;
        info->ReleaseTypeAttr(attr);
    }
    return copy;
}

// The type that `info` implements or derives from at `index` (-1: a dual interface's function-table view).
ComPtr<ITypeInfo> Ref(ITypeInfo* info, UINT index)
{
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> ref;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(index, &href));
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(href, &ref));
    return ref;
}

std::wstring TypeText(ITypeInfo* info, const TYPEDESC& t)
{
    ComPtr<ITypeInfo> ref;
    switch (t.vt) {
    case VT_PTR: return TypeText(info, *t.lptdesc) + L"*";
    case VT_BSTR: return L"BSTR";
    case VT_I4: return L"long";
    case VT_VARIANT: return L"VARIANT";
    case VT_USERDEFINED:
        return SUCCEEDED(info->GetRefTypeInfo(t.hreftype, &ref)) ? Name(ref.Get()) : L"?";
    default: return L"vt" + std::to_wstring(t.vt);
    }
}

// Function `index` of a function-table view, in the form of the tables above;
// checks what every member shares: an HRESULT, no flags, help "property X" or "method X".
std::wstring Describe(ITypeInfo* info, WORD index)
{
    FUNCDESC* fd = nullptr;
    EXPECT_EQ(S_OK, info->GetFuncDesc(index, &fd));
    if (!fd)
        return L"?";
    EXPECT_EQ(VT_HRESULT, fd->elemdescFunc.tdesc.vt);
    EXPECT_EQ(0, fd->wFuncFlags);
    EXPECT_EQ(0, fd->cParamsOpt);
    const std::wstring name = Name(info, fd->memid);
    EXPECT_EQ(name + (fd->invkind == INVOKE_FUNC ? L": method " : L": property ") + name,
              Doc(info, fd->memid));

    // Parameter names are those of the first function of the DISPID: for a property, its get.
    BSTR names[16] = {};
    UINT count = 0;
    EXPECT_EQ(S_OK, info->GetNames(fd->memid, names, 16, &count));
    const bool named = fd->invkind != INVOKE_PROPERTYPUT;
    std::wstring s = std::to_wstring(fd->memid) + L" " +
                     (fd->invkind == INVOKE_PROPERTYGET ? L"get " : named ? L"" : L"put ") + name + L"(";
    for (SHORT p = 0; p < fd->cParams; ++p) {
        const ELEMDESC& e = fd->lprgelemdescParam[p];
        const USHORT f = e.paramdesc.wParamFlags;
        s += p ? L", " : L"";
        s += f == PARAMFLAG_FIN ? L"[in] "
             : f == (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL) ? L"[out,retval] "
             : f ? L"[" + std::to_wstring(f) + L"] " : L"";
        s += TypeText(info, e.tdesc);
        if (named)
            s += L" " + std::wstring(p + 1u < count && names[p + 1] ? names[p + 1] : L"?");
    }
    if (named && count != fd->cParams + 1u)
        s += L" with " + std::to_wstring(count) + L" names";
    for (UINT k = 0; k < count; ++k)
        SysFreeString(names[k]);
    info->ReleaseFuncDesc(fd);
    return s + L")";
}

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

class TypeLib : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, &lib_)); }
    ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLib, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_KALVORAADMINUSERLib, attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    EXPECT_EQ(LIBFLAG_FHIDDEN, attr->wLibFlags & (LIBFLAG_FHIDDEN | LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL));
    lib_->ReleaseTLibAttr(attr);
    Bstr name, doc, helpFile;
    DWORD ctx = 1;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, name.put(), doc.put(), &ctx, helpFile.put()));
    EXPECT_EQ(L"KALVORAADMINUSERLib: KalvoraAdminUser 1.0 Type Library", name.str() + L": " + doc.str());
    EXPECT_EQ(0u, ctx);
    EXPECT_EQ(0u, helpFile.length());
    EXPECT_EQ(6u, lib_->GetTypeInfoCount());
}

TEST_F(TypeLib, CoclassesAndInterfacesMemberByMember)
{
    for (UINT c = 0; c < 3; ++c) {
        const Class& want = kClasses[c];
        const std::wstring itfName = L"I" + std::wstring(want.name);
        SCOPED_TRACE(Narrow(want.name));
        // The coclass comes first, then its interface.
        ComPtr<ITypeInfo> cls, disp;
        TYPEKIND kind = TKIND_MAX;
        INT implFlags = 0;
        ASSERT_EQ(S_OK, lib_->GetTypeInfo(2 * c, &cls));
        TYPEATTR attr = Attr(cls.Get());
        EXPECT_EQ(TKIND_COCLASS, attr.typekind);
        EXPECT_TRUE(IsEqualGUID(*want.clsid, attr.guid));
        EXPECT_EQ(TYPEFLAG_FCANCREATE | TYPEFLAG_FHIDDEN, attr.wTypeFlags);
        EXPECT_EQ(1, attr.cImplTypes);
        EXPECT_EQ(std::wstring(want.name) + L": " + want.name + L" Class", Doc(cls.Get()));
        EXPECT_EQ(S_OK, cls->GetImplTypeFlags(0, &implFlags));
        EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, implFlags);  // the default interface, not a source
        EXPECT_EQ(itfName, Name(Ref(cls.Get(), 0).Get()));

        // The dual interface, derived from IDispatch, read through its function-table view.
        ASSERT_EQ(S_OK, lib_->GetTypeInfoType(2 * c + 1, &kind));
        EXPECT_EQ(TKIND_DISPATCH, kind);
        ASSERT_EQ(S_OK, lib_->GetTypeInfo(2 * c + 1, &disp));
        ComPtr<ITypeInfo> itf = Ref(disp.Get(), static_cast<UINT>(-1));
        ASSERT_TRUE(itf);
        attr = Attr(itf.Get());
        EXPECT_EQ(TKIND_INTERFACE, attr.typekind);
        EXPECT_TRUE(IsEqualGUID(*want.iid, attr.guid));
        EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FHIDDEN,
                  attr.wTypeFlags);
        EXPECT_EQ(0, attr.cVars);
        EXPECT_EQ(itfName + L": " + itfName + L" Interface", Doc(itf.Get()));
        EXPECT_EQ(L"IDispatch", Name(Ref(itf.Get(), 0).Get()));
        EXPECT_EQ(want.members.size(), attr.cFuncs);
        for (WORD i = 0; i < attr.cFuncs && i < want.members.size(); ++i)
            EXPECT_EQ(want.members[i], Describe(itf.Get(), i));
    }
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
