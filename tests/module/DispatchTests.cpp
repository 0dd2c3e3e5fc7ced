// Late binding beyond single names (which every call of the bad-input tables
// resolves): several names at once, the gaps among DISPIDs, and the type
// information an object hands out.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

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
