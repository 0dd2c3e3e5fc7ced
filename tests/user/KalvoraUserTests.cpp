// The user object: its string properties, null against empty, pointer checks.
#include <gtest/gtest.h>

#include <set>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

class User : public ModuleTest {
protected:
    ComPtr<IKalvoraUser> user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
};

TEST_F(User, CheckedAccessorsRefuseBadPointersAndKeepTheirValues)
{
    // An unreadable string, a small integer; for a get, a read-only slot,
    // which a write would crash on (null pointers: tests/badinput).
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    auto* slot = static_cast<BSTR*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY));
    ASSERT_TRUE(page && slot);
    ASSERT_EQ(S_OK, user_->put_SecurityLevel(B(L"kept").Get()));
    for (BSTR bad : {static_cast<BSTR>(page), reinterpret_cast<BSTR>(INT_PTR(16))})
        EXPECT_EQ(E_INVALIDARG, user_->put_SecurityLevel(bad));
    EXPECT_EQ(E_INVALIDARG, user_->get_Name(slot));
    EXPECT_EQ(L"kept", Call(user_.Get(), L"SecurityLevel"));
    VirtualFree(page, 0, MEM_RELEASE);
    VirtualFree(slot, 0, MEM_RELEASE);
}

// Out of memory while one folder resolves leaves that folder as it was and
// does not stop the ones after it; a failure before the first leaves all
// three. The n-th allocation fails, for every n the resolution makes.
TEST_F(User, EachProfileFolderResolvesEvenWhenAnotherRunsOutOfMemory)
{
    Reachable(L"PC1");
    Folders(L"PC1", {L"C$/winnt", L"C$/Documents and Settings/u.CORP"});
    Domain(L"corp.example.com", L"CORP");
    const HMODULE module = GetModuleHandleW(L"KalvoraAdminUser.dll");
    const auto failCall = Export<FailCallFn>(module, "KalvoraTestFailCall");
    const auto calls = Export<CallsFn>(module, "KalvoraTestCalls");
    ASSERT_TRUE(failCall && calls);
    // Resolves with the n-th allocation failing: for MyDesktop, MyDocuments and
    // MyFavorites, whether it left the folder as it was ("1") or not; after
    // "last " when the resolution made fewer allocations.
    auto resolve = [&](LONG n) {
        ComPtr<IKalvoraUser> user = Create<IKalvoraUser>(CLSID_KalvoraUser);
        for (const wchar_t* put : {L"Name=u", L"Computer=PC1", L"MyDesktop=old", L"MyDocuments=old", L"MyFavorites=old"})
            EXPECT_EQ(L"", Call(user.Get(), put));
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, user->PopulateMyComputer()) << "allocation " << n;
        std::wstring left = calls(kFaultAlloc, nullptr) >= n ? L"" : L"last ";
        failCall(kFaultAlloc, 0, 0);
        for (const wchar_t* folder : {L"MyDesktop", L"MyDocuments", L"MyFavorites"})
            left += Call(user.Get(), folder) == L"old" ? L'1' : L'0';
        return left;
    };
    // The handles of each failure: the scenario "user" of tests/load.
    leaks_.IgnoreHandles();
    std::set<std::wstring> seen;
    std::wstring left;
    for (LONG n = 1; (left = resolve(n)).size() == 3; ++n)
        seen.insert(left);
    EXPECT_EQ(L"last 000", left) << "without a failure every folder resolves";
    // A failure leaves no folder (one passed over), all three (before the
    // first), or one; and each folder is once the only one left.
    seen.erase(L"000");
    seen.erase(L"111");
    EXPECT_EQ((std::set<std::wstring>{L"001", L"010", L"100"}), seen);
}

}  // namespace
