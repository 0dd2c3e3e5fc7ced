// The user object: its string properties, null against empty, pointer checks.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora;
using namespace kalvora::test;
using namespace std::string_literals;

namespace {

// The checked string properties, then Mailbox, which checks nothing.
const Texts kProperties = {L"Computer",    L"MyComputer", L"MyDesktop", L"MyDocuments",   L"MyFavorites",
                           L"MyNetwork",   L"MyRecent",   L"Name",      L"SecurityLevel", L"Mailbox"};

class User : public ModuleTest {
protected:
    // Every property as "Name=value", IsNetwork last.
    std::wstring All()
    {
        Texts all;
        for (const std::wstring& p : kProperties)
            all.push_back(p + L"=" + Call(user_.Get(), p));
        return Join(all, L",") + L",IsNetwork=" + Call(user_.Get(), L"IsNetwork");
    }
    // Each property holding `value`, Mailbox `mailbox` (a null one reads as empty through late binding).
    static std::wstring With(const std::wstring& value, const std::wstring& mailbox)
    {
        Texts all;
        for (const std::wstring& p : kProperties)
            all.push_back(p + L"=" + (p == L"Mailbox" ? mailbox : value));
        return Join(all, L",") + L",IsNetwork=0";
    }
    ComPtr<IKalvoraUser> user_ = Create<IKalvoraUser>(CLSID_KalvoraUser);
};

TEST_F(User, StringsStartEmptyAndTakeCopiesUpToTheirFirstNul)
{
    EXPECT_EQ(With(L"", L""), All());
    Texts own;  // each keeps its own value
    for (const std::wstring& p : kProperties)
        EXPECT_EQ(L"", Call(user_.Get(), own.emplace_back(p + L"=" + p)));
    EXPECT_EQ(Join(own, L",") + L",IsNetwork=0", All());
    for (const std::wstring& p : kProperties)
        EXPECT_EQ(L"", Call(user_.Get(), p + L"=ab\0cd"s));
    EXPECT_EQ(With(L"ab", L"ab"), All());
    // Only Mailbox takes a null string; the others refuse it and keep their value.
    for (const std::wstring& p : kProperties)
        EXPECT_EQ(p == L"Mailbox" ? L"" : L"!E_INVALIDARG", Call(user_.Get(), p + L"=<null>"));
    EXPECT_EQ(With(L"ab", L""), All());
    // Through the function table: each get returns a new string, and only
    // Mailbox starts null and takes null.
    BStr a, b, c;
    ComPtr<IKalvoraUser> fresh = Create<IKalvoraUser>(CLSID_KalvoraUser);
    ASSERT_EQ(S_OK, user_->get_Name(a.Put()));
    ASSERT_EQ(S_OK, user_->get_Name(b.Put()));
    EXPECT_NE(a.Get(), b.Get());
    using U = IKalvoraUser;
    for (auto get : {&U::get_Computer, &U::get_MyComputer, &U::get_MyDesktop, &U::get_MyDocuments, &U::get_MyFavorites,
                     &U::get_MyNetwork, &U::get_MyRecent, &U::get_Name, &U::get_SecurityLevel})
        EXPECT_TRUE(SUCCEEDED((fresh.Get()->*get)(b.Put())) && b.Get() && !b.Length());
    EXPECT_EQ(std::pair(S_OK, S_OK), std::pair(fresh->get_Mailbox(a.Put()), user_->get_Mailbox(c.Put())));
    EXPECT_TRUE(!a.Get() && !c.Get());
}

TEST_F(User, CheckedAccessorsRefuseBadPointersAndKeepTheirValues)
{
    // An unreadable string, a small integer; an unwritable slot for a get, and null.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    auto* slot = static_cast<BSTR*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    *slot = reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A));
    DWORD old = 0;
    ASSERT_TRUE(page && slot && VirtualProtect(slot, 4096, PAGE_READONLY, &old));
    ASSERT_EQ(S_OK, user_->put_SecurityLevel(B(L"kept").Get()));
    for (BSTR bad : {static_cast<BSTR>(page), reinterpret_cast<BSTR>(INT_PTR(16))})
        EXPECT_EQ(E_INVALIDARG, user_->put_SecurityLevel(bad));
    EXPECT_EQ(std::pair(E_INVALIDARG, E_INVALIDARG), std::pair(user_->get_Name(slot), user_->get_MyRecent(nullptr)));
    EXPECT_EQ(reinterpret_cast<BSTR>(static_cast<INT_PTR>(0x5A5A5A5A)), *slot);
    EXPECT_EQ(L"kept", Call(user_.Get(), L"SecurityLevel"));
    VirtualFree(page, 0, MEM_RELEASE);
    VirtualFree(slot, 0, MEM_RELEASE);
}

TEST_F(User, WriteToRegistryFailsAndPopulateWithoutComputerChangesNothing)
{
    const std::wstring users = L"SOFTWARE\\Vantrope\\ORVE\\TAV\\Users";
    const Texts before = Names(HKEY_LOCAL_MACHINE, users, false);
    for (const std::wstring& p : kProperties)
        Call(user_.Get(), p + L"=value");
    ExpectCalls(user_.Get(), {{L"Computer=", L""}, {L"IsNetwork=-7", L""}, {L"WriteToRegistry", L"!E_FAIL"},
                              {L"PopulateMyComputer", L""}});
    EXPECT_EQ(before, Names(HKEY_LOCAL_MACHINE, users, false));
    std::wstring expected = With(L"value", L"value");
    EXPECT_EQ(expected.replace(0, 14, L"Computer=").replace(expected.size() - 1, 1, L"-7"), All());
}

}  // namespace
