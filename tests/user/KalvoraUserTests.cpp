// The user object: its string properties, null against empty, pointer checks.
#include <gtest/gtest.h>

#include "support/FaultHook.h"
#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;

namespace {

class User : public ModuleTest {
protected:
    ComPtr<IKalvoraUser> user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
};

// Through the function table (late binding shows a null string as an empty
// one): each get returns a new string; only Mailbox starts null and takes null.
// (Strings of any length, NUL characters and null strings through late
// binding are cases of tests/badinput.)
TEST_F(User, EachGetReturnsANewStringAndOnlyMailboxHoldsNull)
{
    BStr a, b, c;
    ComPtr<IKalvoraUser> fresh = Create<IKalvoraUser>(CLSID_KalvoraUser);
    ASSERT_EQ(S_OK, user_->get_Name(a.Put()));
    ASSERT_EQ(S_OK, user_->get_Name(b.Put()));
    EXPECT_NE(a.Get(), b.Get());
    using U = IKalvoraUser;
    for (auto get : {&U::get_Computer, &U::get_MyComputer, &U::get_MyDesktop, &U::get_MyDocuments, &U::get_MyFavorites,
                     &U::get_MyNetwork, &U::get_MyRecent, &U::get_Name, &U::get_SecurityLevel})
        EXPECT_TRUE(SUCCEEDED((fresh.Get()->*get)(b.Put())) && b.Get() && !b.Length());
    ASSERT_EQ(S_OK, user_->put_Mailbox(B(L"x").Get()));
    ASSERT_EQ(S_OK, user_->put_Mailbox(nullptr));
    EXPECT_EQ(std::pair(S_OK, S_OK), std::pair(fresh->get_Mailbox(a.Put()), user_->get_Mailbox(c.Put())));
    EXPECT_TRUE(!a.Get() && !c.Get());
}

TEST_F(User, CheckedAccessorsRefuseBadPointersAndKeepTheirValues)
{
    // An unreadable string, a small integer; an unwritable slot for a get (null: tests/badinput).
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    auto* slot = static_cast<BSTR*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    *slot = reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A));
    DWORD old = 0;
    ASSERT_TRUE(page && slot && VirtualProtect(slot, 4096, PAGE_READONLY, &old));
    ASSERT_EQ(S_OK, user_->put_SecurityLevel(B(L"kept").Get()));
    for (BSTR bad : {static_cast<BSTR>(page), reinterpret_cast<BSTR>(INT_PTR(16))})
        EXPECT_EQ(E_INVALIDARG, user_->put_SecurityLevel(bad));
    EXPECT_EQ(E_INVALIDARG, user_->get_Name(slot));
    EXPECT_EQ(reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A)), *slot);
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
    const wchar_t* const folders[] = {L"MyDesktop", L"MyDocuments", L"MyFavorites"};
    // Runs the resolution with the n-th allocation failing (0: none); whether
    // it came to that allocation, and which folders it left as they were.
    auto resolve = [&](LONG n, std::vector<int>& unresolved) {
        ComPtr<IKalvoraUser> user = Create<IKalvoraUser>(CLSID_KalvoraUser);
        for (const wchar_t* put : {L"Name=u", L"Computer=PC1", L"MyDesktop=old", L"MyDocuments=old", L"MyFavorites=old"})
            EXPECT_EQ(L"", Call(user.Get(), put));
        failCall(kFaultAlloc, n, 0);
        EXPECT_EQ(S_OK, user->PopulateMyComputer()) << "allocation " << n;
        const bool reached = n > 0 && calls(kFaultAlloc, nullptr) >= n;
        failCall(kFaultAlloc, 0, 0);
        for (int i = 0; i < 3; ++i)
            if (Call(user.Get(), folders[i]) == L"old")
                unresolved.push_back(i);
        return reached;
    };
    // What the platform makes once (the providers loaded, a first exception)
    // is made before the handles are counted.
    leaks_.IgnoreHandles();
    std::vector<int> unresolved;
    resolve(1, unresolved);
    const size_t handles = ProcessHandles();
    bool leftAlone[3] = {};
    LONG n = 1;
    for (; unresolved.clear(), resolve(n, unresolved); ++n) {
        EXPECT_TRUE(unresolved.size() <= 1 || unresolved.size() == 3) << "allocation " << n << " failing left "
                                                                       << unresolved.size() << " folders unresolved";
        if (unresolved.size() == 1)
            leftAlone[unresolved[0]] = true;
    }
    EXPECT_TRUE(unresolved.empty()) << "without a failure every folder resolves";
    EXPECT_TRUE(leftAlone[0] && leftAlone[1] && leftAlone[2]) << "each folder was once the only one left, in " << n << " runs";
    EXPECT_EQ(handles, ProcessHandles()) << "handles leaked";
}

}  // namespace
