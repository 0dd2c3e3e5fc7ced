// The registered type library, read back through oleaut32, member by member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

using namespace kalvora::test;

namespace {

// A parameter as the library must describe it. vt is the element type; for
// pointers `pointee` gives the pointed-to type (VT_PTR again for a double pointer).
struct Param {
    const wchar_t* name;
    VARTYPE vt;
    VARTYPE pointee;
    USHORT flags;
};

struct Member {
    MEMBERID id;
    INVOKEKIND kind;
    const wchar_t* name;
    std::vector<Param> params;
};

constexpr USHORT P_IN = PARAMFLAG_FIN;
constexpr USHORT P_OUTRET = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr USHORT P_NODIR = 0;

Member Get(MEMBERID id, const wchar_t* name, VARTYPE vt)
{
    return {id, INVOKE_PROPERTYGET, name, {{L"pVal", VT_PTR, vt, P_OUTRET}}};
}
Member Put(MEMBERID id, const wchar_t* name, VARTYPE vt)
{
    return {id, INVOKE_PROPERTYPUT, name, {{nullptr, vt, VT_EMPTY, P_IN}}};
}
Member Method(MEMBERID id, const wchar_t* name, std::vector<Param> params = {})
{
    return {id, INVOKE_FUNC, name, std::move(params)};
}

const std::vector<Member>& UserMembers()
{
    static const std::vector<Member> m = {
        Get(1, L"Computer", VT_BSTR),     Put(1, L"Computer", VT_BSTR),
        Get(2, L"MyComputer", VT_BSTR),   Put(2, L"MyComputer", VT_BSTR),
        Get(3, L"MyDesktop", VT_BSTR),    Put(3, L"MyDesktop", VT_BSTR),
        Get(4, L"MyDocuments", VT_BSTR),  Put(4, L"MyDocuments", VT_BSTR),
        Get(5, L"MyFavorites", VT_BSTR),  Put(5, L"MyFavorites", VT_BSTR),
        Get(6, L"MyNetwork", VT_BSTR),    Put(6, L"MyNetwork", VT_BSTR),
        Get(7, L"MyRecent", VT_BSTR),     Put(7, L"MyRecent", VT_BSTR),
        Get(8, L"Name", VT_BSTR),         Put(8, L"Name", VT_BSTR),
        Method(9, L"WriteToRegistry"),
        Get(10, L"SecurityLevel", VT_BSTR), Put(10, L"SecurityLevel", VT_BSTR),
        Get(11, L"IsNetwork", VT_I4),     Put(11, L"IsNetwork", VT_I4),
        Get(12, L"Mailbox", VT_BSTR),     Put(12, L"Mailbox", VT_BSTR),
        Method(13, L"PopulateMyComputer"),
    };
    return m;
}

const std::vector<Member>& EnumMembers()
{
    static const std::vector<Member> m = {
        Method(1, L"Reset"),
        Method(2, L"Add", {{L"pUser", VT_PTR, VT_USERDEFINED, P_IN}}),
        Method(3, L"New", {{L"ppUser", VT_PTR, VT_PTR, P_IN}}),
        Method(4, L"Remove", {{L"Name", VT_BSTR, VT_EMPTY, P_IN}}),
        Method(5, L"Item", {{L"Name", VT_BSTR, VT_EMPTY, P_IN}, {L"ppUser", VT_PTR, VT_PTR, P_OUTRET}}),
        Method(6, L"GetCount", {{L"count", VT_PTR, VT_I4, P_OUTRET}}),
        Get(7, L"NextUser", VT_BSTR),
        Method(8, L"AddUser",
               {{L"Name", VT_BSTR, VT_EMPTY, P_IN}, {L"Mailbox", VT_BSTR, VT_EMPTY, P_IN},
                {L"Computer", VT_BSTR, VT_EMPTY, P_IN}, {L"bNetwork", VT_I4, VT_EMPTY, P_IN}}),
        Method(9, L"GetDomainUserCount",
               {{L"bsGroup", VT_BSTR, VT_EMPTY, P_IN}, {L"pVal", VT_PTR, VT_I4, P_OUTRET}}),
        Method(10, L"GetDomainUserName",
               {{L"lIndex", VT_I4, VT_EMPTY, P_IN}, {L"pVal", VT_PTR, VT_BSTR, P_OUTRET}}),
        Method(12, L"CheckComputer",
               {{L"bsName", VT_BSTR, VT_EMPTY, P_IN}, {L"bsCompName", VT_BSTR, VT_EMPTY, P_IN},
                {L"Check", VT_PTR, VT_I4, P_OUTRET}}),
        Method(13, L"GetUserGroupCount", {{L"pVal", VT_PTR, VT_I4, P_OUTRET}}),
        Method(14, L"GetUserGroupName",
               {{L"lIndex", VT_I4, VT_EMPTY, P_IN}, {L"pVal", VT_PTR, VT_BSTR, P_OUTRET}}),
        Method(15, L"ImportFile",
               {{L"ImportFile", VT_BSTR, VT_EMPTY, P_IN}, {L"Check", VT_PTR, VT_I4, P_OUTRET}}),
        Method(16, L"ClearKeys"),
        Method(17, L"AddUserDB",
               {{L"user", VT_VARIANT, VT_EMPTY, P_IN}, {L"comp", VT_VARIANT, VT_EMPTY, P_IN},
                {L"myComp", VT_VARIANT, VT_EMPTY, P_IN}, {L"myDesk", VT_VARIANT, VT_EMPTY, P_IN},
                {L"myDoc", VT_VARIANT, VT_EMPTY, P_IN}, {L"myFav", VT_VARIANT, VT_EMPTY, P_IN},
                {L"networkEnable", VT_VARIANT, VT_EMPTY, P_IN}, {L"security", VT_VARIANT, VT_EMPTY, P_IN}}),
    };
    return m;
}

const std::vector<Member>& SharesMembers()
{
    static const std::vector<Member> m = {
        Method(1, L"PutShare",
               {{L"bsGroup", VT_BSTR, VT_EMPTY, P_IN}, {L"bsName", VT_BSTR, VT_EMPTY, P_IN},
                {L"bsPath", VT_BSTR, VT_EMPTY, P_IN}, {L"bsPass", VT_BSTR, VT_EMPTY, P_IN},
                {L"bsAgent", VT_BSTR, VT_EMPTY, P_IN}, {L"bsAppType", VT_BSTR, VT_EMPTY, P_IN},
                {L"error", VT_PTR, VT_I4, P_OUTRET}}),
        Method(2, L"RemoveShare",
               {{L"bsGroup", VT_BSTR, VT_EMPTY, P_NODIR}, {L"bsName", VT_BSTR, VT_EMPTY, P_NODIR}}),
        Method(4, L"GetShareName",
               {{L"lIndex", VT_I4, VT_EMPTY, P_IN}, {L"bsName", VT_PTR, VT_BSTR, P_OUTRET}}),
        Method(6, L"GetShareCount",
               {{L"bsGroup", VT_BSTR, VT_EMPTY, P_IN}, {L"lCount", VT_PTR, VT_I4, P_OUTRET}}),
        Method(7, L"GetGroupCount", {{L"lCount", VT_PTR, VT_I4, P_OUTRET}}),
        Method(9, L"GetRegGroupName",
               {{L"lIndex", VT_I4, VT_EMPTY, P_IN}, {L"bsShareName", VT_PTR, VT_BSTR, P_OUTRET}}),
        Method(10, L"GetRegGroupCount", {{L"lCount", VT_PTR, VT_I4, P_OUTRET}}),
        Method(11, L"GetGroupName",
               {{L"lIndex", VT_I4, VT_EMPTY, P_IN}, {L"bsName", VT_PTR, VT_BSTR, P_OUTRET}}),
    };
    return m;
}

std::wstring Doc(ITypeInfo* info, MEMBERID id, std::wstring* help = nullptr, DWORD* context = nullptr)
{
    Bstr name, doc;
    DWORD ctx = 0xFFFFFFFF;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, name.put(), doc.put(), &ctx, nullptr));
    if (help)
        *help = doc.str();
    if (context)
        *context = ctx;
    return name.str();
}

class TypeLib : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_KALVORAADMINUSERLib, 1, 0, 0, lib_.GetAddressOf()));
    }

    ComPtr<ITypeInfo> TypeAt(UINT index)
    {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, lib_->GetTypeInfo(index, info.GetAddressOf()));
        return info;
    }

    // The function-table view of a dual interface.
    ComPtr<ITypeInfo> VtableView(ITypeInfo* dispatchView)
    {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vt;
        EXPECT_EQ(S_OK, dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        EXPECT_EQ(S_OK, dispatchView->GetRefTypeInfo(ref, vt.GetAddressOf()));
        return vt;
    }

    void CheckCoclass(UINT index, const wchar_t* name, const CLSID& clsid, const wchar_t* help,
                      const wchar_t* itfName)
    {
        SCOPED_TRACE(Narrow(name));
        ComPtr<ITypeInfo> info = TypeAt(index);
        ASSERT_TRUE(info);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_COCLASS, attr->typekind);
        EXPECT_TRUE(IsEqualGUID(clsid, attr->guid));
        EXPECT_EQ(TYPEFLAG_FCANCREATE | TYPEFLAG_FHIDDEN, attr->wTypeFlags);
        EXPECT_EQ(1, attr->cImplTypes);
        info->ReleaseTypeAttr(attr);

        std::wstring doc;
        DWORD ctx = 1;
        EXPECT_EQ(name, Doc(info.Get(), MEMBERID_NIL, &doc, &ctx));
        EXPECT_EQ(help, doc);
        EXPECT_EQ(0u, ctx);

        INT implFlags = 0;
        EXPECT_EQ(S_OK, info->GetImplTypeFlags(0, &implFlags));
        EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, implFlags);  // default, not a source
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> itf;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, itf.GetAddressOf()));
        EXPECT_EQ(itfName, Doc(itf.Get(), MEMBERID_NIL));
    }

    void CheckInterface(UINT index, const wchar_t* name, const IID& iid, const wchar_t* help,
                        const std::vector<Member>& members)
    {
        SCOPED_TRACE(Narrow(name));
        ComPtr<ITypeInfo> dispatchView = TypeAt(index);
        ASSERT_TRUE(dispatchView);
        ComPtr<ITypeInfo> info = VtableView(dispatchView.Get());
        ASSERT_TRUE(info);

        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
        EXPECT_TRUE(IsEqualGUID(iid, attr->guid));
        EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FHIDDEN,
                  attr->wTypeFlags);
        EXPECT_EQ(members.size(), attr->cFuncs);
        EXPECT_EQ(0, attr->cVars);
        const WORD funcs = attr->cFuncs;
        info->ReleaseTypeAttr(attr);

        std::wstring doc;
        DWORD ctx = 1;
        EXPECT_EQ(name, Doc(info.Get(), MEMBERID_NIL, &doc, &ctx));
        EXPECT_EQ(help, doc);
        EXPECT_EQ(0u, ctx);

        // Derived from IDispatch of stdole2.
        HREFTYPE baseRef = 0;
        ComPtr<ITypeInfo> base;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &baseRef));
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(baseRef, base.GetAddressOf()));
        EXPECT_EQ(L"IDispatch", Doc(base.Get(), MEMBERID_NIL));
        ComPtr<ITypeLib> baseLib;
        UINT baseIndex = 0;
        ASSERT_EQ(S_OK, base->GetContainingTypeLib(baseLib.GetAddressOf(), &baseIndex));
        TLIBATTR* baseAttr = nullptr;
        ASSERT_EQ(S_OK, baseLib->GetLibAttr(&baseAttr));
        EXPECT_TRUE(IsEqualGUID(IID_StdOle, baseAttr->guid));
        EXPECT_EQ(2, baseAttr->wMajorVerNum);
        baseLib->ReleaseTLibAttr(baseAttr);

        for (WORD i = 0; i < funcs && i < members.size(); ++i) {
            const Member& want = members[i];
            SCOPED_TRACE("member " + std::to_string(i + 1) + " " + Narrow(want.name));
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &fd));
            EXPECT_EQ(want.id, fd->memid);
            EXPECT_EQ(want.kind, fd->invkind);
            EXPECT_EQ(FUNC_PUREVIRTUAL, fd->funckind);
            EXPECT_EQ(CC_STDCALL, fd->callconv);
            EXPECT_EQ(VT_HRESULT, fd->elemdescFunc.tdesc.vt);
            EXPECT_EQ(0, fd->wFuncFlags);
            EXPECT_EQ(0, fd->cParamsOpt);
            EXPECT_EQ((7 + i) * 4, fd->oVft);  // after IUnknown and IDispatch
            ASSERT_EQ(want.params.size(), static_cast<size_t>(fd->cParams));
            for (size_t p = 0; p < want.params.size(); ++p) {
                const ELEMDESC& e = fd->lprgelemdescParam[p];
                SCOPED_TRACE("param " + std::to_string(p));
                EXPECT_EQ(want.params[p].vt, e.tdesc.vt);
                if (e.tdesc.vt == VT_PTR)
                    EXPECT_EQ(want.params[p].pointee, e.tdesc.lptdesc->vt);
                EXPECT_EQ(want.params[p].flags, e.paramdesc.wParamFlags);
            }
            // Member name and help string: "property X" or "method X".
            std::wstring help;
            DWORD helpCtx = 1;
            BSTR nameOnly = nullptr;
            // GetDocumentation finds the first function of a DISPID, which
            // for a property is its get: the name is shared, so is the help.
            EXPECT_EQ(S_OK, info->GetDocumentation(fd->memid, &nameOnly, nullptr, nullptr, nullptr));
            EXPECT_EQ(std::wstring(want.name), nameOnly ? nameOnly : L"");
            SysFreeString(nameOnly);
            Doc(info.Get(), fd->memid, &help, &helpCtx);
            std::wstring expectHelp =
                std::wstring(want.kind == INVOKE_FUNC ? L"method " : L"property ") + want.name;
            EXPECT_EQ(expectHelp, help);
            EXPECT_EQ(0u, helpCtx);
            // Parameter names, for members whose DISPID has one function only
            // (a property's names are those of its get).
            if (want.kind == INVOKE_FUNC || want.kind == INVOKE_PROPERTYGET) {
                BSTR names[12] = {};
                UINT count = 0;
                EXPECT_EQ(S_OK, info->GetNames(fd->memid, names, 12, &count));
                ASSERT_EQ(want.params.size() + 1, count);
                EXPECT_EQ(std::wstring(want.name), names[0]);
                for (size_t p = 0; p < want.params.size(); ++p)
                    EXPECT_EQ(std::wstring(want.params[p].name), names[p + 1] ? names[p + 1] : L"");
                for (UINT k = 0; k < count; ++k)
                    SysFreeString(names[k]);
            }
            info->ReleaseFuncDesc(fd);
        }
    }

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
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    EXPECT_TRUE(attr->wLibFlags & LIBFLAG_FHIDDEN);
    EXPECT_FALSE(attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL));
    lib_->ReleaseTLibAttr(attr);

    Bstr name, doc, helpFile;
    DWORD ctx = 1;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, name.put(), doc.put(), &ctx, helpFile.put()));
    EXPECT_EQ(L"KALVORAADMINUSERLib", name.str());
    EXPECT_EQ(L"KalvoraAdminUser 1.0 Type Library", doc.str());
    EXPECT_EQ(0u, ctx);
    EXPECT_TRUE(helpFile.isNull() || helpFile.length() == 0);
}

TEST_F(TypeLib, EntriesInOrder)
{
    ASSERT_EQ(6u, lib_->GetTypeInfoCount());
    const TYPEKIND kinds[] = {TKIND_COCLASS, TKIND_DISPATCH, TKIND_COCLASS,
                              TKIND_DISPATCH, TKIND_COCLASS, TKIND_DISPATCH};
    const wchar_t* names[] = {L"KalvoraUser",   L"IKalvoraUser",   L"EnumKalvoraUser",
                              L"IEnumKalvoraUser", L"KalvoraShares", L"IKalvoraShares"};
    for (UINT i = 0; i < 6; ++i) {
        TYPEKIND kind;
        ASSERT_EQ(S_OK, lib_->GetTypeInfoType(i, &kind));
        EXPECT_EQ(kinds[i], kind) << i;
        EXPECT_EQ(names[i], Doc(TypeAt(i).Get(), MEMBERID_NIL)) << i;
    }
}

TEST_F(TypeLib, Coclasses)
{
    CheckCoclass(0, L"KalvoraUser", CLSID_KalvoraUser, L"KalvoraUser Class", L"IKalvoraUser");
    CheckCoclass(2, L"EnumKalvoraUser", CLSID_EnumKalvoraUser, L"EnumKalvoraUser Class",
                 L"IEnumKalvoraUser");
    CheckCoclass(4, L"KalvoraShares", CLSID_KalvoraShares, L"KalvoraShares Class", L"IKalvoraShares");
}

TEST_F(TypeLib, KalvoraUserInterface)
{
    CheckInterface(1, L"IKalvoraUser", IID_IKalvoraUser, L"IKalvoraUser Interface", UserMembers());
}

TEST_F(TypeLib, EnumKalvoraUserInterface)
{
    CheckInterface(3, L"IEnumKalvoraUser", IID_IEnumKalvoraUser, L"IEnumKalvoraUser Interface",
                   EnumMembers());
}

TEST_F(TypeLib, KalvoraSharesInterface)
{
    CheckInterface(5, L"IKalvoraShares", IID_IKalvoraShares, L"IKalvoraShares Interface",
                   SharesMembers());
}

TEST_F(TypeLib, ItemReturnsTheUserInterface)
{
    ComPtr<ITypeInfo> info = VtableView(TypeAt(3).Get());
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(S_OK, info->GetFuncDesc(4, &fd));  // Item
    const TYPEDESC* t = &fd->lprgelemdescParam[1].tdesc;
    ASSERT_EQ(VT_PTR, t->vt);
    ASSERT_EQ(VT_PTR, t->lptdesc->vt);
    ASSERT_EQ(VT_USERDEFINED, t->lptdesc->lptdesc->vt);
    ComPtr<ITypeInfo> target;
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(t->lptdesc->lptdesc->hreftype, target.GetAddressOf()));
    EXPECT_EQ(L"IKalvoraUser", Doc(target.Get(), MEMBERID_NIL));
    info->ReleaseFuncDesc(fd);
}

TEST_F(TypeLib, NoSourceInterfaces)
{
    for (UINT i : {0u, 2u, 4u}) {
        INT flags = 0;
        ASSERT_EQ(S_OK, TypeAt(i)->GetImplTypeFlags(0, &flags));
        EXPECT_FALSE(flags & IMPLTYPEFLAG_FSOURCE) << i;
    }
}

}  // namespace
