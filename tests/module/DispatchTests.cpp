// Late binding: the names, DISPIDs and parameters that IDispatch resolves,
// read back through each object's own type information, and its answers.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

// Each interface's members in function-table order, as "Name DISPID kind
// parameters": i an input, r the return value, ? without direction.
const struct Interface {
    const CLSID* clsid;
    std::wstring members;
} kInterfaces[] = {
    {&CLSID_KalvoraUser,
     L"Computer 1 get r,Computer 1 put i,MyComputer 2 get r,MyComputer 2 put i,MyDesktop 3 get r,MyDesktop 3 put i,"
     L"MyDocuments 4 get r,MyDocuments 4 put i,MyFavorites 5 get r,MyFavorites 5 put i,MyNetwork 6 get r,"
     L"MyNetwork 6 put i,MyRecent 7 get r,MyRecent 7 put i,Name 8 get r,Name 8 put i,WriteToRegistry 9 call ,"
     L"SecurityLevel 10 get r,SecurityLevel 10 put i,IsNetwork 11 get r,IsNetwork 11 put i,Mailbox 12 get r,"
     L"Mailbox 12 put i,PopulateMyComputer 13 call "},
    {&CLSID_EnumKalvoraUser,
     L"Reset 1 call ,Add 2 call i,New 3 call i,Remove 4 call i,Item 5 call ir,GetCount 6 call r,NextUser 7 get r,"
     L"AddUser 8 call iiii,GetDomainUserCount 9 call ir,GetDomainUserName 10 call ir,CheckComputer 12 call iir,"
     L"GetUserGroupCount 13 call r,GetUserGroupName 14 call ir,ImportFile 15 call ir,ClearKeys 16 call ,"
     L"AddUserDB 17 call iiiiiiii"},
    {&CLSID_KalvoraShares,
     L"PutShare 1 call iiiiiir,RemoveShare 2 call ??,GetShareName 4 call ir,GetShareCount 6 call ir,"
     L"GetGroupCount 7 call r,GetRegGroupName 9 call ir,GetRegGroupCount 10 call r,GetGroupName 11 call ir"},
};

// Function `index` of a dual interface's function-table view, as in the table;
// "?" past the last one.
std::wstring Describe(ITypeInfo* info, UINT index)
{
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(index, &fd)))
        return L"?";
    BStr name;
    info->GetDocumentation(fd->memid, name.Put(), nullptr, nullptr, nullptr);
    std::wstring s = Str(name.Get()) + L" " + std::to_wstring(fd->memid) +
                     (fd->invkind == INVOKE_PROPERTYGET ? L" get " : fd->invkind == INVOKE_FUNC ? L" call " : L" put ");
    for (SHORT p = 0; p < fd->cParams; ++p) {
        const USHORT flags = fd->lprgelemdescParam[p].paramdesc.wParamFlags;
        s += flags == PARAMFLAG_FIN ? L'i' : flags == (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL) ? L'r' : flags ? L'!' : L'?';
    }
    // An HRESULT, and the slot in the function table: after IUnknown's and IDispatch's seven.
    if (fd->elemdescFunc.tdesc.vt != VT_HRESULT || fd->oVft != SHORT((7 + index) * sizeof(void*)))
        s += L" (not an HRESULT in its slot)";
    info->ReleaseFuncDesc(fd);
    return s;
}

TEST(Dispatch, MembersResolveToTheirDispidsAndParameters)
{
    for (const Interface& itf : kInterfaces) {
        ComPtr<IDispatch> disp = Create<IDispatch>(*itf.clsid);
        ComPtr<ITypeInfo> info, ref;
        HREFTYPE href = 0;  // the dual interface's function-table view
        ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, &info));
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href));
        ASSERT_EQ(S_OK, info->GetRefTypeInfo(href, &ref));
        const Texts expected = Split(itf.members, L',');
        Texts members;
        for (UINT i = 0; i <= expected.size(); ++i)
            members.push_back(Describe(ref.Get(), i));
        EXPECT_EQ(Join(expected, L",") + L",?", Join(members, L","));
        // Each name resolves to its DISPID through the object, in any letter case.
        for (const std::wstring& m : expected) {
            std::wstring name = m.substr(0, m.find(L' ')), lower = name;
            CharLowerW(&lower[0]);
            for (LPOLESTR asked : {&name[0], &lower[0]}) {
                DISPID id = -99;
                EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, &asked, 1, 0, &id)) << asked;
                EXPECT_EQ(std::stol(m.substr(name.size() + 1)), id) << asked;
            }
        }
    }
}

TEST(Dispatch, UnknownNamesAndMembersAreRefusedByAutomation)
{
    auto user = Create<IDispatch>(CLSID_KalvoraUser), coll = Create<IDispatch>(CLSID_EnumKalvoraUser),
         shares = Create<IDispatch>(CLSID_KalvoraShares);
    // Several names go to the type information, which knows the parameter names too.
    LPOLESTR addUser[] = {const_cast<LPOLESTR>(L"adduser"), const_cast<LPOLESTR>(L"bNetwork")};
    DISPID ids[2] = {-99, -99};
    ASSERT_EQ(S_OK, coll->GetIDsOfNames(IID_IKalvoraShares, addUser, 2, 0, ids));
    EXPECT_EQ(std::pair(8L, 3L), std::pair(ids[0], ids[1]));
    // The gaps among the shares' DISPIDs (a put of the read-only NextUser: tests/badinput).
    for (DISPID id : {3, 5, 8}) {
        DISPPARAMS none{};
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, shares->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr)) << id;
    }
    UINT count = 0;
    EXPECT_EQ(std::pair(S_OK, 1u), std::pair(user->GetTypeInfoCount(&count), count));
    ComPtr<ITypeInfo> first, seventh;
    ASSERT_EQ(S_OK, user->GetTypeInfo(0, 0, &first));
    ASSERT_EQ(S_OK, Create<IDispatch>(CLSID_KalvoraUser)->GetTypeInfo(7, 0, &seventh));
    EXPECT_EQ(first.Get(), seventh.Get());  // one per interface, whatever the index
}

}  // namespace
